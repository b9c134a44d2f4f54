// Number: conversion, wrapping and the number texts.
#include "script/library/NumberClass.h"

#include <cfloat>
#include <limits>

#include "core/NumberText.h"
#include "script/library/LibrarySupport.h"
#include "script/library/NumberFormat.h"

namespace LxScript {

using LxCore::String;

namespace {

f64 thisNumber(const Arguments& args) { return internalValueOf(args).toNumber(); }

void answerText(Arguments& args, const String& text) { args.result->setString(text); }

// A decimal integer up to trailing white space first, so "010" stays ten;
// what that cannot read gets the ordinary conversion ("1.5", "0x10").
void numberConstructor(Arguments& args) {
    f64 value = 0;
    if (args.count() > 0) {
        const Variant& what = args.arg(0);
        value = LxCore::parseInteger(what.toString(), 10, LxCore::kParseToWhiteSpace);
        if (value != value)
            value = what.toNumber();
    }
    if (args.mode == Arguments::kConstruct) {
        if (Object* self = thisObject(args))
            self->getPrivateValue().setNumber(args.count() > 0 ? args.arg(0).toNumber() : 0);
        return;
    }
    args.result->setNumber(value);
}

void numberToSource(Arguments& args) {
    String text("(new Number(");
    text += internalValueOf(args).toString();
    text += "))";
    answerText(args, text);
}

// The radix is the first argument, 10 when it is 0 or absent; other radixes
// write the integer part.
u32 radixOf(const Arguments& args) {
    const i32 radix = args.count() > 0 ? args.arg(0).toInt() : 0;
    return radix == 0 ? 10 : u32(radix);
}

String numberText(const Arguments& args) {
    Variant value(thisNumber(args));
    value.makeString(radixOf(args));
    return *value.getText();
}

void numberToString(Arguments& args) { answerText(args, numberText(args)); }

void numberToLocaleString(Arguments& args) {
    String text = numberText(args);
    const i32 point = text.find(LxCore::unit('.'));
    if (point >= 0)
        text.setAt(point, getLocaleDecimalPoint());
    answerText(args, text);
}

void numberToFixed(Arguments& args) {
    String text;
    if (formatFixed(thisNumber(args), args.arg(0).toInt(), text) != 0)
        return raise(args, Err::kOutOfRange, args.arg(0).toString());
    answerText(args, text);
}

void numberToExponential(Arguments& args) {
    String text;
    const i32 error = formatExponential(thisNumber(args), args.arg(0).toInt(), text);
    answerText(args, text);
    if (error)
        raise(args, error, args.arg(0).toString());
}

void numberToPrecision(Arguments& args) {
    String text;
    const i32 error = formatPrecision(thisNumber(args), args.arg(0).toInt(), text);
    answerText(args, text);
    if (error)
        raise(args, error, args.arg(0).toString());
}

const PropEntry kNumberTable[] = {
    {"Number", 1, kHiddenMethod | kArgsToNumber, numberConstructor, "Number,what:any"},
    {"MIN_VALUE", 'i', kStatic | kReadOnlyValue, nullptr, "number"},
    {"MAX_VALUE", 'x', kStatic | kReadOnlyValue, nullptr, "number"},
    {"NaN", 'n', kStatic | kReadOnlyValue, nullptr, "number"},
    {"NEGATIVE_INFINITY", 'f', kStatic | kReadOnlyValue, nullptr, "number"},
    {"POSITIVE_INFINITY", 'F', kStatic | kReadOnlyValue, nullptr, "number"},
    {"toSource", 0, kInstanceMethod, numberToSource, "number"},
    {"toString", 0, kInstanceMethod, numberToString, "number"},
    {"toLocaleString", 1, kInstanceMethod, numberToLocaleString, "number,decimals:number"},
    {"toFixed", 1, kInstanceMethod, numberToFixed, "number,decimals:number"},
    {"toExponential", 1, kInstanceMethod, numberToExponential, "number,decimals:number"},
    {"toPrecision", 1, kInstanceMethod, numberToPrecision, "number,decimals:number"},
    {"valueOf", 0, kInstanceMethod, internalValueHandler, "number"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsNumberClass::jsNumberClass() : Dispatcher("JavaScript") {
    addClass("Number");
    registerProperties(0, kNumberTable);
}

// MIN_VALUE is the smallest normal double, not the smallest denormal.
void jsNumberClass::get(Arguments& args) {
    f64 value;
    switch (args.mode) {
        case 'i': value = DBL_MIN; break;
        case 'x': value = DBL_MAX; break;
        case 'n': value = std::numeric_limits<f64>::quiet_NaN(); break;
        case 'f': value = -std::numeric_limits<f64>::infinity(); break;
        case 'F': value = std::numeric_limits<f64>::infinity(); break;
        default: return;
    }
    args.result->setNumber(value);
}

Dispatcher* newNumberClass(const char*) { return new jsNumberClass; }

}  // namespace LxScript
