#include "script/library/dollar/DollarClass.h"

#include <chrono>
#include <thread>

#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Dictionary.h"
#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/Localizer.h"
#include "core/Point.h"
#include "core/platform/Environment.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/library/NumberFormat.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/reflection/Reflection.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr const char* kVersion = "4.5.5";
constexpr const char* kBuild = "80.1060872";
constexpr const char* kBuildDate = "2016/01/26-16:09:33";

// Debug flag bits the $ object reads and writes.
constexpr u32 kStrictFlag = 0x100;
constexpr u32 kLocalizeFlag = 0x200;
constexpr u32 kEmbeddingGuard = 0x800;      // the embedding forbids level changes

// $.sleep waits in steps of this many milliseconds, checking the deadline.
constexpr u32 kSleepStep = 100;
constexpr i32 kMaxFileRead = 0x7FFFFFFF;

enum ValueId : i32 {
    kError = 1, kVersionId = 2, kBuildId = 3, kBuildDateId = 4, kGlobal = 5, kStack = 6, kLevel = 7,
    kFlags = 8, kStrict = 9, kLocale = 10, kLocalize = 11, kMemCache = 12, kOS = 13, kObjects = 14,
    kFileName = 15, kDictionary = 16, kEngineName = 17, kIncludePath = 19, kLine = 20,
    kHiresTimer = 21, kDecimalPoint = 22, kAppEncoding = 23,
};

Dispatcher* theDispatcher = nullptr;

RealEngine* engineOf(const Arguments& args) { return static_cast<RealEngine*>(args.engine); }

String argText(const Arguments& args, u32 i) { return args.arg(i).toString(); }

bool isUndefined(const Variant& v) { return v.getType() == Variant::kUndefined; }

// The debug flags and the effective debug flags take the same change.
void switchFlag(RealEngine& engine, u32 bit, bool on) {
    const u32 flags = engine.getDebugFlags(), effective = engine.getEffectiveDebugFlags();
    engine.setDebugFlags(on ? flags | bit : flags & ~bit);
    engine.setEffectiveDebugFlags(on ? effective | bit : effective & ~bit);
}

// Both words become value; each keeps its own embedding guard bit.
void writeFlags(RealEngine& engine, u32 value) {
    value &= ~kEmbeddingGuard;
    engine.setDebugFlags(value | (engine.getDebugFlags() & kEmbeddingGuard));
    engine.setEffectiveDebugFlags(value | (engine.getEffectiveDebugFlags() & kEmbeddingGuard));
}

bool guarded(const RealEngine& engine) {
    return ((engine.getDebugFlags() | engine.getEffectiveDebugFlags()) & kEmbeddingGuard) != 0;
}

bool evalText(RealEngine& engine, const String& text, Variant& result) {
    return engine.eval(text, &result, 0, 0, nullptr, nullptr);
}

void buildDateValue(RealEngine& engine, Variant& result) {
    int part[6];
    String text;
    if (std::sscanf(kBuildDate, "%d/%d/%d-%d:%d:%d", &part[0], &part[1], &part[2], &part[3], &part[4],
                    &part[5]) == 6)
        text.sprintf("new Date(%d,%d,%d,%d,%d,%d)", part[0], part[1] - 1, part[2], part[3], part[4],
                     part[5]);
    else
        text.sprintf("new Date (Date.parse (\"%s\"));", kBuildDate);
    evalText(engine, text, result);
}

String appEncodingName() {
    String names;
    if (LxCore::Encoder* encoder = LxCore::currentEncoder())
        encoder->getNames(names);
    const LxCore::unit comma = ',';
    const i32 at = names.indexOf(&comma, 1);
    return at < 0 ? names : names.substr(0, at);
}

// "$.level = n" under the embedding's guard: refused, with an alert for
// levels that would switch debugging on.
void refuseLevel(RealEngine& engine, i32 level) {
    if (level < 1)
        return;
    String path;
    i32 line = 0;
    if (DebugAPI* debug = debugAPIOf(engine)) {
        if (const i32 file = debug->getSourceFileID())
            LxCore::FileSpec(DataPool::get().getSymbol(file), false).getNativePath(path);
        line = debug->getSourceLine() + 1;
    }
    String text;
    text.sprintf("Attempt to set $.level to %ld without permission!\nScript: %ls\nLine: %ld", long(level),
                 path.chars(), long(line));
    LxCore::showAlert(text);
}

// ---------------------------------------------------------------------------
// Methods

void about(Arguments& args) {
    String text("The Tavrel scripting engine\n");
    text += "An embeddable ECMAScript engine with E4X and a debugger interface\n";
    text += "Version 4.5.5\nBuild version 80.1060872\nBuild date 2016/01/26-16:09:33 \n";
    if (RealEngine* engine = engineOf(args)) {
        Variant window, version;
        if (evalText(*engine, String("this.Window"), window) && !isUndefined(window) &&
            evalText(*engine, String("this.Window.version"), version) && !isUndefined(version)) {
            text += "\nPanelkit version ";
            text += version.toString();
        }
        engine->clearError();
    }
    text += "\n\nTavrel is built from its own sources by its own developers.\n";
    LxCore::showAlert(String("About Tavrel"), text);
    args.result->setString(text);
}

void toString(Arguments& args) { args.result->setString(String("[Helper Object]")); }

void writeOut(Arguments& args, bool newline) {
    String text;
    for (u32 i = 0; i < args.count(); i++)
        text += argText(args, i);
    if (newline)
        text += LxCore::unit('\n');
    text.convertLineFeeds(0);
    RealEngine* engine = engineOf(args);
    if (!engine)
        return;
    if (Debugger* hook = engine->getDebugger()) {
        LxCore::LockableGuard guard(*hook);
        hook->writeText(*engine, text);
        return;
    }
    DebugAPI* debug = debugAPIOf(*engine);
    if (LxCore::File* stream = debug ? debug->getOutputStream() : nullptr) {
        stream->write(text, true);
        stream->flush();
    }
}

void write(Arguments& args) { writeOut(args, false); }
void writeln(Arguments& args) { writeOut(args, true); }

void bp(Arguments& args) {
    const String condition = isUndefined(args.arg(0)) ? String() : argText(args, 0);
    if (RealEngine* engine = engineOf(args))
        if (DebugAPI* debug = debugAPIOf(*engine))
            debug->debugBreak(condition);
}

void getenvHandler(Arguments& args) {
    String value;
    if (LxCore::getEnvironmentVariable(argText(args, 0), value))
        args.result->setString(value);
    else
        args.result->setNull();
}

void setenvHandler(Arguments& args) {
    if (args.count() >= 2)
        LxCore::setEnvironmentVariable(argText(args, 0), argText(args, 1));
    args.result->clear();
}

SleepStep sleepStepForTests = nullptr;

void sleepFor(u32 ms) {
    if (sleepStepForTests)
        return sleepStepForTests(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void sleepHandler(Arguments& args) {
    u32 left = u32(args.arg(0).toInt());
    RealEngine* engine = engineOf(args);
    while (left > kSleepStep) {
        sleepFor(kSleepStep);
        left -= kSleepStep;
        if (engine && !engine->checkTimeoutNow())
            return;
    }
    if (left > 0)
        sleepFor(left);
}

void getDictionary(Arguments& args) {
    makeDictionaryObject(*args.result, LxCore::Dictionary::find(argText(args, 0)));
}

void colorPicker(Arguments& args) {
    const i32 color = isUndefined(args.arg(0)) ? -1 : args.arg(0).toInt();
    args.result->setNumber(LxCore::showColorPicker(color));
}

// The folder as one element of an include path: the path's separators and
// the escape character are escaped, as its reader decodes them.
String includeElement(const String& folder) {
    String out;
    for (i32 i = 0; i < folder.length(); i++) {
        const LxCore::unit c = folder[i];
        if (c == '%')
            out += "%25";
        else if (c == ';')
            out += "%3B";
        else if (c == ':')
            out += "%3A";
        else
            out += c;
    }
    return out;
}

i32 readScriptFile(const LxCore::FileSpec& spec, String& text) {
    if ((spec.getAttributes() & (4 | 8)) == 0)
        return Err::kFileNotFound;
    LxCore::File file(spec);
    i32 status = file.openScript();
    if (status == 0)
        status = file.read(kMaxFileRead, text);
    file.close();
    if (status == 0 && text.length() >= 5 && text[0] == '{' && text[1] == '\\' && text[2] == 'r' &&
        text[3] == 't' && text[4] == 'f')
        status = Err::kIOError;
    return status;
}

void evalFile(Arguments& args) {
    RealEngine* engine = engineOf(args);
    if (!engine)
        return;
    const String name = argText(args, 0);
    const LxCore::FileSpec spec(name, false);
    String text;
    if (const i32 status = readScriptFile(spec, text)) {
        engine->setError(status, name, -1, false);
        return;
    }
    String uri, path, folder;
    spec.toURI(uri, false);
    spec.getNativePath(path);
    const LxCore::unit separator = '/';
    const i32 slash = path.lastIndexOf(&separator, 1);
    folder = slash <= 0 ? String("/") : path.substr(0, slash);
    // The saved path goes back on every way out, exactly as it was.
    struct IncludePathScope {
        RealEngine& engine;
        String saved;
        ~IncludePathScope() { engine.setIncludePath(saved); }
    } scope{*engine, engine->getIncludePath()};
    String includes = includeElement(folder);
    includes += LxCore::unit(';');
    includes += scope.saved;
    engine->setIncludePath(includes);
    engine->eval(text, args.result, engine->timeoutWithinRun(args.arg(1).toInt()), 0, nullptr, &uri);
}

String classFilter(const Arguments& args) { return isUndefined(args.arg(0)) ? String() : argText(args, 0); }

void list(Arguments& args) {
    if (RealEngine* engine = engineOf(args))
        args.result->setString(engine->getObjects().listObjects(classFilter(args)));
}

void listLO(Arguments& args) {
    if (RealEngine* engine = engineOf(args))
        args.result->setString(engine->getObjects().listLiveObjects(classFilter(args)));
}

void summary(Arguments& args) {
    if (RealEngine* engine = engineOf(args))
        args.result->setString(engine->getObjects().summarizeObjects(classFilter(args)));
}

void gc(Arguments& args) {
    if (RealEngine* engine = engineOf(args))
        engine->collectGarbage();
    args.result->clear();
}

void screens(Arguments& args) {
    RealEngine* engine = engineOf(args);
    if (!engine)
        return;
    LxCore::TSimpleArray<LxCore::Rect> monitors;
    LxCore::getMonitorRects(monitors);
    String text("[");
    for (i32 i = 0; i < monitors.getCount(); i++) {
        const LxCore::Rect& r = *monitors.get(i);
        String entry;
        entry.sprintf("%s{ left:%ld,top:%ld,right:%ld,bottom:%ld,primary:%s,toString:function(){ return "
                      "this.left+':'+this.top+'-'+this.right+':'+this.bottom;}}",
                      i == 0 ? "" : ",", long(r.left), long(r.top), long(r.right), long(r.bottom),
                      i == 0 ? "true" : "false");
        text += entry;
    }
    text += "]";
    for (i32 i = 0; i < monitors.getCount(); i++)
        delete monitors.get(i);
    evalText(*engine, text, *args.result);
}

const PropEntry kTable[] = {
    {"error", kError, kStatic | kNativeValue | kDontDelete, nullptr, "Error\tThe current runtime error"},
    {"version", kVersionId, kStatic | kDontDelete | kReadOnly, nullptr, "string\tThe Tavrel version"},
    {"build", kBuildId, kStatic | kDontDelete | kReadOnly, nullptr, "number\tThe Tavrel build number"},
    {"buildDate", kBuildDateId, kStatic | kDontDelete | kReadOnly, nullptr, "Date\tThe Tavrel build date"},
    {"global", kGlobal, kStatic | kDontDelete | kReadOnly, nullptr, "Object\tA reference to the global object"},
    {"stack", kStack, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr, "string\tThe current stack trace"},
    {"level", kLevel, kStatic | kNativeValue | kDontDelete, nullptr, "number\tThe debugging level"},
    {"flags", kFlags, kStatic | kNativeValue | kDontDelete, nullptr, "number\tDebugging flags"},
    {"strict", kStrict, kStatic | kNativeValue | kDontDelete, nullptr, "bool\tSet to true to enforce strict mode"},
    {"locale", kLocale, kStatic | kNativeValue | kDontDelete, nullptr, "string\tThe current locale"},
    {"localize", kLocalize, kStatic | kNativeValue | kDontDelete, nullptr,
     "bool\tSet to true to enable auto-localization"},
    {"decimalPoint", kDecimalPoint, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "string\tThe decimal point separator"},
    {"memCache", kMemCache, kStatic | kNativeValue | kDontDelete, nullptr, "number\tThe memory cache size"},
    {"appEncoding", kAppEncoding, kStatic | kNativeValue | kDontDelete, nullptr,
     "string\tThe default application encoding"},
    {"screens", 0, kStatic | kNativeValue | kDontDelete | kReadOnly, screens,
     "Rectangle;;;;true\tAn array of rectangles, one for each screen"},
    {"os", kOS, kStatic | kDontDelete | kReadOnly, nullptr, "string\tThe operating system"},
    {"fileName", kFileName, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "string\tThe file name of the current script"},
    {"line", kLine, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "number\tThe current line number of the current script"},
    {"hiresTimer", kHiresTimer, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "number\tThe elapsed time in microseconds since the last access"},
    {"dictionary", kDictionary, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "Dictionary\tThe application's main dictionary"},
    {"engineName", kEngineName, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "string\tThe name of the current engine if set"},
    {"includePath", kIncludePath, kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "string\tThe path for include files"},
    {"objects", kObjects, kHidden | kStatic | kNativeValue | kDontDelete | kReadOnly, nullptr,
     "string\tA list of objects"},
    {"$", 0, kStaticMethod | kDontDelete, nullptr, nullptr},
    {"about", 0, kStaticMethod | kDontDelete, about, "string\tAn About box"},
    {"toString", 0, kStatic | kInstanceMethod | kDontDelete, toString, "string\tConverts this object to a string"},
    {"write", 0, kStatic | kInstanceMethod | kArgsToString | kDontDelete, write,
     "undefined\tPrints text,text:string\tThe text to write"},
    {"writeln", 0, kStatic | kInstanceMethod | kArgsToString | kDontDelete, writeln,
     "undefined\tPrints text,text:string\tThe text to write"},
    {"bp", 0, kStatic | kInstanceMethod | kArgsToString | kDontDelete, bp,
     "undefined\tBreaks execution,condition:string\tOptional conditional expression"},
    {"getenv", 1, kStatic | kInstanceMethod | kDontDelete, getenvHandler,
     "string\tReturns an environment variable,name:string\tThe name of the variable"},
    {"setenv", 2, kStatic | kInstanceMethod | kDontDelete, setenvHandler,
     "key:string,value:string\tSets an environment variable,key:string\tThe name of the variable,value:string\tThe "
     "value of the variable"},
    {"sleep", 1, kStatic | kInstanceMethod | kDontDelete, sleepHandler,
     "undefined\tSleep,msecs:number\tNumber of milliseconds to sleep"},
    {"getDictionary", 1, kHidden | kStatic | kInstanceMethod | kDontDelete, getDictionary,
     "undefined\tReturn a named dictionary,name:string\tThe dictionary name"},
    {"colorPicker", 1, kStatic | kInstanceMethod | kDontDelete, colorPicker,
     "number,color:number\tPicks a color; the argument is the color or -1."},
    {"evalFile", 1, kStatic | kInstanceMethod | kDontDelete, evalFile,
     "any\tLoads and evaluates a file,file:File\tThe file to load,timeout:number;;;10000\tThe timeout in msecs."},
    {"list", 1, kStaticMethod | kDontDelete, list, nullptr},
    {"listLO", 1, kStaticMethod | kDontDelete, listLO, nullptr},
    {"summary", 0, kStaticMethod | kDontDelete, summary, nullptr},
    {"gc", 0, kStaticMethod | kDontDelete, gc, "undefined\tRuns the garbage collector"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

DebuggerDisp::DebuggerDisp() : Dispatcher("JavaScript") {
    addClass("$");
    registerProperties(0, kTable);
}

void DebuggerDisp::get(Arguments& args) {
    RealEngine* engine = engineOf(args);
    if (!engine)
        return;
    Variant& result = *args.result;
    switch (i32(args.mode)) {
    case kError: engine->makeErrorObject(result); break;
    case kVersionId: result.setString(String(kVersion)); break;
    case kBuildId: result.setString(String(kBuild)); break;
    case kBuildDateId: buildDateValue(*engine, result); break;
    case kGlobal: result.setObject(engine->getGlobalObject()); break;
    case kStack:
        if (DebugAPI* debug = debugAPIOf(*engine))
            result.setString(debug->getStackTrace(0, 0x7FFFFFFF));
        break;
    case kLevel: result.setNumber(engine->getDebugLevel()); break;
    case kFlags: result.setNumber(engine->getEffectiveDebugFlags()); break;
    case kStrict: result.setBool((engine->getEffectiveDebugFlags() & kStrictFlag) != 0); break;
    case kLocale:
        result.setString(engine->getLocaleText().isEmpty() ? LxCore::Localizer::getCurrentLocale()
                                                           : engine->getLocaleText());
        break;
    case kLocalize: result.setBool((engine->getEffectiveDebugFlags() & kLocalizeFlag) != 0); break;
    case kMemCache: result.setNumber(LxCore::Heap::getCacheSize()); break;
    case kOS: result.setString(LxCore::getOSVersionString()); break;
    case kObjects: result.setNumber(engine->getObjects().getObjectCount()); break;
    case kFileName: getCurrentScriptFile(*engine, result); break;
    case kDictionary: makeDictionaryObject(result, LxCore::Dictionary::getMainDictionary()); break;
    case kEngineName: result.setString(engine->getName()); break;
    case kIncludePath: result.setString(engine->getIncludePath()); break;
    case kLine: {
        u32 line = 0;
        getCurrentScriptPosition(*engine, nullptr, &line);
        result.setNumber(line);
        break;
    }
    case kHiresTimer: result.setNumber(LxCore::f64(LxCore::getHiresTimer())); break;
    case kDecimalPoint: {
        const LxCore::unit point = getLocaleDecimalPoint();
        result.setString(String(&point, 1));
        break;
    }
    case kAppEncoding: result.setString(appEncodingName()); break;
    default: break;
    }
}

void DebuggerDisp::put(Arguments& args) {
    RealEngine* engine = engineOf(args);
    if (!engine)
        return;
    const Variant& value = args.arg(0);
    switch (i32(args.mode)) {
    case kError:
        if (!isUndefined(value))
            engine->setError(Err::kText, value.toString(), -1, false);
        break;
    case kLevel:
        if (guarded(*engine))
            refuseLevel(*engine, value.toInt());
        else
            engine->setDebugLevel(value.toInt());
        break;
    case kFlags:
        // The embedding's guard is not the script's to lift (or to set).
        writeFlags(*engine, u32(value.toInt()));
        break;
    case kStrict: switchFlag(*engine, kStrictFlag, value.toBoolean()); break;
    case kLocale: engine->setLocaleText(value.toBoolean() ? value.toString() : String()); break;
    case kLocalize: switchFlag(*engine, kLocalizeFlag, value.toBoolean()); break;
    case kMemCache: LxCore::Heap::setCacheSize(value.toInt()); break;
    case kAppEncoding:
        if (LxCore::Encoder* encoder = LxCore::findEncoder(value.toString()))
            LxCore::setCurrentEncoder(encoder);
        break;
    default: break;
    }
}

void setSleepStepForTests(SleepStep step) { sleepStepForTests = step; }

void initDollarClass(bool start) {
    delete theDispatcher;
    theDispatcher = start ? new DebuggerDisp : nullptr;
}

Dispatcher* dollarDispatcher() { return theDispatcher; }

bool hasProperFileName(const RuntimeEnv& frame) {
    return frame.fileId != 0 && !DataPool::get().isInteger(frame.fileId);
}

void getCurrentScriptPosition(Engine& engine, String* fileName, u32* line) {
    auto& real = static_cast<RealEngine&>(engine);
    const DataPool& pool = DataPool::get();
    i32 file = 0;
    u32 where = 0;
    for (RuntimeEnv* frame = real.getCurrentFrame(); frame; frame = frame->previous) {
        file = frame->fileId;
        where = u32(frame->line + 1);
        if (hasProperFileName(*frame))
            break;
    }
    if (fileName)
        *fileName = file ? pool.getSymbol(file) : String();
    if (line)
        *line = where;
}

void getCurrentScriptFile(Engine& engine, Variant& out) {
    String name;
    getCurrentScriptPosition(engine, &name, nullptr);
    out.setString(name);
}

}  // namespace LxScript
