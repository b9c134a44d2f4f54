// Measures the regular-expression matcher on one core: a plain search, a
// global search over words, greedy and lazy scans that find nothing, and a
// pattern that backtracks without end until its step budget stops it.
//
//   regexp_bench [rounds]        (default 5; the best round is reported)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "core/InitTerm.h"
#include "core/RegExp.h"
#include "core/String.h"

using namespace LxCore;
using Clock = std::chrono::steady_clock;

namespace {

// Lower-case words of 2 to 9 letters from a fixed sequence, without the
// letters given, an address "name@host.org" after every 500th word.
String words(i32 length, const char* without, bool addresses) {
    String out;
    out.allocate(length + 64);
    out.clear();
    u32 seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    i32 count = 0;
    while (out.length() < length) {
        const i32 letters = 2 + i32(next() % 8);
        for (i32 k = 0; k < letters; ++k) {
            char c;
            do c = char('a' + next() % 26);
            while (std::strchr(without, c));
            out += c;
        }
        out += ' ';
        if (addresses && ++count % 500 == 0) out += "name@host.org ";
    }
    out.setLength(length);
    return out;
}

String repeated(char c, i32 n) {
    String out;
    for (i32 k = 0; k < n; ++k) out += c;
    return out;
}

// Runs the body `rounds` times; the fastest round in milliseconds.
double best(int rounds, const std::function<void()>& body) {
    double fastest = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const Clock::time_point start = Clock::now();
        body();
        fastest = std::min(fastest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return fastest;
}

// Every match from the start on, as a global search walks them.
i32 countMatches(const RegExp& re, const String& text, i32& status) {
    CapturePair* pairs = re.allocCaptures();
    i32 found = 0;
    i32 at = 0;
    status = 0;
    for (;;) {
        bool matched = false;
        status = execRegExp(re, text, at, pairs, matched);
        if (status || !matched) break;
        ++found;
        at = pairs[0].end > pairs[0].start ? pairs[0].end : pairs[0].end + 1;
        if (at >= text.length()) break;
    }
    Heap::free(pairs);
    return found;
}

void report(const char* name, const char* target, double ms, i32 found, i32 status) {
    std::printf("%-44s %9.2f ms   target %-8s matches %d%s\n", name, ms, target, found,
                status ? "  (stopped: 27)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    InitTerm::init();
    {
        const String plain = words(1000000, "", false);
        const String mail = words(1000000, "", true);
        const String noX = words(4000, "x", false);
        i32 found = 0, status = 0;

        const RegExp needle = compileRegExp(String("needle"), 0);
        double ms = best(rounds, [&] { found = countMatches(needle, plain, status); });
        report("/needle/, 10^6 units, no match", "< 50", ms, found, status);

        const RegExp address = compileRegExp(String("\\w+@\\w+\\.\\w+"), kRegExpGlobal);
        ms = best(rounds, [&] { found = countMatches(address, mail, status); });
        report("/\\w+@\\w+\\.\\w+/g, 10^6 units of words", "< 200", ms, found, status);

        const RegExp greedy = compileRegExp(String(".*x"), 0);
        ms = best(rounds, [&] { found = countMatches(greedy, noX, status); });
        report("/.*x/, 4,000 units without x", "< 200", ms, found, status);

        const RegExp lazy = compileRegExp(String(".*?x"), 0);
        ms = best(rounds, [&] { found = countMatches(lazy, noX, status); });
        report("/.*?x/, 4,000 units without x", "< 200", ms, found, status);

        const RegExp runaway = compileRegExp(String("(a+)+b"), 0);
        const String as = repeated('a', 40);
        ms = best(1, [&] { found = countMatches(runaway, as, status); });
        report("/(a+)+b/, 40 units of a", "< 2000", ms, found, status);
    }
    InitTerm::exit();
    return 0;
}
