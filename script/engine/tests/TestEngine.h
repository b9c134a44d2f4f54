// A stand-in for the concrete engine: answers the operations the base class
// leaves open from its own fields and records what it was asked.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "core/String.h"
#include "core/platform/NativeText.h"
#include "script/engine/Engine.h"
#include "script/engine/Object.h"
#include "script/frontend/ParserAPI.h"

namespace LxScript {

// What the concrete engine keeps for the front end (include path from
// "JSINCLUDE", "//@" directives on) is kept here; getAPI gives the real
// parser and colouring interfaces over it.
class TestEngine : public Engine, public FrontEndOptions {
public:
    std::vector<FrameInfo> frames;      // innermost first
    std::vector<std::u16string> invalidated;
    int collections = 0;
    int runtimeErrors = 0;
    void (*onCollect)(TestEngine& self) = nullptr;
    ObjectSpace objects{*this};         // the script objects of this engine

    LxCore::String includePath = LxCore::fromNative(std::getenv("JSINCLUDE"));
    bool preprocessorOn = true;

    ~TestEngine() override {
        delete parser;
        delete hilite;
    }

    void collectGarbage() override {
        collections++;
        if (onCollect)
            onCollect(*this);
    }
    API* getAPI(i32 code) override {
        if (code == API::kParser) {
            if (!parser)
                parser = new ParserAPI(*this, *this);
            return parser;
        }
        if (code == API::kHilite) {
            if (!hilite)
                hilite = new HiliteAPI(*this, *this);
            return hilite;
        }
        return nullptr;
    }
    void invalidateClass(const LxCore::String& name) override {
        invalidated.emplace_back(name.chars(), size_t(name.length()));
    }
    void onRuntimeError() override { runtimeErrors++; }

    const LxCore::String& getIncludePath() const override { return includePath; }
    void setIncludePath(const LxCore::String& path) override { includePath = path; }
    bool isPreprocessorOn() const override { return preprocessorOn; }
    void setPreprocessorOn(bool on) override { preprocessorOn = on; }

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
    ParserAPI* parser = nullptr;
    HiliteAPI* hilite = nullptr;
};

}  // namespace LxScript
