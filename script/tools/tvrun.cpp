// tvrun: runs script files in one engine, for the script test suites and
// the benchmarks.
//
//   tvrun [--flags N] [--timeout MS] [--via-text] [--general] FILE...
//
// The files run in order, each named by its path (UTF-8 unless it starts
// with a byte-order mark). A global print(...) writes its arguments' texts,
// blank-separated, and a newline; gc() collects and objectCount() counts the
// engine's objects. A compile or uncaught error writes
// "FILE:LINE: MESSAGE (CODE)" to standard error and exits 1; a bad option
// or a file that cannot be read exits 2. With --via-text each file is
// compiled, written as compiled text, read back from it and run, so every
// suite also tests the compiled-script format. With debug flag 64 (collect
// at every trigger) each sweep's survivors are checked, and a breach aborts.
// With --general the engine takes only its general paths: no cache of the
// operations fills, no in-place fast path answers (docs/engine-caches.md).
// The engine's stack budget is the room left on the thread's stack (up to
// TVContext::kMaxStackRoom), so recursion runs as deep as the stack allows.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/Encoder.h"
#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/Function.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"

using namespace LxScript;
using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void writeText(FILE* out, const String& text) {
    const char* bytes = text.encode(LxCore::utf8Encoder());
    std::fputs(bytes ? bytes : "", out);
}

// print(...): the texts of its arguments, blank-separated, and a newline.
class PrintFunction : public Function {
public:
    explicit PrintFunction(ObjectSpace& space) : Function(space, DataPool::get().add("print")) {}

    void call(Object*, const LxCore::BasicArray& args, Variant& result) override {
        String line;
        for (u32 i = 0; i < args.length(); i++) {
            if (i)
                line += ' ';
            const Variant* value = args.get(i);
            line += value ? value->toString() : String("undefined");
            if (getSpace().getEngine().getError().getCode() != 0)
                return;
        }
        line += '\n';
        writeText(stdout, line);
        std::fflush(stdout);
        result.clear();
    }
};

// The collector's test hooks: gc() collects now, objectCount() gives the
// engine's count of live objects.
class CollectorFunction : public Function {
public:
    CollectorFunction(ObjectSpace& space, const char* name, bool collect)
        : Function(space, DataPool::get().add(name)), collect(collect) {}

    void call(Object*, const LxCore::BasicArray&, Variant& result) override {
        auto& engine = static_cast<RealEngine&>(getSpace().getEngine());
        if (collect) {
            engine.collectGarbage();
            result.clear();
        } else {
            result.setNumber(engine.getObjects().getObjectCount());
        }
    }

private:
    bool collect;
};

int usage(const char* problem) {
    std::fprintf(stderr, "tvrun: %s\nusage: tvrun [--flags N] [--timeout MS] [--via-text] [--general] FILE...\n", problem);
    return kExitUsage;
}

bool parseNumber(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 0);
    return end && end != text && *end == 0;
}

// The file's text: its byte-order mark decides the encoding, else UTF-8.
bool readScript(const char* path, String& out) {
    LxCore::File file(LxCore::FileSpec(String(path, LxCore::utf8Encoder()), true));
    if (file.open(String("r")) != 0)
        return false;
    if (file.getEncoding().isEmpty())
        file.setEncoding(String("UTF-8"));
    const LxCore::i32 status = file.read(-1, out);
    file.close();
    return status == 0;
}

// "FILE:LINE: MESSAGE (CODE)" with the line counted from 1. Made after the
// engine has gone: a run that ended out of memory leaves nothing for the
// report's own texts while its objects still stand.
void reportError(const LxCore::Error& error, const char* path) {
    RuntimeError info;
    info.set(error);
    const LxCore::ErrorRecord* record = error.getRecord();
    String file = record && !record->fileName.isEmpty() ? record->fileName : String(path, LxCore::utf8Encoder());
    String text;
    text.sprintf(":%d: ", int(info.line + 1));
    String line = file;
    line += text;
    line += info.message;
    text.sprintf(" (%d)\n", int(info.code));
    line += text;
    writeText(stderr, line);
}

// The last word when even that report finds no memory: plain bytes, no heap.
void reportNoMemory(const char* path) {
    std::fprintf(stderr, "%s: Out of memory (%d)\n", path, int(Err::kOutOfMemory));
}

// The script's compiled text in place of its source; false when it
// cannot be compiled or written (the engine holds the error).
bool toCompiledText(RealEngine& engine, String& source, const String& name) {
    Script* script = engine.compile(source, &name);
    if (!script)
        return false;
    String compiled;
    const LxCore::i32 code = script->writeBinary(compiled);
    script->release();
    if (code != 0) {
        engine.setError(code);
        return false;
    }
    source = compiled;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long flags = 0;
    long timeout = 0;
    bool viaText = false;
    bool general = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--flags") == 0 || std::strcmp(arg, "--timeout") == 0) {
            long value;
            if (i + 1 >= argc || !parseNumber(argv[i + 1], value) || value < 0)
                return usage("option needs a number");
            (arg[2] == 'f' ? flags : timeout) = value;
            i++;
        } else if (std::strcmp(arg, "--via-text") == 0) {
            viaText = true;
        } else if (std::strcmp(arg, "--general") == 0) {
            general = true;
        } else if (std::strncmp(arg, "--", 2) == 0) {
            return usage("unknown option");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty())
        return usage("no script file");

    InitTerm::init();
    int exitCode = 0;
    const char* failedPath = nullptr;
    try {
        LxCore::Error failure;
        Engine* created = Engine::createEngine(0);
        auto* engine = static_cast<RealEngine*>(created);
        if (!engine) {
            std::fputs("tvrun: no engine\n", stderr);
            InitTerm::exit();
            return kExitFailed;
        }
        std::unique_ptr<RealEngine> owned(engine);
        engine->setTimeout(LxCore::i32(timeout));
        engine->initialize();
        // Scripts run on this thread: all of its stack is theirs, less the
        // reserve the engine keeps.
        if (const LxCore::i32 room = TVContext::stackRoom())
            engine->setStackBudget(room);
        // After the set-up, which resets the debug flags. Collecting at every
        // trigger is the collector's test: each sweep's survivors are checked.
        engine->setDebugFlags(u32(flags));
        engine->setGeneralPaths(general);
        ObjectSpace::checkSweeps((flags & RealEngine::kCollectAtEveryTrigger) != 0);
        if (Object* global = engine->getGlobalObject()) {
            ObjectRef print = ObjectRef::adopt(new PrintFunction(engine->getObjects()));
            global->put(DataPool::get().add("print"), Variant(print.get()), 0);
            for (bool collect : {true, false}) {
                const char* name = collect ? "gc" : "objectCount";
                ObjectRef f = ObjectRef::adopt(new CollectorFunction(engine->getObjects(), name, collect));
                global->put(DataPool::get().add(name), Variant(f.get()), 0);
            }
        }
        for (const char* path : files) {
            String source;
            if (!readScript(path, source)) {
                std::fprintf(stderr, "tvrun: cannot read %s\n", path);
                exitCode = kExitUsage;
                break;
            }
            const String name(path, LxCore::utf8Encoder());
            Variant result;
            if ((viaText && !toCompiledText(*engine, source, name)) ||
                !engine->eval(source, &result, LxCore::i32(timeout), 0, nullptr, &name)) {
                failure = engine->getError();
                failedPath = path;
                exitCode = kExitFailed;
                break;
            }
        }
        owned.reset();
        if (failedPath)
            reportError(failure, failedPath);
    } catch (const std::bad_alloc&) {
        reportNoMemory(failedPath ? failedPath : files.front());
        exitCode = kExitFailed;
    }
    InitTerm::exit();
    return exitCode;
}
