#include "modules/node-addon/source/TVDWorkers.h"

#include <string>

namespace LxScript {

using LxCore::Error;
using LxCore::i32;
using LxCore::String;

namespace {

constexpr i32 kNotImplemented = -36;

void appendNumber(String& out, long long n) { out += std::to_string(n).c_str(); }

// A CDATA section cannot hold "]]>": such a text is split over two
// sections, so that the report stays well-formed and reads back the same.
void appendCData(String& out, const String& text) {
    String safe = text;
    safe.replaceAll("]]>", "]]]]><![CDATA[>");
    out += "<![CDATA[";
    out += safe;
    out += "]]>";
}

Error notImplemented(const String& fileName) {
    Error errors;
    errors.push(kNotImplemented, String(), nullptr, true);
    errors.setFileName(fileName);
    return errors;
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

String checkSyntax(const String& script, const String& fileName, const String& includePath) {
    Error errors = notImplemented(fileName);
    const LxCore::ErrorRecord* newest = errors.getRecord();
    return checkSyntaxReport(errors, newest ? newest->line : -1, -1, newest ? newest->length : 0,
                             newest ? newest->fileName : fileName);
}

String compileToText(const String& script, const String& fileName, const String& includePath, String& errorText) {
    Error errors = notImplemented(fileName);
    errors.getMessage(errorText);
    errorText += "(";
    appendNumber(errorText, errors.getCode());
    errorText += ")";
    return String();
}

}  // namespace LxScript
