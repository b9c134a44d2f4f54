// Numbers with a measurement unit ('12 cm', '50 %'), the registry of unit
// converters they convert through, and the scriptable class "UnitValue".
#pragma once
#include "core/ErrorCodes.h"
#include "core/LiveObject.h"
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// Unit codes. Some hold bytes outside ASCII: two letters framed by 0x81 and 0x8C.
constexpr u32 kUnitNone = 0x4E6F5470;           // 'NoTp': no unit
constexpr u32 kUnitAny = 0x2A2A2A2A;            // '****': any unit
constexpr u32 kUnitInch = 0x696E6368;           // 'inch'
constexpr u32 kUnitCentimeter = 0x636D7472;     // 'cmtr'
constexpr u32 kUnitMeter = 0x6D657472;          // 'metr'
constexpr u32 kUnitPixel = 0x8150588C;
constexpr u32 kUnitPercent = 0x81504E8C;

// Forms of unit names.
constexpr u32 kUnitSingular = 1;
constexpr u32 kUnitPlural = 2;
constexpr u32 kUnitAbbreviation = 3;

class UnitValue : public Root {
public:
    f64 value = 0;
    f64 baseValue = 0;          // the base of relative units (percent, pixels)
    u32 unit = kUnitNone;
    u32 baseUnit = kUnitNone;   // kUnitNone: the thread's default base applies

    UnitValue() = default;
    UnitValue(u32 unit, f64 value) : value(value), unit(unit) {}
    // The parsed text; 0 without a unit when it cannot be read.
    explicit UnitValue(const String& text);

    // A number, then a unit name, then an optional trailing number: "12 cm".
    // A number alone has no unit.
    static i32 parse(const String& text, UnitValue& out);
    // 44 when either unit is any unit; out untouched then.
    i32 getValueIn(u32 unit, f64* out) const;
    // The value in its unit's base unit; failing that, its absolute value's.
    i32 getBaseValue(UnitValue& out) const;
    // Converts to the unit, also through the base of relative units; false
    // leaves the value unchanged. `as` writes the value and unit of out only.
    bool convert(u32 unit);
    bool as(u32 unit, UnitValue& out) const;
    // NaN, or values without a common base, are unordered: kUnordered.
    i32 compare(const UnitValue& other) const;
    bool equals(const UnitValue& other) const { return compare(other) == 0; }
    bool format(String& out) const;
    void toString(String& out) const;

    // The calling thread's default base.
    static void getDefaultBase(UnitValue& out);
    static void setDefaultBase(const UnitValue& base);

    static constexpr i32 kUnordered = 0x7FFFFFFF;

private:
    bool convertedValue(u32 target, f64& result) const;
    UnitValue absolute() const;
};

// Converts between units, reads and writes their names.
class UnitConverter : public Refcountable {
public:
    virtual i32 convert(u32 fromUnit, f64 value, u32 toUnit, f64* out) = 0;
    virtual i32 parse(const String& name, f64 value, f64 trailing, u32* unit, f64* out) = 0;
    virtual i32 format(u32 unit, f64 value, String& out) = 0;
    virtual i32 findUnit(const String& name, u32* unit) = 0;
    virtual i32 getUnitName(u32 unit, u32 form, String& out) = 0;

    // One registration: from-unit to to-unit; via marks a step through a
    // common unit (the metre for lengths).
    struct Entry {
        u32 from;
        u32 to;
        u8 via;
    };

    // The registry, made on first use with the standard converters.
    static i32 registerConverter(const Entry* entries, u32 count, UnitConverter* converter);
    static i32 convertUnits(u32 fromUnit, f64 value, u32 toUnit, f64* out);
    static i32 getBaseUnit(u32 unit, u32* base);
    static i32 findUnitByName(const String& name, u32* unit);
    static i32 getUnitText(u32 unit, u32 form, String& out);
    // Every converter registered for the unit (and the default converter
    // when they fail) writes the value's text.
    static i32 formatUnit(u32 unit, f64 value, String& out);
    // Each registered converter in turn; one that knew the name decides.
    static i32 parseUnit(const String& name, f64 value, f64 trailing, u32* unit, f64* out);
};

// A description of one unit that converts to nothing.
class UnitTypeInfo : public UnitConverter {};

// One unit known by three names.
struct UnitNames {
    u32 code;
    const char* singular;
    const char* plural;
    const char* abbreviation;
    f64 meters;         // metres per unit; 0 for units without a length
};

class StdUnitTypeInfo : public UnitTypeInfo {
public:
    explicit StdUnitTypeInfo(const UnitNames& names) : names(names) {}
    i32 convert(u32, f64, u32, f64*) override { return Err::kCannotConvert; }
    i32 parse(const String& name, f64 value, f64 trailing, u32* unit, f64* out) override;
    i32 format(u32 unit, f64 value, String& out) override;
    i32 findUnit(const String& name, u32* unit) override;
    i32 getUnitName(u32 unit, u32 form, String& out) override;

private:
    const UnitNames& names;
};

// The thirteen length units, through the metre.
class StdMeterConverter : public UnitConverter {
public:
    i32 convert(u32 fromUnit, f64 value, u32 toUnit, f64* out) override;
    i32 parse(const String& name, f64 value, f64 trailing, u32* unit, f64* out) override;
    i32 format(u32 unit, f64 value, String& out) override;
    i32 findUnit(const String& name, u32* unit) override;
    i32 getUnitName(u32 unit, u32 form, String& out) override;
};

// The class "UnitValue": a live object holding one unit value in its value.
class UnitValueObject : public LiveObject {
public:
    explicit UnitValueObject(const UnitValue& value);
    UnitValueObject();          // holds no unit value

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    i32 initialize(const Array& args, Error* error) override;
    bool equals(const LiveObject& other) const override;
    i32 get(i32 id, Variant& result, Error* error) override;
    i32 put(i32 id, const Variant& value, Error* error) override;
    i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
               Error* error) override;
    void toString(String& text) override;

    // Null when the object holds no unit value.
    UnitValue* getUnitValue() const;

    // A new object holding the value, as a live-object Variant.
    static void make(Variant& out, const UnitValue& value);
};

// The class object "UnitValue": the factory construction by name clones, and
// the keeper of the thread's default base.
class UnitValueObjectFactory : public LiveObject {
public:
    UnitValueObjectFactory();
    i32 get(i32 id, Variant& result, Error* error) override;
    i32 put(i32 id, const Variant& value, Error* error) override;
    i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
               Error* error) override;
};

// The interface code of a live object's unit value.
constexpr u32 kUnitValueInterface = 0x756E5641;    // 'unVA'

// Module start/end: the standard converters; the registry; the class.
void initUnitTypes(bool start);
void initUnitRegistry(bool start);
void initUnitValueClass(bool start);

}  // namespace LxCore
