// The argument arrays calls are made with, and the script-visible arguments
// object of an activation, whose indexed properties alias its parameters.
#pragma once
#include "core/Array.h"
#include "script/engine/Object.h"

namespace LxScript {

// A fixed number of Variants, all undefined at first; the runner evaluates
// a call's arguments (or an array literal's elements) into it. A few live in
// the array itself, so that most calls allocate nothing.
class TVVariantArray : public LxCore::BasicArray {
public:
    static constexpr u32 kInline = 6;

    explicit TVVariantArray(u32 count);     // throws std::bad_alloc
    ~TVVariantArray() override;
    TVVariantArray(const TVVariantArray&) = delete;
    TVVariantArray& operator=(const TVVariantArray&) = delete;

    u32 length() const override { return count; }
    bool has(u32 i) const override { return i < count; }
    const Variant* get(u32 i) const override { return i < count ? &values[i] : nullptr; }
    Variant& at(u32 i) { return values[i]; }

private:
    Variant* values;
    u32 count;
    alignas(Variant) unsigned char room[kInline * sizeof(Variant)];
};

}  // namespace LxScript
