// Boolean: conversion, wrapping and the text forms.
#include "script/library/BooleanClass.h"

#include "script/library/LibrarySupport.h"

namespace LxScript {

namespace {

void booleanConstructor(Arguments& args) {
    const bool value = args.arg(0).toBoolean();
    if (args.mode == Arguments::kConstruct) {
        if (Object* self = thisObject(args))
            self->getPrivateValue().setBool(value);
        return;
    }
    args.result->setBool(value);
}

const char* truthText(const Arguments& args) {
    return internalValueOf(args).toBoolean() ? "true" : "false";
}

void booleanToSource(Arguments& args) {
    LxCore::String text("(new Boolean(");
    text += truthText(args);
    text += "))";
    args.result->setString(text);
}

void booleanToString(Arguments& args) { args.result->setString(truthText(args)); }

const PropEntry kBooleanTable[] = {
    {"Boolean", 1, kHiddenMethod, booleanConstructor, "Boolean,obj:any"},
    {"toSource", 0, kInstanceMethod, booleanToSource, "string"},
    {"toString", 0, kInstanceMethod, booleanToString, "string"},
    {"valueOf", 0, kInstanceMethod, internalValueHandler, "boolean"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsBooleanClass::jsBooleanClass() : Dispatcher("JavaScript") {
    addClass("Boolean");
    registerProperties(0, kBooleanTable);
}

Dispatcher* newBooleanClass(const char*) { return new jsBooleanClass; }

}  // namespace LxScript
