// The values behind the point and rect types of Variant, the orderings that
// Variant::compare sorts them by, and the class of a double that Variant caches.
#pragma once
#include "core/Heap.h"
#include "core/Types.h"

namespace LxCore {

struct Point : Root {
    f64 x = 0;
    f64 y = 0;

    Point() = default;
    Point(f64 px, f64 py) : x(px), y(py) {}
};

struct Rect : Root {
    f64 left = 0;
    f64 top = 0;
    f64 right = 0;
    f64 bottom = 0;

    Rect() = default;
    Rect(f64 l, f64 t, f64 r, f64 b) : left(l), top(t), right(r), bottom(b) {}
};

// 1 when b lies below and right of a, 0 when equal, else -1 (NaN included).
i32 comparePoints(const Point& a, const Point& b);
// Corner by corner: the top-left first, then the bottom-right.
i32 compareRects(const Rect& a, const Rect& b);

// The class of a double that a Variant caches: 1 finite and not negative
// zero, 8 NaN (also for a null pointer), 16 +Infinity, 32 -Infinity,
// 64 negative zero.
i32 classifyDouble(const f64* value);

}  // namespace LxCore
