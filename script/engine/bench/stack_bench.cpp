// Native stack each script-level call takes: the deepest recursion that
// ends normally is found at two stack budgets, and the budgets' difference
// divided by the depths' difference is the bytes one level costs. A program,
// not a test: run it on a release build and compare with docs/performance.md.
//
//     tavrel_stack_bench
#include <cstdio>
#include <string>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/RealEngine.h"

using namespace LxScript;

namespace {

constexpr i32 kSmallBudget = 256 * 1024;
constexpr i32 kLargeBudget = 1024 * 1024;

struct Shape {
    const char* label;
    const char* define;     // defines depth(n), which recurses n levels
};

const Shape kShapes[] = {
    {"f(n - 1) + 1", "function depth(n) { return n ? depth(n - 1) + 1 : 0; }"},
    {"method of this", "var o = {m: function (n) { return n ? this.m(n - 1) + 1 : 0; }};"
                       " function depth(n) { return o.m(n); }"},
    {"new in a loop body", "function C(n) { for (var i = 0; i < 1; i++) if (n) new C(n - 1); }"
                           " function depth(n) { new C(n); return n; }"},
    {"through Function.call", "function f(n) { return n ? f.call(null, n - 1) + 1 : 0; }"
                              " function depth(n) { return f(n); }"},
};

// Whether depth(n) returns without an error.
bool reaches(RealEngine& engine, long n) {
    char source[64];
    std::snprintf(source, sizeof source, "depth(%ld)", n);
    Variant result;
    const bool ok = engine.eval(LxCore::String(source), &result, 0, 0, nullptr, nullptr);
    engine.clearError();
    return ok;
}

// The deepest level that returns: bisection between one that does and one
// that does not.
long deepest(RealEngine& engine) {
    long good = 0;
    long bad = 1;
    while (reaches(engine, bad) && bad < 10000000) {
        good = bad;
        bad *= 2;
    }
    while (bad - good > 1) {
        const long mid = good + (bad - good) / 2;
        (reaches(engine, mid) ? good : bad) = mid;
    }
    return good;
}

bool measure(const Shape& shape) {
    Engine* base = Engine::createEngine(0);
    auto* engine = dynamic_cast<RealEngine*>(base);
    if (!engine)
        return false;
    engine->initialize();
    Variant result;
    bool ok = engine->eval(LxCore::String(shape.define), &result, 0, 0, nullptr, nullptr);
    if (ok) {
        engine->setStackBudget(kSmallBudget);
        const long small = deepest(*engine);
        engine->setStackBudget(kLargeBudget);
        const long large = deepest(*engine);
        const long bytes = large > small ? (kLargeBudget - kSmallBudget) / (large - small) : 0;
        std::printf("%-24s %6ld levels in %4d KB, %6ld in %4d KB: %5ld bytes a level\n", shape.label, small,
                    kSmallBudget / 1024, large, kLargeBudget / 1024, bytes);
    } else {
        std::fprintf(stderr, "stack_bench: %s: the script failed (%d)\n", shape.label, engine->getError().getCode());
    }
    delete base;
    return ok;
}

}  // namespace

int main() {
    InitTerm::init();
    bool ok = true;
    for (const Shape& shape : kShapes)
        ok = measure(shape) && ok;
    InitTerm::exit();
    return ok ? 0 : 1;
}
