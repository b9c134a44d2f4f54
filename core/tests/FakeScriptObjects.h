// Script objects for core tests: plain records behind the script-object
// hook table, installed for the life of a FakeScriptObjects.
#pragma once
#include <cstddef>
#include <functional>
#include <ostream>

#include "core/ScriptObjectHooks.h"
#include "core/String.h"
#include "core/Variant.h"

namespace LxCore {

struct FakeObject {
    u32 id = 0;                       // ahead of the counts: they sit past the start
    ScriptObjectCounts counts{1, 0};  // the maker holds the first reference
    u32 classID = 0x20000090;
    String className = "Object";
    bool valid = true;
    Root* nativeData = nullptr;       // not owned: tests keep what they attach
    const FileSpec* fileSpec = nullptr;
    Variant internalValue;
    Variant defaultValue;             // undefined: the object gives none
    int finalized = 0;
    std::function<void()> onFinalize;

    LxScript::Object& handle() { return *reinterpret_cast<LxScript::Object*>(this); }
    static FakeObject& of(LxScript::Object& object) { return reinterpret_cast<FakeObject&>(object); }
};

// The counts are reached through the table's counts() call, or where the
// table's countsOffset says, as the engine gives them.
enum class CountsReached { kThroughCall, kAtOffset };

inline const char* nameOf(CountsReached reached) {
    return reached == CountsReached::kAtOffset ? "AtOffset" : "ThroughCall";
}

// How failures of tests with this parameter show it.
inline void PrintTo(CountsReached reached, std::ostream* out) { *out << nameOf(reached); }

class FakeScriptObjects {
public:
    explicit FakeScriptObjects(CountsReached reached = CountsReached::kThroughCall) {
        if (reached == CountsReached::kAtOffset) table.countsOffset = countsOffset();
        setScriptObjectHooks(&table);
    }
    ~FakeScriptObjects() { setScriptObjectHooks(nullptr); }
    FakeScriptObjects(const FakeScriptObjects&) = delete;
    FakeScriptObjects& operator=(const FakeScriptObjects&) = delete;

private:
    using Object = LxScript::Object;
    static FakeObject& fake(Object& o) { return FakeObject::of(o); }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static constexpr u32 countsOffset() { return u32(offsetof(FakeObject, counts)); }
#pragma GCC diagnostic pop

    ScriptObjectHooks table = {
        [](Object& o) -> ScriptObjectCounts& { return fake(o).counts; },
        [](Object& o) {
            FakeObject& f = fake(o);
            ++f.finalized;
            if (f.onFinalize) f.onFinalize();
        },
        [](Object& o) { return fake(o).id; },
        [](Object& o) { return fake(o).classID; },
        [](Object& o) { return fake(o).valid; },
        [](Object& o, String& out) { out = fake(o).className; },
        [](Object& o, Variant& out, i32) {
            out = fake(o).defaultValue;
            return out.getType() != Variant::kUndefined;
        },
        [](Object& o) -> const Variant* { return &fake(o).internalValue; },
        [](Object&) -> LiveObject* { return nullptr; },
        [](Object& o) { return fake(o).nativeData; },
        [](Object& o, Root* data) { fake(o).nativeData = data; },
        [](Object& o) { return fake(o).fileSpec; },
        0,  // countsOffset: the constructor's choice
    };
};

}  // namespace LxCore
