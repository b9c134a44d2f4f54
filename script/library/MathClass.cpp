// Math: each function converts its arguments to numbers (the rows' argument
// conversion turns objects into primitives first) and answers a number.
#include "script/library/MathClass.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>

namespace LxScript {

namespace {

constexpr f64 kPi = 3.141592653589793;
constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInfinity = std::numeric_limits<f64>::infinity();

f64 number(const Arguments& args, u32 i) { return args.arg(i).toNumber(); }

void answer(Arguments& args, f64 value) { args.result->setNumber(value); }

// ---------------------------------------------------------------------------
// The random generator: xoshiro256**, one state for the process.

// The kernel's random bytes: the seed needs nothing more, and asking the
// kernel spares every run the mapping of a cryptography library.
bool systemRandomBytes(void* out, size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += got;
        size -= size_t(got);
    }
    return true;
}

class RandomSource {
public:
    f64 next() {
        std::lock_guard<std::mutex> guard(lock);
        if (!seeded)
            seed();
        return f64(step() >> 11) * 0x1p-53;
    }

private:
    std::mutex lock;
    uint64_t state[4] = {};
    bool seeded = false;

    static uint64_t rotate(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    uint64_t step() {
        const uint64_t result = rotate(state[1] * 5, 7) * 9;
        const uint64_t t = state[1] << 17;
        state[2] ^= state[0];
        state[3] ^= state[1];
        state[1] ^= state[2];
        state[0] ^= state[3];
        state[2] ^= t;
        state[3] = rotate(state[3], 45);
        return result;
    }

    // Without the system's source the clock and an address serve, stretched
    // by splitmix64; an all-zero state would only ever give zeros.
    void seed() {
        if (!systemRandomBytes(state, sizeof state)) {
            uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         uint64_t(reinterpret_cast<uintptr_t>(this));
            for (uint64_t& word : state) {
                uint64_t z = (x += 0x9E3779B97F4A7C15ull);
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
                word = z ^ (z >> 31);
            }
        }
        if ((state[0] | state[1] | state[2] | state[3]) == 0)
            state[0] = 1;
        seeded = true;
    }
};

RandomSource& randomSource() {
    static RandomSource source;
    return source;
}

// An infinity is no integer, odd or even.
bool isOddInteger(f64 y) { return std::isfinite(y) && std::trunc(y) == y && std::fmod(y, 2.0) != 0; }

// ---------------------------------------------------------------------------
// Handlers

void mathAbs(Arguments& a) { answer(a, std::fabs(number(a, 0))); }

void mathAcos(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x < -1 || x > 1 ? kNaN : std::acos(x));
}

void mathAsin(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x == 0 ? x : (x < -1 || x > 1 ? kNaN : std::asin(x)));
}

void mathAtan(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x == 0 ? x : std::atan(x));
}

void mathAtan2(Arguments& a) {
    const f64 y = number(a, 0), x = number(a, 1);
    f64 r;
    if (std::isnan(y) || std::isnan(x))
        r = kNaN;
    else if (x >= 0 && y == 0 && std::signbit(y))
        r = std::signbit(x) ? -kPi : -0.0;
    else if (std::isinf(y) && std::isinf(x))
        r = std::copysign(x > 0 ? kPi / 4 : 3 * kPi / 4, y);
    else if (y == 0 && x == 0 && std::signbit(x))
        r = kPi;
    else {
        r = std::atan2(y, x);
        if (std::isinf(x) && y < 0 && r == 0)
            r = -0.0;
    }
    answer(a, r);
}

void mathCeil(Arguments& a) { answer(a, std::ceil(number(a, 0))); }
void mathCos(Arguments& a) { answer(a, std::cos(number(a, 0))); }
void mathFloor(Arguments& a) { answer(a, std::floor(number(a, 0))); }
void mathSin(Arguments& a) { answer(a, std::sin(number(a, 0))); }

void mathExp(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x == -kInfinity ? 0 : std::exp(x));
}

void mathLog(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x < 0 ? kNaN : (x == 0 ? -kInfinity : std::log(x)));
}

void mathSqrt(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x < 0 ? kNaN : std::sqrt(x));
}

void mathTan(Arguments& a) {
    const f64 x = number(a, 0);
    answer(a, x == 0 ? x : std::tan(x));
}

void mathPowHandler(Arguments& a) { answer(a, mathPow(number(a, 0), number(a, 1))); }
void mathRandomHandler(Arguments& a) { answer(a, mathRandom()); }
void mathRoundHandler(Arguments& a) { answer(a, mathRound(number(a, 0))); }

// min and max: NaN wins at once; of two zeros min takes -0 and max +0.
void minOrMax(Arguments& a, bool isMax) {
    const u32 n = a.count();
    if (n == 0)
        return answer(a, isMax ? -kInfinity : kInfinity);
    f64 result = number(a, 0);
    for (u32 i = 1; i < n && !std::isnan(result); i++) {
        const f64 x = number(a, i);
        if (std::isnan(x))
            result = x;
        else if (x == 0 && result == 0 && std::signbit(x) != std::signbit(result))
            result = isMax ? 0.0 : -0.0;
        else if (isMax ? x > result : result > x)
            result = x;
    }
    answer(a, result);
}

void mathMax(Arguments& a) { minOrMax(a, true); }
void mathMin(Arguments& a) { minOrMax(a, false); }

const PropEntry kMathTable[] = {
    {"abs", 1, kStaticMethod | kArgsToNumber, mathAbs, "number,n:number"},
    {"acos", 1, kStaticMethod | kArgsToNumber, mathAcos, "number,n:number"},
    {"asin", 1, kStaticMethod | kArgsToNumber, mathAsin, "number,n:number"},
    {"atan", 1, kStaticMethod | kArgsToNumber, mathAtan, "number,n:number"},
    {"atan2", 2, kStaticMethod | kArgsToNumber, mathAtan2, "number,y:number,x:number"},
    {"ceil", 1, kStaticMethod | kArgsToNumber, mathCeil, "number,n:number"},
    {"cos", 1, kStaticMethod | kArgsToNumber, mathCos, "number,n:number"},
    {"exp", 1, kStaticMethod | kArgsToNumber, mathExp, "number,n:number"},
    {"floor", 1, kStaticMethod | kArgsToNumber, mathFloor, "number,n:number"},
    {"log", 1, kStaticMethod | kArgsToNumber, mathLog, "number,n:number"},
    {"max", 2, kStaticMethod | kArgsToNumber, mathMax, "number,a:number,b:number"},
    {"min", 2, kStaticMethod | kArgsToNumber, mathMin, "number,y:number,x:number"},
    {"pow", 2, kStaticMethod | kArgsToNumber, mathPowHandler, "number,x:number,y:number"},
    {"random", 0, kStaticMethod | kArgsToNumber, mathRandomHandler, "number"},
    {"round", 1, kStaticMethod | kArgsToNumber, mathRoundHandler, "number,n:number"},
    {"sin", 1, kStaticMethod | kArgsToNumber, mathSin, "number,n:number"},
    {"sqrt", 1, kStaticMethod | kArgsToNumber, mathSqrt, "number,n:number"},
    {"tan", 1, kStaticMethod | kArgsToNumber, mathTan, "number,n:number"},
    {"E", 'E', kStatic | kReadOnlyValue, nullptr, "number"},
    {"LN10", '1', kStatic | kReadOnlyValue, nullptr, "number"},
    {"LN2", '2', kStatic | kReadOnlyValue, nullptr, "number"},
    {"LOG2E", 'g', kStatic | kReadOnlyValue, nullptr, "number"},
    {"LOG10E", 'G', kStatic | kReadOnlyValue, nullptr, "number"},
    {"PI", 'p', kStatic | kReadOnlyValue, nullptr, "number"},
    {"SQRT1_2", 'q', kStatic | kReadOnlyValue, nullptr, "number"},
    {"SQRT2", 'Q', kStatic | kReadOnlyValue, nullptr, "number"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsMathClass::jsMathClass() : Dispatcher("JavaScript") {
    addClass("Math");
    registerProperties(0, kMathTable);
}

void jsMathClass::get(Arguments& args) {
    f64 value;
    switch (args.mode) {
        case 'E': value = 2.718281828459045; break;
        case '1': value = 2.302585092994046; break;
        case '2': value = 0.6931471805599453; break;
        case 'g': value = 1.4426950408889634; break;
        case 'G': value = 0.4342944819032518; break;
        case 'p': value = kPi; break;
        case 'q': value = 0.7071067811865476; break;
        case 'Q': value = 1.4142135623730951; break;
        default: return;
    }
    args.result->setNumber(value);
}

// floor(x + 0.5) would round 0.49999999999999994 up (the sum rounds to 1)
// and odd integers above 2^52 too; x - floor(x) is exact.
f64 mathRound(f64 x) {
    if (!std::isfinite(x) || x == 0 || std::fabs(x) >= 0x1p52)
        return x;
    f64 r = std::floor(x);
    if (x - r >= 0.5)
        r += 1;
    return std::copysign(std::fabs(r), x);
}

// Oddness is read from the double itself: beyond 2^53 every double is even,
// and no 32-bit cut is involved.
f64 mathPow(f64 x, f64 y) {
    if (std::isnan(y))
        return kNaN;
    if (y == 0)
        return 1;
    if (std::isnan(x))
        return kNaN;
    if (std::fabs(x) == 1 && std::isinf(y))
        return kNaN;
    if (x == 0 && std::signbit(x)) {
        if (isOddInteger(y))
            return y > 0 ? -0.0 : -kInfinity;
        return y < 0 ? kInfinity : 0.0;
    }
    if (x == 0)
        return y < 0 ? kInfinity : 0.0;
    return std::pow(x, y);
}

f64 mathRandom() { return randomSource().next(); }

Dispatcher* newMathClass(const char*) { return new jsMathClass; }

}  // namespace LxScript
