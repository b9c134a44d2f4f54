// A stand-in for the concrete engine: answers the operations the base class
// leaves open from its own fields and records what it was asked.
#pragma once
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/String.h"
#include "core/platform/NativeText.h"
#include "script/engine/Engine.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
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

// The engine core with the factories a test needs: a plain object for the
// global object, arrays of plain objects; no compiler, no regular expressions.
class TestRealEngine : public RealEngine {
public:
    static Engine* make() { return new TestRealEngine; }

    void newArray(const LxCore::Array& elements, Variant& result) override {
        ObjectRef a = ObjectRef::adopt(new Object(getObjects()));
        a->setClassID(Sym::kArray);
        for (u32 i = 0; i < elements.length(); i++)
            if (const Variant* v = elements.get(i))
                a->put(DataPool::get().add(i), *v, 0);
        result.setObject(a.get());
    }
    Object* newWorkspace() override { return new Object(getObjects()); }
    void newFunctionObject(Variant& result, void*, bool) override { result.clear(); }
    Script* compileSource(const LxCore::String&, const LxCore::String*, const LxCore::String*) override {
        return nullptr;
    }
    LxCore::RegExp* newRegExp(const Variant&) override { return nullptr; }

    // As if a script ran: a frame with no function is current.
    void pretendRunning(bool running) {
        if (running && !frame) {
            frame.reset(new StandInFrame(*this));
            currentFrame = frame.get();
        } else if (!running && frame) {
            currentFrame = frame->previous;
            frame.reset();
        }
    }

private:
    struct StandInFrame : RuntimeEnv {
        explicit StandInFrame(RealEngine& engine) : RuntimeEnv(engine, nullptr, nullptr, nullptr) {}
        ScopeInfo* getScopeInfo() const override { return nullptr; }
    };
    std::unique_ptr<StandInFrame> frame;
};

}  // namespace LxScript
