// What the object, dispatcher and function tests share: the engine library
// started with a test engine, symbols by text, fresh objects, and native
// functions made from handlers.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Function.h"
#include "script/engine/Object.h"
#include "script/engine/Property.h"
#include "script/engine/tests/TestEngine.h"

namespace LxScript {

inline DataPoolId sym(const char* text) { return DataPool::get().add(text); }

inline std::string text(DataPoolId id) {
    LxCore::String s = DataPool::get().getSymbol(id);
    return std::string(s.chars(), s.chars() + s.length());
}

inline std::string text(const Variant& v) {
    LxCore::String s = v.toString();
    return std::string(s.chars(), s.chars() + s.length());
}

// The names of a listing, joined by spaces.
inline std::string names(const LxCore::SimpleArray& ids) {
    std::string out;
    for (i32 i = 0; i < ids.getCount(); i++) {
        if (i)
            out += ' ';
        out += text(DataPoolId(ids.get(i)));
    }
    return out;
}

// The engine library started, one test engine and a dispatcher whose rows
// tests add: handlers become function objects through it.
class ObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        natives.reset(new Dispatcher("Test natives"));
        engine.reset(new TestRealEngine);
    }
    void TearDown() override {
        engine.reset();
        natives.reset();
        InitTerm::exit();
    }

    ObjectSpace& space() { return engine->getObjects(); }
    i32 errorCode() { return engine->getError().getCode(); }

    ObjectRef newObject() { return ObjectRef::adopt(new Object(space())); }

    // A native function object calling handler; argc is its length.
    ObjectRef native(const char* name, Handler handler, i32 argc = 0, i32 flags = kMethod) {
        PropEntry rows[] = {{name, argc, flags, handler, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};
        natives->registerProperties(0, rows, "TestNatives");
        const DataPoolId cls = sym("TestNatives");
        const PropInfo* row = natives->findProperty(cls, sym(name), nullptr, false, false);
        return ObjectRef::adopt(new DispatcherFunction(space(), natives.get(), *row, cls));
    }

    std::unique_ptr<Dispatcher> natives;
    std::unique_ptr<TestRealEngine> engine;
};

}  // namespace LxScript
