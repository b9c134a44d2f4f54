// Speed of a full collection over a large reachable heap: a linked list, an
// array of small objects, a tree of closures and its workspaces, each of
// 10^6 objects held from the global object. A program, not a test: run it
// on a release build and compare with docs/performance.md.
//
//     tavrel_gc_bench [objects [rounds]]   (default 1000000 objects, 5 rounds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/RealEngine.h"

using namespace LxScript;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kLimitSeconds = 0.5;      // one full collection of 10^6 live objects

struct Shape {
    const char* label;
    const char* build;   // %ld: the object count; leaves the heap on global `keep`
};

// Each builds about n reachable objects.
const Shape kShapes[] = {
    {"linked list", "var keep = null; for (var i = 0; i < %ld; i++) keep = {next: keep};"},
    {"array of objects", "var keep = []; for (var i = 0; i < %ld; i++) keep[i] = {v: i};"},
    {"closures over their workspaces",
     "var keep = []; function make(i) { return function () { return i; }; }"
     " for (var i = 0; i < %ld / 2; i++) keep[i] = make(i);"},
};

bool run(RealEngine& engine, const std::string& source) {
    Variant result;
    if (!engine.eval(LxCore::String(source.c_str()), &result, 0, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "gc_bench: the script failed (%d)\n", engine.getError().getCode());
        return false;
    }
    return true;
}

double timeCollection(RealEngine& engine) {
    const auto start = Clock::now();
    engine.collectGarbage();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool measure(const Shape& shape, long objects, int rounds) {
    Engine* base = Engine::createEngine(0);
    auto* engine = dynamic_cast<RealEngine*>(base);
    if (!engine)
        return false;
    char source[512];
    std::snprintf(source, sizeof source, shape.build, objects);
    bool ok = run(*engine, source);
    if (ok) {
        const u32 live = engine->getObjects().getObjectCount();
        std::vector<double> times;
        for (int r = 0; r < rounds; r++)
            times.push_back(timeCollection(*engine));
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        const bool kept = engine->getObjects().getObjectCount() == live;
        std::printf("%-32s %8u objects  best %6.1f ms  median %6.1f ms  (limit %3.0f ms) %s\n", shape.label,
                    live, times.front() * 1e3, median * 1e3, kLimitSeconds * 1e3,
                    !kept ? "LOST OBJECTS" : median <= kLimitSeconds ? "ok" : "SLOW");
        ok = kept;
    }
    delete base;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const long objects = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1000000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    InitTerm::init();
    bool ok = true;
    for (const Shape& shape : kShapes)
        ok = measure(shape, objects, rounds) && ok;
    InitTerm::exit();
    return ok ? 0 : 1;
}
