// The Error class.
#include "script/library/ErrorClass.h"

#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/Localizer.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/frontend/Node.h"
#include "script/library/LibrarySupport.h"
#include "script/library/SourceText.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// What a new Error object carries, in the order its properties are made.
struct ErrorFields {
    i32 code = Err::kText;
    String fileName;
    i32 line = -1;              // 0-based until written
    String source;
    i32 start = 0;
    i32 end = 0;
    String message;
    String name;
};

// A frame's file id names a file: no anonymous script (those have numbers).
bool namesFile(DataPoolId file) {
    DataPool& p = pool();
    if (file == 0 || DataPool::isIntegerId(file) || file == Sym::kMinusZero)
        return false;
    return u32(file) <= u32(DataPool::kLastPredefined) || !p._isInteger(file);
}

// File, source and line of the innermost frame that runs a named file.
void takeFrameDefaults(RealEngine& engine, ErrorFields& fields) {
    const RuntimeEnv* chosen = nullptr;
    for (const RuntimeEnv* frame = engine.getCurrentFrame(); frame; frame = frame->previous) {
        chosen = frame;
        if (namesFile(frame->fileId))
            break;
    }
    if (!chosen)
        return;
    fields.fileName = pool().getSymbol(chosen->fileId);
    fields.line = chosen->line;
    if (const ScopeInfo* info = chosen->getScopeInfo())
        fields.source = info->source;
}

// The pending error's number (its oldest record's) and position (its
// newest record's).
void takeErrorDefaults(const LxCore::Error& error, ErrorFields& fields) {
    const LxCore::ErrorRecord* newest = error.getRecord();
    for (const LxCore::ErrorRecord* r = newest; r; r = r->next)
        fields.code = r->code;
    fields.fileName = newest->fileName;
    fields.source = newest->source;
    fields.line = newest->line;
    fields.start = newest->start > 0 ? newest->start : 0;
    fields.end = fields.start + newest->length;
}

String errorClassName(i32 code) {
    String message;
    String className;
    if (!LxCore::Error::getInfo(code, message, className) || className.isEmpty())
        return String("Error");
    return className;
}

String defaultText(i32 code) {
    String message;
    String className;
    LxCore::Error::getInfo(code, message, className);
    return message;
}

bool given(const Arguments& args, u32 i) {
    return i < args.count() && args.arg(i).getType() != Variant::kUndefined;
}

void putFields(Object& self, const ErrorFields& f) {
    const struct {
        const char* name;
        Variant value;
    } properties[] = {
        {"number", Variant(f.code)},     {"fileName", Variant(f.fileName)}, {"line", Variant(f.line)},
        {"source", Variant(f.source)},   {"start", Variant(f.start)},       {"end", Variant(f.end)},
        {"message", Variant(f.message)}, {"name", Variant(f.name)},
    };
    self.setClassID(Sym::kError);
    for (const auto& p : properties)
        self.put(pool().add(p.name), p.value, kPutDefine);
}

// Called, it constructs an object of the class it was called as; new
// fills the object from the pending error or the running script, then
// from the arguments.
void construct(Arguments& args) {
    RealEngine& engine = engineOf(args);
    const String called = args.name ? args.name->toString() : String("Error");
    if (args.mode != Arguments::kConstruct) {
        const DataPoolId cls = pool().add(called.chars());
        Variant constructor;
        if (Object* global = engine.getGlobalObject())
            global->get(cls, constructor, 0);
        engine.newObject(*args.result, cls, args.args, objectOf(constructor));
        return;
    }
    Object* self = thisObject(args);
    if (!self)
        return;
    ErrorFields f;
    const LxCore::Error& pending = engine.getError();
    const bool errorPendingBefore = pending.getCode() != 0;
    if (errorPendingBefore)
        takeErrorDefaults(pending, f);
    else
        takeFrameDefaults(engine, f);
    pending.getMessage(f.message);
    f.line += 1;
    const bool numberGiven = args.count() > 0 && args.arg(0).getType() == Variant::kNumber;
    if (numberGiven) {
        f.code = args.arg(0).toInt();
        f.message = given(args, 1) ? args.arg(1).toString() : defaultText(f.code);
        if (given(args, 2))
            f.line = args.arg(2).toInt();
        if (given(args, 3))
            f.source = args.arg(3).toString();
    } else if (args.count() > 0) {
        f.message = args.arg(0).toString();
        if (given(args, 1))
            f.fileName = args.arg(1).toString();
        if (given(args, 2))
            f.line = args.arg(2).toInt();
    }
    // Conversions above may have failed; a pending error of ours stays.
    if (!errorPendingBefore && errorPending(args))
        return;
    f.name = !numberGiven && !errorPendingBefore ? called : errorClassName(f.code);
    putFields(*self, f);
}

void runtimeError(Arguments& args) {
    const i32 code = args.arg(0).toInt();
    if (code != 0)
        args.engine->setError(code, args.arg(1).toString(), -1, false);
}

String propertyText(Object& self, const char* name) {
    Variant value;
    self.get(pool().add(name), value, 0);
    return value.toString();
}

void toString(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    const String name = propertyText(*self, "name");
    const String message = propertyText(*self, "message");
    if (errorPending(args))
        return;
    String key;
    key.sprintf("$$$/CT/Tavrel/Errors/%ls=%ls", name.chars(), name.chars());
    String text = LxCore::Localizer::localize(key, nullptr);
    if (!message.isEmpty()) {
        text += ": ";
        text += message;
    }
    args.result->setString(text);
}

// eval() reads it back: a name that is no identifier is written "Error".
void toSource(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    String name = propertyText(*self, "name");
    const String message = propertyText(*self, "message");
    if (errorPending(args))
        return;
    if (!isPlainName(name))
        name = "Error";
    String out("(new ");
    out += name;
    out += " (";
    appendQuoted(out, message, false);
    out += "))";
    args.result->setString(out);
}

void description(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    const DataPoolId message = pool().add("message");
    if (args.mode == Arguments::kPut)
        self->put(message, args.arg(0), 0);
    else if (args.mode == Arguments::kGet)
        self->get(message, *args.result, 0);
}

const PropEntry kErrorTable[] = {
    {"Error", 3, kHiddenMethod | kArgsToNumber, construct, "Error,msg:string,file:string,line:number"},
    {"runtimeError", 1, kStaticMethod | kArgsToString, runtimeError, "code:number,text:string"},
    {"toString", 0, kMethod, toString, "string"},
    {"toSource", 0, kMethod, toSource, "string"},
    {"description", 0, kNativeValue | kDontDelete, description, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsErrorClass::jsErrorClass() : Dispatcher("JavaScript") { registerProperties(0, kErrorTable, "Error"); }

Dispatcher* newErrorClass(const char*) { return new jsErrorClass; }

}  // namespace LxScript
