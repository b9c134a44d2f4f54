// Unit values, the standard converters and the process-wide registry of
// converters.
#include "core/UnitValue.h"

#include <cmath>
#include <limits>
#include <memory>
#include <new>

#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "core/NumberText.h"
#include "core/ThreadData.h"
#include "core/Variant.h"

namespace LxCore {

namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();

// The length units, in the order the converter tries their names.
const UnitNames kLengths[] = {
    {kUnitInch, "inch", "inches", "in", 0.0254},
    {0x66656574, "foot", "feet", "ft", 0.3048},                 // 'feet'
    {0x79617264, "yard", "yards", "yd", 0.9144},                // 'yard'
    {0x6D696C65, "mile", "miles", "mi", 1609.344},              // 'mile'
    {kUnitCentimeter, "centimeter", "centimeters", "cm", 0.01},
    {0x814D4D8C, "millimeter", "millimeters", "mm", 0.001},
    {0x6B6D7472, "kilometer", "kilometers", "km", 1000},        // 'kmtr'
    {0x8150548C, "traditional point", "traditional points", "tpt", 0.0254 / 72.27},
    {0x8150538C, "point", "points", "pt", 0.0254 / 72},
    {0x8150438C, "traditional pica", "traditional picas", "tpc", 12 * 0.0254 / 72.27},
    {0x8153508C, "pica", "picas", "pc", 12 * 0.0254 / 72},
    {0x8143528C, "cicero", "ciceros", "ci", 0.00451104},
    {kUnitMeter, "meter", "meters", "m", 1},
};

const UnitNames kPixel = {kUnitPixel, "pixel", "pixels", "px", 0};
const UnitNames kPercent = {kUnitPercent, "percent", "percent", "%", 0};

const UnitNames* findRow(const UnitNames* rows, size_t count, u32 code) {
    for (size_t i = 0; i < count; i++)
        if (rows[i].code == code)
            return &rows[i];
    return nullptr;
}

const UnitNames* findRow(const UnitNames* rows, size_t count, const String& name) {
    for (size_t i = 0; i < count; i++)
        if (sameName(name, rows[i].singular, true) || sameName(name, rows[i].plural, true) ||
            sameName(name, rows[i].abbreviation, true))
            return &rows[i];
    return nullptr;
}

constexpr size_t kLengthCount = sizeof kLengths / sizeof kLengths[0];

// What every converter does with its rows of names.
i32 parseWith(const UnitNames* row, f64 value, f64 trailing, u32* unit, f64* out) {
    if (!row)
        return Err::kCannotConvert;
    if (trailing != 0 || std::isnan(trailing))
        return Err::kSyntaxError;
    *unit = row->code;
    *out = value;
    return 0;
}

i32 formatWith(const UnitNames* row, f64 value, String& out) {
    if (!row)
        return Err::kCannotConvert;
    out = Variant(value).toString();
    out += ' ';
    out += row->abbreviation;
    return 0;
}

i32 nameOf(const UnitNames* row, u32 form, String& out) {
    if (!row)
        return Err::kCannotConvert;
    switch (form) {
        case kUnitSingular:
            out = row->singular;
            return 0;
        case kUnitPlural:
            out = row->plural;
            return 0;
        case kUnitAbbreviation:
            out = row->abbreviation;
            return 0;
        default:
            return 1;
    }
}

i32 findWith(const UnitNames* row, u32* unit) {
    if (!row)
        return Err::kCannotConvert;
    *unit = row->code;
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The standard converters

i32 StdUnitTypeInfo::parse(const String& name, f64 value, f64 trailing, u32* unit, f64* out) {
    return parseWith(findRow(&names, 1, name), value, trailing, unit, out);
}

i32 StdUnitTypeInfo::format(u32 unit, f64 value, String& out) {
    return formatWith(findRow(&names, 1, unit), value, out);
}

i32 StdUnitTypeInfo::findUnit(const String& name, u32* unit) {
    return findWith(findRow(&names, 1, name), unit);
}

i32 StdUnitTypeInfo::getUnitName(u32 unit, u32 form, String& out) {
    return nameOf(findRow(&names, 1, unit), form, out);
}

// From the metre to a unit, or from a unit to the metre.
i32 StdMeterConverter::convert(u32 fromUnit, f64 value, u32 toUnit, f64* out) {
    const bool fromMeters = fromUnit == kUnitMeter;
    const UnitNames* row = findRow(kLengths, kLengthCount, fromMeters ? toUnit : fromUnit);
    if (!row)
        return Err::kCannotConvert;
    *out = fromMeters ? value / row->meters : value * row->meters;
    return 0;
}

i32 StdMeterConverter::parse(const String& name, f64 value, f64 trailing, u32* unit, f64* out) {
    return parseWith(findRow(kLengths, kLengthCount, name), value, trailing, unit, out);
}

i32 StdMeterConverter::format(u32 unit, f64 value, String& out) {
    return formatWith(findRow(kLengths, kLengthCount, unit), value, out);
}

i32 StdMeterConverter::findUnit(const String& name, u32* unit) {
    return findWith(findRow(kLengths, kLengthCount, name), unit);
}

i32 StdMeterConverter::getUnitName(u32 unit, u32 form, String& out) {
    return nameOf(findRow(kLengths, kLengthCount, unit), form, out);
}

// ---------------------------------------------------------------------------
// The registry

namespace {

struct RegistryEntry : public Root {
    u32 from;
    u32 to;
    u8 via;
    UnitConverter* converter;   // one reference; null only in the default entry

    RegistryEntry(u32 f, u32 t, u8 v, UnitConverter* c) : from(f), to(t), via(v), converter(c) {
        if (converter)
            converter->addRef();
    }
    ~RegistryEntry() {
        if (converter)
            converter->release();
    }
};

TSimpleArray<RegistryEntry>* entries = nullptr;
RegistryEntry* defaultEntry = nullptr;
bool standardRegistered = false;

StdMeterConverter* meterConverter = nullptr;
StdUnitTypeInfo* pixelInfo = nullptr;
StdUnitTypeInfo* percentInfo = nullptr;

i32 entryCount() { return entries ? entries->getCount() : 0; }
RegistryEntry& entryAt(i32 i) { return *entries->get(i); }
UnitConverter* defaultConverter() { return defaultEntry ? defaultEntry->converter : nullptr; }

// The standard registrations, once per start of the library.
void registerStandard() {
    if (standardRegistered || !meterConverter)
        return;
    standardRegistered = true;
    const UnitConverter::Entry pixel = {kUnitPixel, kUnitPixel, 0};
    const UnitConverter::Entry percent = {kUnitPercent, kUnitPercent, 0};
    UnitConverter::registerConverter(&pixel, 1, pixelInfo);
    UnitConverter::registerConverter(&percent, 1, percentInfo);
    for (const UnitNames& row : kLengths) {
        if (row.code == kUnitMeter)
            continue;
        const UnitConverter::Entry length = {row.code, kUnitMeter, 1};
        UnitConverter::registerConverter(&length, 1, meterConverter);
    }
}

// Every registry operation starts here.
class RegistryUse {
public:
    RegistryUse() : guard(kClassRegistryLock) { registerStandard(); }

private:
    GlobalLockGuard guard;
};

// The first via entry from the unit, or null.
RegistryEntry* viaFrom(u32 unit) {
    for (i32 i = 0; i < entryCount(); i++)
        if (entryAt(i).via && entryAt(i).from == unit)
            return &entryAt(i);
    return nullptr;
}

}  // namespace

i32 UnitConverter::registerConverter(const Entry* list, u32 count, UnitConverter* converter) {
    if (!converter)
        return Err::kSyntaxError;
    for (u32 i = 0; i < count; i++) {
        const Entry& e = list[i];
        if (e.from == kUnitAny && (e.to != kUnitAny || e.via))
            return Err::kSyntaxError;
        if ((e.to == kUnitAny || e.to == kUnitNone) && e.via)
            return Err::kSyntaxError;
    }
    RegistryUse use;
    return statusOf([&] {
        if (!entries)
            entries = new TSimpleArray<RegistryEntry>;
        for (u32 i = 0; i < count; i++) {
            const Entry& e = list[i];
            std::unique_ptr<RegistryEntry> made(new RegistryEntry(e.from, e.to, e.via, converter));
            if (e.from == kUnitAny) {
                delete defaultEntry;
                defaultEntry = made.release();
            } else {
                entries->add(made.get());
                made.release();
            }
        }
        return 0;
    });
}

i32 UnitConverter::convertUnits(u32 fromUnit, f64 value, u32 toUnit, f64* out) {
    RegistryUse use;
    for (i32 i = 0; i < entryCount(); i++) {
        RegistryEntry& e = entryAt(i);
        if ((e.from == fromUnit && e.to == toUnit) || (e.from == toUnit && e.to == fromUnit))
            return e.converter->convert(fromUnit, value, toUnit, out);
    }
    RegistryEntry* first = viaFrom(fromUnit);
    RegistryEntry* second = viaFrom(toUnit);
    if (first && second) {
        if (first->to != second->to)
            return Err::kCannotConvert;
        f64 common;
        i32 status = first->converter->convert(fromUnit, value, first->to, &common);
        return status != 0 ? status : second->converter->convert(first->to, common, toUnit, out);
    }
    for (u32 unit : {fromUnit, toUnit}) {
        for (i32 i = 0; i < entryCount(); i++) {
            RegistryEntry& e = entryAt(i);
            if (!e.via && e.to == kUnitAny && e.from == unit)
                return e.converter->convert(fromUnit, value, toUnit, out);
        }
    }
    if (UnitConverter* fallback = defaultConverter())
        return fallback->convert(fromUnit, value, toUnit, out);
    return Err::kCannotConvert;
}

i32 UnitConverter::getBaseUnit(u32 unit, u32* base) {
    if (unit == kUnitNone || unit == kUnitAny)
        return Err::kCannotConvert;
    RegistryUse use;
    i32 status = Err::kCannotConvert;
    for (i32 i = 0; i < entryCount(); i++) {
        RegistryEntry& e = entryAt(i);
        if (!e.via)
            continue;
        if (e.from == unit) {
            *base = e.to;
            status = 0;
        } else if (e.to == unit) {
            *base = unit;
            status = 0;
        }
    }
    return status;
}

i32 UnitConverter::findUnitByName(const String& name, u32* unit) {
    RegistryUse use;
    for (i32 i = 0; i < entryCount(); i++)
        if (entryAt(i).converter->findUnit(name, unit) == 0)
            return 0;
    UnitConverter* fallback = defaultConverter();
    return fallback ? fallback->findUnit(name, unit) : Err::kCannotConvert;
}

namespace {

// Asks every converter registered for the unit, the last answer counting,
// and the default converter when that answer is 44.
template <class Ask>
i32 askConvertersOf(u32 unit, Ask ask) {
    if (unit == kUnitNone || unit == kUnitAny)
        return Err::kCannotConvert;
    RegistryUse use;
    i32 status = Err::kCannotConvert;
    for (i32 i = 0; i < entryCount(); i++) {
        RegistryEntry& e = entryAt(i);
        if (e.from == unit || e.to == unit || e.to == kUnitAny)
            status = ask(*e.converter);
    }
    if (status == Err::kCannotConvert)
        if (UnitConverter* fallback = defaultConverter())
            status = ask(*fallback);
    return status;
}

}  // namespace

i32 UnitConverter::getUnitText(u32 unit, u32 form, String& out) {
    return askConvertersOf(unit, [&](UnitConverter& c) { return c.getUnitName(unit, form, out); });
}

i32 UnitConverter::formatUnit(u32 unit, f64 value, String& out) {
    return askConvertersOf(unit, [&](UnitConverter& c) { return c.format(unit, value, out); });
}

// A converter that knew the name but not the rest ('3 in 5': 8) wins over
// those that knew nothing of it (44).
i32 UnitConverter::parseUnit(const String& name, f64 value, f64 trailing, u32* unit, f64* out) {
    RegistryUse use;
    i32 status = Err::kCannotConvert;
    UnitConverter* asked = nullptr;
    for (i32 i = 0; i < entryCount(); i++) {
        UnitConverter* converter = entryAt(i).converter;
        if (converter == asked)
            continue;       // one converter serves many entries in a row
        asked = converter;
        i32 answer = converter->parse(name, value, trailing, unit, out);
        if (answer == 0)
            return 0;
        if (status == Err::kCannotConvert)
            status = answer;
    }
    return status;
}

void initUnitTypes(bool start) {
    if (start) {
        std::unique_ptr<StdMeterConverter> meter(new StdMeterConverter);
        std::unique_ptr<StdUnitTypeInfo> pixel(new StdUnitTypeInfo(kPixel));
        std::unique_ptr<StdUnitTypeInfo> percent(new StdUnitTypeInfo(kPercent));
        meterConverter = meter.release();
        pixelInfo = pixel.release();
        percentInfo = percent.release();
        return;
    }
    auto drop = [](auto*& converter) {
        if (converter)
            converter->release();
        converter = nullptr;
    };
    drop(meterConverter);
    drop(pixelInfo);
    drop(percentInfo);
}

// At the end every entry goes, and the next start registers afresh.
void initUnitRegistry(bool start) {
    if (start)
        return;
    GlobalLockGuard guard(kClassRegistryLock);
    for (i32 i = 0; i < entryCount(); i++)
        delete entries->get(i);
    delete entries;
    entries = nullptr;
    delete defaultEntry;
    defaultEntry = nullptr;
    standardRegistered = false;
}

// ---------------------------------------------------------------------------
// UnitValue

UnitValue::UnitValue(const String& text) {
    if (parse(text, *this) != 0) {
        value = 0;
        unit = kUnitNone;
    }
}

i32 UnitValue::parse(const String& text, UnitValue& out) {
    String rest;
    f64 number = parseNumber(text, kParsePrefix, &rest);
    rest.trim();
    if (rest.isEmpty()) {
        out.value = number;
        out.unit = kUnitNone;       // a number alone has no unit
        return 0;
    }
    i32 digit = rest.findFirstOf("0123456789");
    String name = digit < 0 ? rest : rest.substr(0, digit);
    name.trim();
    f64 trailing = digit < 0 ? 0 : parseNumber(rest.substr(digit), kParseWholeText);
    u32 unit;
    f64 value;
    i32 status = UnitConverter::parseUnit(name, number, trailing, &unit, &value);
    if (status == 0) {
        out.value = value;
        out.unit = unit;
    }
    return status;
}

i32 UnitValue::getValueIn(u32 target, f64* out) const {
    if (target == unit || target == kUnitNone || unit == kUnitNone) {
        *out = value;
        return 0;
    }
    if (target == kUnitAny || unit == kUnitAny)
        return Err::kCannotConvert;
    return UnitConverter::convertUnits(unit, value, target, out);
}

// Base value times value, in the base's unit; the thread's default base when
// the value has none of its own. Percent is a hundredth.
UnitValue UnitValue::absolute() const {
    UnitValue base(baseUnit, baseValue);
    if (baseUnit == kUnitNone)
        getDefaultBase(base);
    UnitValue out(base.unit, base.value * value);
    if (unit == kUnitPercent)
        out.value /= 100;
    return out;
}

namespace {

i32 baseValueOf(const UnitValue& v, UnitValue& out) {
    u32 base;
    i32 status = UnitConverter::getBaseUnit(v.unit, &base);
    f64 converted;
    if (status == 0)
        status = v.getValueIn(base, &converted);
    if (status == 0)
        out = UnitValue(base, converted);
    return status;
}

}  // namespace

// The absolute value is tried once: a default base in pixels or percent
// has no base unit either.
i32 UnitValue::getBaseValue(UnitValue& out) const {
    i32 status = baseValueOf(*this, out);
    if (status == 0)
        return 0;
    return baseValueOf(absolute(), out);
}

bool UnitValue::convertedValue(u32 target, f64& result) const {
    auto scaled = [&](f64 v) {
        if (unit == kUnitPercent)
            v /= 100;
        if (target == kUnitPercent)
            v *= 100;
        return v;
    };
    f64 converted;
    if (getValueIn(target, &converted) == 0) {
        result = scaled(converted);
        return true;
    }
    UnitValue base(baseUnit, baseValue);
    if (baseUnit == kUnitNone)
        getDefaultBase(base);
    if (UnitValue(base.unit, base.value * value).getValueIn(target, &converted) == 0) {
        result = scaled(converted);
        return true;
    }
    // A target with a base unit of its own is no relative unit.
    u32 targetBase;
    if (UnitConverter::getBaseUnit(target, &targetBase) == 0)
        return false;
    if (getValueIn(base.unit, &converted) != 0)
        return false;
    result = scaled(converted / base.value);
    return true;
}

bool UnitValue::convert(u32 target) {
    f64 result;
    if (!convertedValue(target, result))
        return false;
    value = result;
    unit = target;
    return true;
}

bool UnitValue::as(u32 target, UnitValue& out) const {
    f64 result;
    if (!convertedValue(target, result))
        return false;
    out.value = result;
    out.unit = target;
    return true;
}

i32 UnitValue::compare(const UnitValue& other) const {
    f64 left = value, right = other.value;
    if (unit != other.unit) {
        UnitValue a, b;
        if (getBaseValue(a) != 0 || other.getBaseValue(b) != 0 || a.unit != b.unit)
            return kUnordered;
        left = a.value;
        right = b.value;
    }
    if (std::isnan(left) || std::isnan(right))
        return kUnordered;
    return left > right ? 1 : left < right ? -1 : 0;
}

bool UnitValue::format(String& out) const {
    if (unit == kUnitNone || unit == kUnitAny) {
        out.sprintf(unit == kUnitNone ? "%f <no type>" : "%f <any type>", value);
        return true;
    }
    return UnitConverter::formatUnit(unit, value, out) == 0;
}

void UnitValue::toString(String& out) const {
    if (!format(out))
        out.sprintf("UnitValue %lf", value);
}

void UnitValue::getDefaultBase(UnitValue& out) {
    ThreadData* record = ThreadData::get();
    out.value = record->unitBaseValue;
    out.unit = record->unitBaseCode;
}

void UnitValue::setDefaultBase(const UnitValue& base) {
    ThreadData* record = ThreadData::get();
    record->unitBaseValue = base.value;
    record->unitBaseCode = base.unit;
}

}  // namespace LxCore
