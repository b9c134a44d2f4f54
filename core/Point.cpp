// Orderings of points and rectangles, and the class of a double.
#include "core/Point.h"

#include <cmath>

namespace LxCore {

i32 comparePoints(const Point& a, const Point& b) {
    if (b.x > a.x && b.y > a.y)
        return 1;
    if (a.x == b.x && a.y == b.y)
        return 0;
    return -1;
}

i32 compareRects(const Rect& a, const Rect& b) {
    if (b.left > a.left && b.top > a.top)
        return 1;
    if (a.left > b.left || a.top > b.top)
        return -1;
    if (b.right > a.right && b.bottom > a.bottom)
        return 1;
    if (a.right > b.right || a.bottom > b.bottom)
        return -1;
    return 0;
}

// A null pointer points to no number.
i32 classifyDouble(const f64* value) {
    constexpr i32 kOrdinary = 1, kNaN = 8, kInfinity = 16, kNegativeInfinity = 32,
                  kNegativeZero = 64;
    if (!value)
        return kNaN;
    f64 v = *value;
    switch (std::fpclassify(v)) {
    case FP_NAN:
        return kNaN;
    case FP_INFINITE:
        return std::signbit(v) ? kNegativeInfinity : kInfinity;
    case FP_ZERO:
        return std::signbit(v) ? kNegativeZero : kOrdinary;
    default:
        return kOrdinary;
    }
}

}  // namespace LxCore
