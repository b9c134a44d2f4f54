// Number text: the parsing routines under every flag and radix, and the
// number read written back in each form.
#include "core/NumberText.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // Two bytes choose flags, radix and form; the rest is the text.
    const u32 flags = u32(data[0] & 0x03) | (u32(data[0] & 0x0C) << 6);
    const u32 radix = data[1] % 37;
    String text = TavrelFuzz::text(data + 2, size - 2);
    String rest, out;
    f64 number = parseNumber(text, flags, &rest);
    f64 integer = parseInteger(text, radix == 1 ? 0 : radix, flags, &rest);
    u32 digitRadix = radix < 2 ? 0 : radix;
    f64 digits = 0;
    parseDigits(text.chars(), &digits, &digitRadix, flags);
    const u32 mode = (data[0] >> 4) % 3;
    const u32 precision = data[1] % 101;
    formatNumber(out, number, 10, precision, mode);
    formatNumber(out, integer, radix < 2 ? 10 : radix, precision, kFormatAutomatic);
    formatNumber(out, digits, 10, 0, kFormatAutomatic);
    return 0;
}
