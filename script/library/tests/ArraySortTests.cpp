#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "script/library/ArraySort.h"

namespace LxScript {
namespace {

using Keys = std::vector<int>;

// Sorts the entry numbers of keys; counts the comparisons made.
struct SortRun {
    std::vector<u32> order;
    uint64_t comparisons = 0;
    bool finished = false;
};

SortRun sortKeys(const Keys& keys, const std::function<i32(int, int)>& compare, uint64_t stopAfter = UINT64_MAX) {
    SortRun run;
    run.order.resize(keys.size());
    std::iota(run.order.begin(), run.order.end(), 0u);
    run.finished = sortEntries(run.order.data(), u32(run.order.size()), [&](u32 a, u32 b, i32& r) {
        if (run.comparisons++ >= stopAfter)
            return false;
        r = compare(keys[a], keys[b]);
        return true;
    });
    return run;
}

bool isPermutation(const std::vector<u32>& order) {
    std::vector<u32> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (u32 i = 0; i < sorted.size(); i++)
        if (sorted[i] != i)
            return false;
    return true;
}

// Shapes that make a first-entry or middle pivot quadratic.
Keys shaped(const std::string& shape, int n) {
    Keys keys(size_t(n), 0);
    std::mt19937 random(12345);
    for (int i = 0; i < n; i++) {
        if (shape == "sorted") keys[i] = i;
        else if (shape == "reversed") keys[i] = n - i;
        else if (shape == "equal") keys[i] = 7;
        else if (shape == "organ pipe") keys[i] = i < n / 2 ? i : n - i;
        else if (shape == "two values") keys[i] = i % 2;
        else if (shape == "sawtooth") keys[i] = i % 17;
        else keys[i] = int(random() % 1000000);
    }
    return keys;
}

TEST(ArraySort, OrdersEveryShapeInLogLinearComparisons) {
    const int n = 100000;
    const double budget = 3.0 * n * std::log2(double(n));
    for (const char* shape : {"sorted", "reversed", "equal", "organ pipe", "two values", "sawtooth", "random"}) {
        const Keys keys = shaped(shape, n);
        SortRun run = sortKeys(keys, [](int a, int b) { return a < b ? -1 : (a > b ? 1 : 0); });
        ASSERT_TRUE(run.finished) << shape;
        ASSERT_TRUE(isPermutation(run.order)) << shape;
        for (size_t i = 1; i < run.order.size(); i++)
            ASSERT_LE(keys[run.order[i - 1]], keys[run.order[i]]) << shape << " at " << i;
        EXPECT_LT(double(run.comparisons), budget) << shape;
    }
}

// A comparator that answers nonsense still leaves a permutation, in bounded
// work; so does one that stops the sort part way.
TEST(ArraySort, AnyComparatorLeavesAPermutation) {
    const int n = 20000;
    const double budget = 4.0 * n * std::log2(double(n));
    std::mt19937 random(99);
    struct Case {
        const char* name;
        std::function<i32(int, int)> compare;
    } cases[] = {
        {"always greater", [](int, int) { return 1; }},
        {"always less", [](int, int) { return -1; }},
        {"always equal", [](int, int) { return 0; }},
        {"random", [&](int, int) { return i32(random() % 3) - 1; }},
        {"reversed sign", [](int a, int b) { return a < b ? 1 : -1; }},
    };
    for (const Case& c : cases) {
        for (const char* shape : {"sorted", "random", "equal"}) {
            SortRun run = sortKeys(shaped(shape, n), c.compare);
            EXPECT_TRUE(run.finished) << c.name << " / " << shape;
            EXPECT_TRUE(isPermutation(run.order)) << c.name << " / " << shape;
            EXPECT_LT(double(run.comparisons), budget) << c.name << " / " << shape;
        }
    }
    for (uint64_t stop : {0u, 1u, 17u, 1000u, 50000u}) {
        SortRun run = sortKeys(shaped("random", n), [](int a, int b) { return a - b; }, stop);
        EXPECT_FALSE(run.finished) << stop;
        EXPECT_TRUE(isPermutation(run.order)) << stop;
    }
}

TEST(ArraySort, ShortListsSortAsGiven) {
    const std::vector<Keys> lists = {{}, {1}, {2, 1}, {3, 1, 2}, {5, 5, 1, 5}, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, -1, -2, -3, -4, -5, -6, -7, -8}};
    for (const Keys& keys : lists) {
        SortRun run = sortKeys(keys, [](int a, int b) { return a < b ? -1 : (a > b ? 1 : 0); });
        Keys got;
        for (u32 i : run.order)
            got.push_back(keys[i]);
        Keys wanted = keys;
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(got, wanted);
    }
}

}  // namespace
}  // namespace LxScript
