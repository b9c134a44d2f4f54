#include <gtest/gtest.h>

#include <limits>

#include "core/Point.h"

namespace LxCore {
namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();

TEST(Point, ComparesBelowRightAsGreater) {
    struct Case {
        Point a, b;
        i32 expected;
    } cases[] = {
        {{1, 1}, {2, 2}, 1},
        {{2, 2}, {1, 1}, -1},
        {{1, 2}, {2, 1}, -1},
        {{2, 1}, {1, 2}, -1},
        {{1, 1}, {1, 2}, -1},         // one coordinate alone is not enough
        {{3, 4}, {3, 4}, 0},
        {{0.0, 0.0}, {-0.0, -0.0}, 0},
        {{kNaN, 1}, {kNaN, 1}, -1},
        {{1, 1}, {kNaN, 2}, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(comparePoints(c.a, c.b), c.expected)
            << "(" << c.a.x << ", " << c.a.y << ") vs (" << c.b.x << ", " << c.b.y << ")";
}

TEST(Rect, ComparesTopLeftThenBottomRight) {
    struct Case {
        Rect a, b;
        i32 expected;
    } cases[] = {
        {{0, 0, 5, 5}, {0, 0, 5, 5}, 0},
        {{0, 0, 5, 5}, {0, 0, 6, 6}, 1},
        {{0, 0, 6, 6}, {0, 0, 5, 5}, -1},
        {{1, 1, 5, 5}, {0, 0, 5, 5}, -1},
        {{0, 0, 9, 9}, {1, 1, 2, 2}, 1},      // the top-left corner decides first
        {{0, 1, 5, 5}, {1, 0, 5, 5}, -1},
        {{0, 0, 5, 6}, {0, 0, 6, 5}, -1},
        {{0, 0, 6, 5}, {0, 0, 5, 6}, -1},
        {{0, 0, 5, 5}, {0, 0, 5, 6}, 0},      // neither corner strictly beyond
        {{kNaN, 0, 5, 5}, {0, 0, 5, 5}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compareRects(c.a, c.b), c.expected)
            << c.a.left << "," << c.a.top << "," << c.a.right << "," << c.a.bottom << " vs "
            << c.b.left << "," << c.b.top << "," << c.b.right << "," << c.b.bottom;
}

TEST(Rect, HoldsLeftTopRightBottom) {
    Rect r(1, 2, 3, 4);
    Rect copy = r;
    EXPECT_EQ(copy.left, 1);
    EXPECT_EQ(copy.top, 2);
    EXPECT_EQ(copy.right, 3);
    EXPECT_EQ(copy.bottom, 4);
    Rect empty;
    EXPECT_EQ(compareRects(empty, Rect(0, 0, 0, 0)), 0);
}

TEST(ClassifyDouble, GivesOneClassBit) {
    using limits = std::numeric_limits<f64>;
    struct Case {
        f64 value;
        i32 expected;
    } cases[] = {
        {0.0, 1},
        {-0.0, 64},
        {1.5, 1},
        {-1.5, 1},
        {limits::denorm_min(), 1},
        {-limits::denorm_min(), 1},
        {limits::max(), 1},
        {limits::lowest(), 1},
        {limits::infinity(), 16},
        {-limits::infinity(), 32},
        {limits::quiet_NaN(), 8},
        {-limits::quiet_NaN(), 8},
        {limits::signaling_NaN(), 8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyDouble(&c.value), c.expected) << c.value;
    EXPECT_EQ(classifyDouble(nullptr), 8);
}

}  // namespace
}  // namespace LxCore
