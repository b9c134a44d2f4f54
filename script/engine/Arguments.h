// The argument arrays calls are made with, and the script-visible arguments
// object of an activation, whose indexed properties alias its parameters.
#pragma once
#include "core/Array.h"
#include "script/engine/Object.h"

namespace LxScript {

class Workspace;

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

// The arguments object: element i below the argument count reads and writes
// the workspace's parameter i. It keeps its workspace alive (both counts).
class ArgumentObject : public Object {
public:
    explicit ArgumentObject(Workspace& workspace);
    ~ArgumentObject() override;

    void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) override;
    Variant* getLocal(u32 slot) override;
    void setLocal(u32 slot, const Variant& value) override;
    void clear() override;
    void markReferences() override;
    Property* findOwnProperty(DataPoolId symbol, u32 flags) override;

private:
    Workspace* workspace;
};

}  // namespace LxScript
