// The scriptable class "UnitValue": its objects, their operators, and the
// class object that constructs them and keeps the thread's default base.
#include <cmath>
#include <limits>
#include <memory>

#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "core/UnitValue.h"
#include "core/Variant.h"

namespace LxCore {

namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();

enum : i32 {
    kType = 1,
    kValue = 2,
    kBaseUnit = 3,
    kConvert = 4,
    kAs = 5,
    kComplement = 0x1FF10100,
    kNot = 0x1FF10101,
    kTimes = 0x1FF10104,
    kDivide = 0x1FF10105,
    kRemainder = 0x1FF10106,
    kPlus = 0x1FF10107,
    kMinus = 0x1FF10108,
    kLess = 0x1FF1010C,
    kLessOrEqual = 0x1FF1010D,
    kEqual = 0x1FF10112,
    kStrictEqual = 0x1FF10114,
};

constexpr u32 kFixedReadOnly = 0x61;
constexpr u32 kFixedReadWrite = 0x62;
constexpr u32 kFixedMethod = 0x65;

const LivePropertyInfo kInstanceRows[] = {
    {"type", kType, kFixedReadOnly, "string\tThe unit name."},
    {"value", kValue, kFixedReadWrite, "number\tThe numeric value."},
    {"baseUnit", kBaseUnit, kFixedReadWrite, "UnitValue\tThe base unit."},
    {"convert", kConvert, kFixedMethod,
     "bool\tConvert this instance to a different unit.,unitName:string\tThe unit name."},
    {"as", kAs, kFixedMethod,
     "UnitValue\tReturn this instance as a different unit.,unitName:string\tThe unit name."},
    {"~", kComplement, kFixedMethod, nullptr},
    {"!", kNot, kFixedMethod, nullptr},
    {"+", kPlus, kFixedMethod, nullptr},
    {"-", kMinus, kFixedMethod, nullptr},
    {"*", kTimes, kFixedMethod, nullptr},
    {"/", kDivide, kFixedMethod, nullptr},
    {"%", kRemainder, kFixedMethod, nullptr},
    {"<", kLess, kFixedMethod, nullptr},
    {"<=", kLessOrEqual, kFixedMethod, nullptr},
    {"==", kEqual, kFixedMethod, nullptr},
    {"===", kStrictEqual, kFixedMethod, nullptr},
    {nullptr, 0, 0, nullptr},
};

const LivePropertyInfo kClassRows[] = {
    {"baseUnit", kBaseUnit, kFixedReadWrite, "UnitValue\tThe base unit."},
    {nullptr, 0, 0, nullptr},
};

LivePropertyManager* instanceTable = nullptr;
LivePropertyManager* classTable = nullptr;

// "*" any unit, "?" no unit, else a registered name.
i32 unitByName(const String& name, u32* unit) {
    if (name.compare("*") == 0) {
        *unit = kUnitAny;
        return 0;
    }
    if (name.compare("?") == 0) {
        *unit = kUnitNone;
        return 0;
    }
    return UnitConverter::findUnitByName(name, unit);
}

// A unit value from a script value: null gives none; other values convert.
bool unitValueOf(const Variant& value, UnitValue& out) {
    if (const UnitValue* held = value.getUnitValue()) {
        out = *held;
        return true;
    }
    Variant converted(value);
    converted.convertTo(Variant::kUnitValue);
    const UnitValue* made = converted.getUnitValue();
    if (!made)
        return false;
    out = *made;
    return true;
}

// The effective base: its own, or the thread's default.
UnitValue baseOf(const UnitValue& value) {
    UnitValue base(value.baseUnit, value.baseValue);
    if (value.baseUnit == kUnitNone)
        UnitValue::getDefaultBase(base);
    return base;
}

// "+" and "-" of two unit values: directly in one unit, else through the
// base values, the result in the left side's unit.
bool addUnitValues(const UnitValue& left, const UnitValue& right, bool subtract, UnitValue& out) {
    out = UnitValue(left.unit, 0);
    if (left.unit == right.unit) {
        out.value = subtract ? left.value - right.value : left.value + right.value;
        return true;
    }
    UnitValue a, b;
    if (left.getBaseValue(a) != 0 || right.getBaseValue(b) != 0 || a.unit != b.unit)
        return false;
    UnitValue sum(a.unit, subtract ? a.value - b.value : a.value + b.value);
    return sum.as(left.unit, out);
}

// "/" as the class divides: by 0 a signed infinity, but 0 / 0 and NaN / 0
// are NaN.
f64 divide(f64 dividend, f64 divisor) {
    if (divisor != 0)
        return dividend / divisor;
    if (dividend == 0 || std::isnan(dividend))
        return kNaN;
    return dividend < 0 ? -INFINITY : INFINITY;
}

}  // namespace

// ---------------------------------------------------------------------------
// UnitValueObject

UnitValueObject::UnitValueObject() : LiveObject("UnitValue", false) {
    propertyManager = instanceTable;
}

UnitValueObject::UnitValueObject(const UnitValue& value) : UnitValueObject() {
    if (auto* held = static_cast<Variant*>(LiveObject::getInterface(kValueInterface)))
        held->setUnitValue(value);
}

void UnitValueObject::make(Variant& out, const UnitValue& value) {
    auto* object = new UnitValueObject(value);
    out.setLiveObject(*object, 0);
    object->release();
}

UnitValue* UnitValueObject::getUnitValue() const {
    return data && data->value ? data->value->getUnitValue() : nullptr;
}

void* UnitValueObject::getInterface(u32 code) {
    return code == kUnitValueInterface ? getUnitValue() : LiveObject::getInterface(code);
}

const void* UnitValueObject::getInterface(u32 code) const {
    return const_cast<UnitValueObject*>(this)->getInterface(code);
}

bool UnitValueObject::equals(const LiveObject& other) const {
    const UnitValue* mine = getUnitValue();
    auto* theirs = static_cast<const UnitValue*>(other.getInterface(kUnitValueInterface));
    return mine && theirs && mine->equals(*theirs) && LiveObject::equals(other);
}

void UnitValueObject::toString(String& text) {
    if (const UnitValue* value = getUnitValue())
        value->toString(text);
    else
        text = "Invalid unit value";
}

// One argument: its text; two: a number and a unit name.
i32 UnitValueObject::initialize(const Array& args, Error* error) {
    auto* held = static_cast<Variant*>(LiveObject::getInterface(kValueInterface));
    if (!held)
        return Err::kOutOfMemory;
    return statusOf([&] {
        if (args.length() == 1) {
            held->setUnitValue(UnitValue(args[0].toString()));
        } else if (args.length() >= 2) {
            u32 unit;
            i32 status = unitByName(args[1].toString(), &unit);
            if (status != 0)
                return setPropertyError(status, kSelfCallId, error);
            held->setUnitValue(UnitValue(unit, args[0].toNumber()));
        }
        return 0;
    });
}

i32 UnitValueObject::get(i32 id, Variant& result, Error* error) {
    if (id != kType && id != kValue && id != kBaseUnit)
        return LiveObject::get(id, result, error);
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    return setPropertyError(statusOf([&] {
        const UnitValue* value = getUnitValue();
        if (id == kValue) {
            result.setNumber(value ? value->value : kNaN);
        } else if (id == kBaseUnit) {
            make(result, baseOf(value ? *value : UnitValue()));
        } else {
            String name;
            if (value && value->unit == kUnitAny)
                name = "*";
            else if (!value || UnitConverter::getUnitText(value->unit, kUnitAbbreviation, name) != 0)
                name = "?";
            result.setString(name);
        }
        return 0;
    }), id, error);
}

i32 UnitValueObject::put(i32 id, const Variant& value, Error* error) {
    if (id != kType && id != kValue && id != kBaseUnit)
        return LiveObject::put(id, value, error);
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    if (id == kType)
        return setPropertyError(Err::kReadOnly, id, error);
    i32 status = statusOf([&] {
        auto* held = static_cast<Variant*>(LiveObject::getInterface(kValueInterface));
        if (!held)
            return Err::kOutOfMemory;
        if (!getUnitValue())
            held->setUnitValue(UnitValue());
        UnitValue& mine = *getUnitValue();
        if (id == kValue) {
            mine.value = value.toNumber();
        } else if (value.getType() == Variant::kNull) {
            mine.baseUnit = kUnitNone;
            mine.baseValue = 0;
        } else {
            UnitValue base;
            if (!unitValueOf(value, base))
                return Err::kCannotConvert;
            mine.baseUnit = base.unit;
            mine.baseValue = base.value;
        }
        return 0;
    });
    if (status == 0 && getContainer())
        updateContainer(nullptr);
    return setPropertyError(status, id, error);
}

namespace {

// The operators of one unit value; results start as NaN, and "no result"
// leaves them undefined for the caller's own rule.
struct Operators {
    const UnitValue& self;
    const Array& args;
    Variant& result;

    const Variant& operand() const { return args[0]; }
    bool reversed() const { return args[1].toBoolean(); }

    void unitResult(u32 unit, f64 value) { UnitValueObject::make(result, UnitValue(unit, value)); }

    void addOrSubtract(bool subtract) {
        if (args.length() == 0) {
            unitResult(self.unit, subtract ? -self.value : self.value);
            return;
        }
        if (operand().getType() == Variant::kString) {
            result.clear();
            return;
        }
        if (const UnitValue* other = operand().getUnitValue()) {
            UnitValue sum;
            const bool swap = reversed();
            if (addUnitValues(swap ? *other : self, swap ? self : *other, subtract, sum))
                unitResult(sum.unit, sum.value);
            return;
        }
        f64 number = operand().toNumber();
        if (std::isnan(number))
            return;
        f64 left = reversed() ? number : self.value;
        f64 right = reversed() ? self.value : number;
        unitResult(self.unit, subtract ? left - right : left + right);
    }

    void multiplicative(i32 id) {
        const UnitValue* other = operand().getUnitValue();
        f64 number;
        if (other) {
            UnitValue copy = *other;
            if (!copy.convert(self.unit))
                return;
            number = copy.value;
        } else {
            number = operand().toNumber();
        }
        if (std::isnan(number))
            return;
        f64 left = reversed() ? number : self.value;
        f64 right = reversed() ? self.value : number;
        f64 value = id == kTimes ? left * right
                    : id == kDivide ? divide(left, right)
                    : right == 0 ? kNaN : std::fmod(left, right);
        if (other)
            result.setNumber(value);
        else
            unitResult(self.unit, value);
    }

    // Against a unit value or a number that is not NaN; anything else has
    // no result, so that the caller's rule decides.
    void relational(i32 id) {
        i32 order;
        if (const UnitValue* other = operand().getUnitValue()) {
            order = self.compare(*other);
        } else if (operand().getType() == Variant::kNumber && !operand().isNaN()) {
            order = self.compare(UnitValue(self.unit, operand().toNumber()));
        } else {
            result.clear();
            return;
        }
        if (order != UnitValue::kUnordered && reversed())
            order = -order;
        bool answer = order != UnitValue::kUnordered &&
                      (id == kLess ? order < 0 : id == kLessOrEqual ? order <= 0 : order == 0);
        result.setBool(answer);
    }

    i32 run(i32 id) {
        result.setNaN();
        switch (id) {
            case kComplement:
                unitResult(self.unit, f64(~Variant(self.value).toInt()));
                break;
            case kNot:
                result.setBool(self.value == 0);
                break;
            case kPlus:
            case kMinus:
                addOrSubtract(id == kMinus);
                break;
            case kTimes:
            case kDivide:
            case kRemainder:
                multiplicative(id);
                break;
            default:
                relational(id);
                break;
        }
        return 0;
    }
};

bool isOperatorOfClass(i32 id) {
    for (const LivePropertyInfo* row = kInstanceRows; row->name; row++)
        if (row->id == id && isOperatorId(id))
            return true;
    return false;
}

}  // namespace

i32 UnitValueObject::invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
                            Error* error) {
    if (id != kConvert && id != kAs && !isOperatorOfClass(id))
        return LiveObject::invoke(target, id, args, result, error);
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    i32 status = statusOf([&] {
        UnitValue* value = getUnitValue();
        if (!value)
            return Err::kInvalidObject;
        if (id != kConvert && id != kAs)
            return Operators{*value, args, result}.run(id);
        u32 unit;
        bool found = unitByName(args[0].toString(), &unit) == 0;
        if (id == kConvert) {
            result.setBool(found && value->convert(unit));
        } else {
            UnitValue converted;
            result.setNumber(found && value->as(unit, converted) ? converted.value : kNaN);
        }
        return 0;
    });
    return setPropertyError(status, id, error);
}

// ---------------------------------------------------------------------------
// The class object

UnitValueObjectFactory::UnitValueObjectFactory() : LiveObject("UnitValue", false) {
    propertyManager = classTable;
    flags |= kLiveFactory;
    if (auto* held = static_cast<Variant*>(getInterface(kValueInterface)))
        held->setUnitValue(UnitValue());
}

i32 UnitValueObjectFactory::get(i32 id, Variant& result, Error* error) {
    if (id != kBaseUnit)
        return LiveObject::get(id, result, error);
    result.clear();
    return setPropertyError(statusOf([&] {
        UnitValue base;
        UnitValue::getDefaultBase(base);
        UnitValueObject::make(result, base);
        return 0;
    }), id, error);
}

// A unit value sets the default base; null puts back one point (1/72 inch).
i32 UnitValueObjectFactory::put(i32 id, const Variant& value, Error* error) {
    if (id != kBaseUnit)
        return LiveObject::put(id, value, error);
    return setPropertyError(statusOf([&] {
        UnitValue base(kUnitInch, 1.0 / 72);
        if (value.getType() != Variant::kNull && !unitValueOf(value, base))
            return Err::kCannotConvert;
        UnitValue::setDefaultBase(base);
        return 0;
    }), id, error);
}

// Called as a function it constructs; its clone method makes the object
// that construction by name fills.
i32 UnitValueObjectFactory::invoke(LiveObject& target, i32 id, const Array& args,
                                   Variant& result, Error* error) {
    if (id != kSelfCallId && id != kCloneMethodId)
        return LiveObject::invoke(target, id, args, result, error);
    result.clear();
    return setPropertyError(statusOf([&] {
        auto* made = new UnitValueObject;
        RefcountablePtr hold(made);
        i32 status = id == kSelfCallId ? made->initialize(args, error) : 0;
        if (status == 0)
            result.setLiveObject(*made, 0);
        return status;
    }), id, error);
}

// ---------------------------------------------------------------------------
// Module

void initUnitValueClass(bool start) {
    if (start) {
        LiveObject::registerBuiltInClass(kInstanceRows, kClassRows, instanceTable, classTable,
                                         [] { return static_cast<LiveObject*>(new UnitValueObjectFactory); },
                                         kClientMaskBits);
        return;
    }
    LiveObject::unregisterClass(String("UnitValue"));
    delete instanceTable;
    delete classTable;
    instanceTable = nullptr;
    classTable = nullptr;
}

}  // namespace LxCore
