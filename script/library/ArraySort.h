// The sort behind Array.prototype.sort: an introspective quicksort over a
// list of entry numbers. The comparator is script code and may answer
// anything (always 1, random, changing its mind), so every loop is bounded by
// positions, never by what a comparison says, and entries are only ever
// swapped: whatever the comparator does, and wherever a stop request ends
// the sort, the list stays a permutation. Partitions that go bad hand over
// to a heap sort, so no input costs more than O(n log n) comparisons.
#pragma once
#include <utility>

#include "core/Types.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u32;

namespace sortdetail {

// Ranges this short are finished by insertion.
constexpr u32 kInsertionRange = 16;
// Ranges longer than this take their pivot from nine entries.
constexpr u32 kNintherRange = 128;

// compare(a, b, result) puts <0, 0 or >0 in result and returns false to stop
// the sort.
template <class Compare>
class Sorter {
public:
    Sorter(u32* items, Compare& compare) : items(items), compare(compare) {}

    // Sorts [lo, hi); false when the comparator asked to stop.
    bool sort(u32 lo, u32 hi) {
        u32 depth = 0;
        for (u32 n = hi - lo; n > 1; n >>= 1)
            depth += 2;
        return introsort(lo, hi, depth);
    }

private:
    u32* items;
    Compare& compare;

    bool greater(u32 a, u32 b, bool& result) {
        i32 r = 0;
        if (!compare(a, b, r))
            return false;
        result = r > 0;
        return true;
    }

    bool introsort(u32 lo, u32 hi, u32 depth) {
        while (hi - lo > kInsertionRange) {
            if (depth == 0)
                return heapSort(lo, hi);
            depth--;
            u32 mid;
            if (!partition(lo, hi, mid))
                return false;
            // The smaller side by recursion (at most log n deep), the larger
            // by the loop.
            if (mid - lo < hi - mid - 1) {
                if (!introsort(lo, mid, depth))
                    return false;
                lo = mid + 1;
            } else {
                if (!introsort(mid + 1, hi, depth))
                    return false;
                hi = mid;
            }
        }
        return insertionSort(lo, hi);
    }

    // Orders the entries at three positions.
    bool sort3(u32 a, u32 b, u32 c) {
        bool gt = false;
        if (!greater(items[a], items[b], gt))
            return false;
        if (gt)
            std::swap(items[a], items[b]);
        if (!greater(items[b], items[c], gt))
            return false;
        if (!gt)
            return true;
        std::swap(items[b], items[c]);
        if (!greater(items[a], items[b], gt))
            return false;
        if (gt)
            std::swap(items[a], items[b]);
        return true;
    }

    // Puts a median at lo: of three, or of three medians of three in long
    // ranges, so that sorted, reversed and organ-pipe input split evenly.
    bool choosePivot(u32 lo, u32 hi) {
        const u32 mid = lo + (hi - lo) / 2;
        if (hi - lo > kNintherRange) {
            const u32 step = (hi - lo) / 8;
            if (!sort3(lo + 1, lo + 1 + step, lo + 1 + 2 * step) ||
                !sort3(mid - step, mid, mid + step) ||
                !sort3(hi - 1 - 2 * step, hi - 1 - step, hi - 1) ||
                !sort3(lo + 1 + step, mid, hi - 1 - step))
                return false;
        } else if (!sort3(lo + 1, mid, hi - 1)) {
            return false;
        }
        std::swap(items[lo], items[mid]);
        return true;
    }

    // Entries equal to the pivot stop both scans and are swapped, so equal
    // input splits in the middle. The scans are bounded by i <= j alone.
    bool partition(u32 lo, u32 hi, u32& mid) {
        if (!choosePivot(lo, hi))
            return false;
        const u32 pivot = items[lo];
        u32 i = lo + 1, j = hi - 1;
        for (;;) {
            i32 r = 0;
            while (i <= j) {
                if (!compare(items[i], pivot, r))
                    return false;
                if (r >= 0)
                    break;
                i++;
            }
            while (i <= j) {
                if (!compare(items[j], pivot, r))
                    return false;
                if (r <= 0)
                    break;
                j--;
            }
            if (i >= j)
                break;
            std::swap(items[i++], items[j--]);
        }
        // j is lo, or an entry the scans left on the pivot's side.
        std::swap(items[lo], items[j]);
        mid = j;
        return true;
    }

    bool insertionSort(u32 lo, u32 hi) {
        for (u32 i = lo + 1; i < hi; i++) {
            for (u32 j = i; j > lo; j--) {
                bool gt = false;
                if (!greater(items[j - 1], items[j], gt))
                    return false;
                if (!gt)
                    break;
                std::swap(items[j - 1], items[j]);
            }
        }
        return true;
    }

    bool siftDown(u32 base, u32 root, u32 n) {
        for (;;) {
            u32 child = 2 * root + 1;
            if (child >= n)
                return true;
            bool gt = false;
            if (child + 1 < n) {
                if (!greater(items[base + child + 1], items[base + child], gt))
                    return false;
                if (gt)
                    child++;
            }
            if (!greater(items[base + child], items[base + root], gt))
                return false;
            if (!gt)
                return true;
            std::swap(items[base + root], items[base + child]);
            root = child;
        }
    }

    bool heapSort(u32 lo, u32 hi) {
        const u32 n = hi - lo;
        for (u32 i = n / 2; i-- > 0;)
            if (!siftDown(lo, i, n))
                return false;
        for (u32 end = n; end-- > 1;) {
            std::swap(items[lo], items[lo + end]);
            if (!siftDown(lo, 0, end))
                return false;
        }
        return true;
    }
};

}  // namespace sortdetail

// Sorts items[0, count) by compare(a, b, int& result) -> bool; false when the
// comparator asked to stop, with the list left a permutation, partly sorted.
template <class Compare>
bool sortEntries(u32* items, u32 count, Compare&& compare) {
    if (count < 2)
        return true;
    sortdetail::Sorter<std::remove_reference_t<Compare>> sorter(items, compare);
    return sorter.sort(0, count);
}

}  // namespace LxScript
