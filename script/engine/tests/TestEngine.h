// A stand-in for the concrete engine: answers the operations the base class
// leaves open from its own fields and records what it was asked.
#pragma once
#include <string>
#include <vector>

#include "core/String.h"
#include "script/engine/Engine.h"
#include "script/engine/Object.h"

namespace LxScript {

class TestAPI : public API {
public:
    TestAPI(Engine& engine, i32 code) : API(engine, code) {}
};

class TestEngine : public Engine {
public:
    std::vector<FrameInfo> frames;      // innermost first
    std::vector<std::u16string> invalidated;
    int collections = 0;
    int runtimeErrors = 0;
    void (*onCollect)(TestEngine& self) = nullptr;
    ObjectSpace objects{*this};         // the script objects of this engine

    ~TestEngine() override { delete parser; }

    void collectGarbage() override {
        collections++;
        if (onCollect)
            onCollect(*this);
    }
    API* getAPI(i32 code) override {
        if (code != API::kParser)
            return nullptr;
        if (!parser)
            parser = new TestAPI(*this, code);
        return parser;
    }
    void invalidateClass(const LxCore::String& name) override {
        invalidated.emplace_back(name.chars(), size_t(name.length()));
    }
    void onRuntimeError() override { runtimeErrors++; }

    // Frames as a script run would show them.
    void addFrame(i32 line, const char* source, const char* scriptName) {
        FrameInfo frame;
        frame.line = line;
        frame.source = source;
        frame.scriptName = scriptName;
        frames.push_back(frame);
    }

    static Engine* make() { return new TestEngine; }

protected:
    bool getFrameInfo(i32 depth, FrameInfo& out) const override {
        if (depth < 0 || size_t(depth) >= frames.size())
            return false;
        out = frames[size_t(depth)];
        return true;
    }

private:
    TestAPI* parser = nullptr;
};

}  // namespace LxScript
