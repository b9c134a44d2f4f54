#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/InitTerm.h"
#include "core/Localizer.h"
#include "core/platform/NativeText.h"
#include "script/library/MathClass.h"
#include "script/library/NumberFormat.h"
#include "script/library/tests/FixedLocale.h"

namespace LxScript {
namespace {

using LxCore::String;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class NumbersTest : public ::testing::Test {
protected:
    void SetUp() override { LxCore::InitTerm::init(); }
    void TearDown() override { LxCore::InitTerm::exit(); }

    static std::string text(const String& s) {
        std::string out;
        LxCore::toNative(s, out);
        return out;
    }
};

struct Row {
    double value;
    int digits;
    const char* text;
    int error;
};

TEST_F(NumbersTest, Precision) {
    const Row rows[] = {
        {-123.456, 4, "-123.5", 0},     // one digit short before, "-123"
        {0, 3, "0.00", 0},
        {0.1, 2, "0.10", 0},            // log10 of a power of ten below 1
        {99.99, 3, "100", 0},           // the carry makes a third digit
        {0.000999, 1, "0.001", 0},      // a carry below 1
        {123.456, 2, "1.2e+2", 0},
        {0.00123, 2, "0.0012", 0},
        {-5.5, 3, "-5.50", 0},
        {1.234e-7, 2, "1.2e-7", 0},     // below 1e-6: exponential
        {1e21, 3, "1.00e+21", 0},
        {kNaN, 3, "NaN", 0},
        {kInf, 3, "Infinity", 0},
        {-kInf, 3, "-Infinity", 0},
        {1.5, 0, "2", 41},              // clamped to 1, raised
    };
    for (const Row& r : rows) {
        String out;
        const int error = formatPrecision(r.value, r.digits, out);
        EXPECT_EQ(text(out), r.text) << r.value << " " << r.digits;
        EXPECT_EQ(error, r.error) << r.value << " " << r.digits;
    }
    // Above 100 the count is 100: one digit before the point, 99 after.
    String out;
    EXPECT_EQ(formatPrecision(1.5, 101, out), 41);
    EXPECT_EQ(text(out), "1.5" + std::string(98, '0'));
}

TEST_F(NumbersTest, FixedAndExponential) {
    const Row fixed[] = {
        {1.005, -1, "0", 0}, {1.5, 0, "2", 0}, {1.25, 3, "1.250", 0}, {-0.5, 1, "-0.5", 0},
        {123.456, 100, nullptr, 0}, {1.5, 101, nullptr, 41},
    };
    for (const Row& r : fixed) {
        String out("untouched");
        EXPECT_EQ(formatFixed(r.value, r.digits, out), r.error) << r.digits;
        if (r.text) {
            EXPECT_EQ(text(out), r.text) << r.value << " " << r.digits;
        } else if (r.error) {
            EXPECT_EQ(text(out), "untouched");
        }
    }
    const Row exponential[] = {
        {1500, 1, "1.5e+3", 0}, {1.5, 2, "1.50e+0", 0}, {123456, -1, "1e+5", 41}, {0.5, 101, nullptr, 41},
    };
    for (const Row& r : exponential) {
        String out;
        EXPECT_EQ(formatExponential(r.value, r.digits, out), r.error) << r.digits;
        if (r.text) {
            EXPECT_EQ(text(out), r.text) << r.value << " " << r.digits;
        }
        EXPECT_FALSE(out.isEmpty());
    }
}

TEST_F(NumbersTest, DecimalPointFollowsTheLocale) {
    const struct {
        const char* locale;
        char point;
    } rows[] = {{"fr_FR", ','}, {"de_CH", ','}, {"en_US", '.'}, {"sr_RS", ','}, {"zh_CN", '.'}, {"xx_YY", '.'}, {"f", '.'}};
    for (const auto& r : rows) {
        auto* localizer = new FixedLocale(r.locale);
        LxCore::Localizer::setCurrent(localizer);
        EXPECT_EQ(getLocaleDecimalPoint(), LxCore::u16(r.point)) << r.locale;
        LxCore::Localizer::setCurrent(nullptr);
        delete localizer;
    }
}

TEST_F(NumbersTest, RoundHalfUpKeepingTheSign) {
    const double big = 4503599627370497.0;     // 2^52 + 1
    const struct {
        double x, rounded;
    } rows[] = {
        {0.49999999999999994, 0}, {0.5, 1}, {2.5, 3}, {-2.5, -2}, {-0.5, -0.0}, {-0.4, -0.0},
        {-0.6, -1}, {1.4, 1}, {big, big}, {-big, -big}, {1e300, 1e300}, {-0.0, -0.0},
        {kInf, kInf}, {-kInf, -kInf},
    };
    for (const auto& r : rows) {
        const double got = mathRound(r.x);
        EXPECT_EQ(got, r.rounded) << r.x;
        EXPECT_EQ(std::signbit(got), std::signbit(r.rounded)) << r.x;
    }
    EXPECT_TRUE(std::isnan(mathRound(kNaN)));
}

TEST_F(NumbersTest, PowOfZerosAndOnes) {
    const double odd = 4294967297.0;    // 2^32 + 1: odd beyond 32 bits
    const struct {
        double x, y, result;
    } rows[] = {
        {kNaN, 0, 1}, {1, kInf, kNaN}, {-1, -kInf, kNaN}, {-0.0, -3, -kInf}, {-0.0, -2, kInf},
        {-0.0, 3, -0.0}, {-0.0, 2, 0}, {-0.0, odd, -0.0}, {-0.0, -odd, -kInf},
        {-0.0, 9007199254740994.0, 0}, {0, -1, kInf}, {0, 1, 0}, {2, 10, 1024}, {2, kNaN, kNaN},
        {kNaN, 1, kNaN}, {-8, 1.0 / 3, kNaN},
    };
    for (const auto& r : rows) {
        const double got = mathPow(r.x, r.y);
        if (std::isnan(r.result)) {
            EXPECT_TRUE(std::isnan(got)) << r.x << " ** " << r.y;
            continue;
        }
        EXPECT_EQ(got, r.result) << r.x << " ** " << r.y;
        EXPECT_EQ(std::signbit(got), std::signbit(r.result)) << r.x << " ** " << r.y;
    }
}

}  // namespace
}  // namespace LxScript
