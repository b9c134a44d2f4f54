// Reading and printing speed of number text: many short decimals (the
// common case), long ones that need every digit, and one huge digit run.
//     number_text_bench [count=1000000] [hugeMegabytes=100]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/InitTerm.h"
#include "core/NumberText.h"

using namespace LxCore;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads every text count / texts.size() times; the sum keeps the work.
void readAll(const char* what, const std::string* texts, size_t n, long count) {
    String strings[16];
    for (size_t i = 0; i < n; i++) strings[i] = String(texts[i].c_str());
    f64 sum = 0;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; i++) sum += parseNumber(strings[size_t(i) % n], kParseWholeText);
    const double seconds = secondsSince(start);
    std::printf("%-28s %ld reads: %.3f s, %.0f ns each (sum %g)\n", what, count, seconds,
                seconds * 1e9 / double(count), sum);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long hugeMegabytes = argc > 2 ? std::atol(argv[2]) : 100;
    InitTerm::init();
    int failures = 0;

    const std::string shortTexts[] = {"0", "1", "42", "3.14", "0.5", "1e3", "-7.25", "123456.789",
                                      "0.001", "2.5e-3", "65535", "1.5", "100", "9.99", "12", "0.1"};
    readAll("short decimals", shortTexts, std::size(shortTexts), count);
    const std::string longTexts[] = {"200000000000000016.1", "3.141592653589793238462643383279",
                                     "1.2345678901234567890123e300", "2.2250738585072014e-308",
                                     "0.1000000000000000055511151231257827"};
    readAll("long decimals", longTexts, std::size(longTexts), count / 10);

    {
        f64 sum = 0;
        String out;
        auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; i++) {
            formatNumber(out, f64(i % 1000) + 0.125, 10, 2, kFormatFixed);
            sum += out.length();
        }
        const double seconds = secondsSince(start);
        std::printf("%-28s %ld prints: %.3f s, %.0f ns each (%g units)\n", "toFixed(2)", count, seconds,
                    seconds * 1e9 / double(count), sum);
    }

    {
        std::u16string digits(size_t(hugeMegabytes) * 1000000, u'1');
        digits += u"e-" + std::u16string(u"99999999999999999999");
        String text(reinterpret_cast<const unit*>(digits.data()), i32(digits.size()));
        auto start = std::chrono::steady_clock::now();
        const f64 value = parseNumber(text, kParseWholeText);
        const double seconds = secondsSince(start);
        std::printf("%ld million digits, huge exponent: %.3f s, value %g\n", hugeMegabytes, seconds, value);
        failures += value != 0;
    }
    InitTerm::exit();
    return failures ? 1 : 0;
}
