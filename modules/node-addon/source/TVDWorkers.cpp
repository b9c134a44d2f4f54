#include "modules/node-addon/source/TVDWorkers.h"

#include <memory>
#include <new>
#include <string>

#include "core/ErrorCodes.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/frontend/ParserAPI.h"

namespace LxScript {

using LxCore::Error;
using LxCore::i32;
using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// The engine type passed to createEngine; it selects nothing.
constexpr LxCore::u32 kWorkerEngineType = 0x10000;

void appendNumber(String& out, long long n) { out += std::to_string(n).c_str(); }

// XML 1.0 holds tab, line feed, carriage return and U+0020 on, except
// U+FFFE and U+FFFF; lone surrogate halves cannot be encoded at all.
bool xmlCanHold(const String& text, i32 i) {
    const LxCore::unit c = text[i];
    if (c < 0x20)
        return c == 0x9 || c == 0xA || c == 0xD;
    if (c == 0xFFFE || c == 0xFFFF)
        return false;
    if (c >= 0xD800 && c <= 0xDBFF)
        return i + 1 < text.length() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (c >= 0xDC00 && c <= 0xDFFF)
        return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
    return true;
}

// A CDATA section cannot hold "]]>": such a text is split over two
// sections, so that the report stays well-formed and reads back the same.
void appendCData(String& out, const String& text) {
    String safe;
    for (i32 i = 0; i < text.length(); i++)
        safe += xmlCanHold(text, i) ? text[i] : LxCore::unit(0xFFFD);
    safe.replaceAll("]]>", "]]]]><![CDATA[>");
    out += "<![CDATA[";
    out += safe;
    out += "]]>";
}

void releaseEngine(Engine* engine) {
    if (engine) {
        engine->clearError();
        delete engine;
    }
}

using EngineHolder = std::unique_ptr<Engine, void (*)(Engine*)>;

// Engines made by createEngine are all concrete ones.
RealEngine& compiler(const EngineHolder& engine) { return static_cast<RealEngine&>(*engine); }

// A throw-away engine whose include path is widened by the caller's. It only
// compiles, so it never builds the global object and the class objects.
EngineHolder workerEngine(const String& includePath) {
    EngineHolder engine(Engine::createEngine(kWorkerEngineType), releaseEngine);
    if (engine)
        compiler(engine).deferGlobalState();
    if (engine && !includePath.isEmpty()) {
        if (auto* parser = static_cast<ParserAPI*>(engine->getAPI(API::kParser))) {
            String path = parser->getIncludePath();
            path += ":";
            path += includePath;
            parser->setIncludePath(path);
        }
    }
    return engine;
}

}  // namespace

String checkSyntaxReport(const Error& errors, i32 line, i32 column, i32 tokenLength, const String& fileName) {
    String message;
    errors.getMessage(message);
    String report("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><errorInfo><errorText>");
    appendCData(report, message);
    report += "</errorText><line>";
    appendNumber(report, (long long)line + 1);
    report += "</line><col1>";
    appendNumber(report, (long long)column + 1);
    report += "</col1><col2>";
    appendNumber(report, (long long)column + 1 + (tokenLength == 0 ? 1 : tokenLength));
    report += "</col2><file>";
    appendCData(report, fileName);
    report += "</file></errorInfo>";
    return report;
}

namespace {

// The report of a check that failed for want of an engine or of memory.
String failureReport(i32 code, const String& fileName) {
    Error errors;
    errors.push(code, String(), nullptr, true);
    return checkSyntaxReport(errors, 0, 0, 1, fileName);
}

}  // namespace

String checkSyntax(const String& script, const String& fileName, const String& includePath) {
    try {
        EngineHolder engine = workerEngine(includePath);
        if (!engine)
            return failureReport(Err::kCannotExecute, fileName);
        // The script is only checked: it goes at once, before its engine.
        if (Script* compiled = compiler(engine).compile(script, &fileName)) {
            compiled->release();
            return String();
        }
        const Error& errors = engine->getError();
        const LxCore::ErrorRecord* newest = errors.getRecord();
        if (!newest)
            return failureReport(Err::kCannotExecute, fileName);
        const RuntimeError& info = engine->getErrorInfo();
        return checkSyntaxReport(errors, newest->line, info.column, newest->length, newest->fileName);
    } catch (const std::bad_alloc&) {
        // The engine has gone with its objects: there may be room for the
        // report now; when not, the shortage goes on to the caller.
        return failureReport(Err::kOutOfMemory, fileName);
    } catch (...) {
        return failureReport(Err::kCannotExecute, fileName);
    }
}

String compileToText(const String& script, const String& fileName, const String& includePath, String& errorText) {
    errorText = String();
    String compiled;
    Error errors;
    i32 code = Err::kCannotExecute;
    try {
        EngineHolder engine = workerEngine(includePath);
        if (engine) {
            if (Script* made = compiler(engine).compile(script, &fileName)) {
                code = made->writeBinary(compiled);
                made->release();
            } else {
                errors = engine->getError();
                // A failure that left no record is still a failure.
                code = errors.getCode() ? errors.getCode() : Err::kCannotExecute;
            }
        }
    } catch (const std::bad_alloc&) {
        code = Err::kOutOfMemory;
    } catch (...) {
        code = Err::kCannotExecute;
    }
    if (code == 0)
        return compiled;
    errors.getMessage(errorText);
    errorText += "(";
    appendNumber(errorText, code);
    errorText += ")";
    return String();
}

}  // namespace LxScript
