// toFixed, toExponential, toPrecision and the locale's decimal point.
#include "script/library/NumberFormat.h"

#include <cmath>

#include "core/ErrorCodes.h"
#include "core/Localizer.h"
#include "core/NumberText.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// The count of digits before the point of |value| written out: 1 for zero
// and for values below 1, whose digit is 0. The logarithm can be one off
// next to a power of ten; the powers themselves settle it.
i32 integerDigits(f64 magnitude) {
    if (magnitude == 0)
        return 1;
    i32 k = i32(std::floor(std::log10(magnitude))) + 1;
    if (std::pow(10.0, k - 1) > magnitude)
        k--;
    else if (std::pow(10.0, k) <= magnitude)
        k++;
    return k;
}

// Digits before the point in a formatted fixed text, sign left out.
i32 wholeDigitsOf(const String& text) {
    i32 n = 0;
    for (i32 i = 0; i < text.length() && text[i] != '.'; i++)
        if (text[i] >= '0' && text[i] <= '9')
            n++;
    return n;
}

i32 clampDigits(i32 n) { return n < 0 ? 0 : (n > kMaxFractionDigits ? kMaxFractionDigits : n); }

}  // namespace

i32 formatFixed(f64 value, i32 decimals, String& out) {
    if (decimals > kMaxFractionDigits)
        return Err::kOutOfRange;
    if (decimals < 0)
        out = "0";
    else
        LxCore::formatNumber(out, value, 10, LxCore::u32(decimals), LxCore::kFormatFixed);
    return 0;
}

i32 formatExponential(f64 value, i32 decimals, String& out) {
    const i32 error = LxCore::u32(decimals) > LxCore::u32(kMaxFractionDigits) ? Err::kOutOfRange : 0;
    LxCore::formatNumber(out, value, 10, LxCore::u32(clampDigits(decimals)), LxCore::kFormatExponential);
    return error;
}

// Exponential with p - 1 decimals when the integer digits outnumber the
// precision or the value is below 1e-6; else fixed with p - k decimals. A
// rounding that carries into a new digit (99.99 to 100.0) is counted again.
i32 formatPrecision(f64 value, i32 precision, String& out) {
    const i32 error = precision < 1 || precision > kMaxFractionDigits ? Err::kOutOfRange : 0;
    const i32 p = precision < 1 ? 1 : (precision > kMaxFractionDigits ? kMaxFractionDigits : precision);
    if (!std::isfinite(value)) {
        LxCore::formatNumber(out, value, 10, 0, LxCore::kFormatAutomatic);
        return error;
    }
    const f64 magnitude = std::fabs(value);
    i32 k = integerDigits(magnitude);
    for (i32 round = 0; round < 2; round++) {
        if (magnitude != 0 && (magnitude < 1e-6 || k > p)) {
            LxCore::formatNumber(out, value, 10, LxCore::u32(p - 1), LxCore::kFormatExponential);
            return error;
        }
        LxCore::formatNumber(out, value, 10, LxCore::u32(clampDigits(p - k)), LxCore::kFormatFixed);
        // Below 1 the carry shows as a shorter run of leading zeros instead.
        const i32 counted = magnitude >= 1 ? wholeDigitsOf(out)
                                           : integerDigits(std::fabs(LxCore::parseNumber(out, 0)));
        if (counted <= k)
            break;
        k = counted;
    }
    return error;
}

u16 getLocaleDecimalPoint() {
    // Languages in their order; the first that matches gives the separator.
    static const struct {
        char language[3];
        char separator;
    } kTable[] = {
        {"de", ','}, {"ar", '.'}, {"bg", ','}, {"ca", ','}, {"zh", '.'}, {"cs", ','}, {"da", ','},
        {"de", ','}, {"el", ','}, {"en", '.'}, {"es", ','}, {"fi", ','}, {"fr", ','}, {"he", '.'},
        {"hu", ','}, {"is", ','}, {"it", ','}, {"ja", '.'}, {"ko", '.'}, {"nl", ','}, {"nb", ','},
        {"pl", ','}, {"pt", ','}, {"ro", ','}, {"ru", ','}, {"hr", ','}, {"sk", ','}, {"sq", ','},
        {"sv", ','}, {"th", '.'}, {"tr", ','}, {"ur", '.'}, {"id", ','}, {"uk", ','}, {"be", ','},
        {"sl", ','}, {"et", ','}, {"lv", ','}, {"lt", ','}, {"fa", '.'}, {"vi", ','}, {"hy", '.'},
        {"az", ','}, {"eu", ','}, {"mk", ','}, {"tn", '.'}, {"xh", '.'}, {"zu", '.'}, {"af", '.'},
        {"ka", ','}, {"fo", ','}, {"hi", '.'}, {"mt", '.'}, {"se", ','}, {"ms", ','}, {"kk", ','},
        {"ky", ','}, {"sw", '.'}, {"no", ','}, {"sr", ','},
    };
    const String locale = LxCore::Localizer::getCurrentLocale();
    if (locale.length() < 2)
        return '.';
    for (const auto& row : kTable)
        if (locale[0] == u16(row.language[0]) && locale[1] == u16(row.language[1]))
            return u16(row.separator);
    return '.';
}

}  // namespace LxScript
