#include "script/frontend/ParserAPI.h"

#include <cstdlib>
#include <new>

#include "base/platform/EnvironmentLock.h"
#include "core/ErrorCodes.h"
#include "core/platform/NativeText.h"
#include "script/engine/TVContext.h"
#include "script/frontend/Parser.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

// ---- ParserAPI ----

ScopeNode* ParserAPI::parse(const String& text) const {
    LxCore::Error errors;
    ScopeNode* root = nullptr;
    try {
        StackLimitScope limit(TVContext::get(), kStackBudget);
        jsParser parser(&options, 0, text, errors);
        root = parser.parse();
    } catch (const std::bad_alloc&) {
        errors.clear();
        errors.push(Err::kOutOfMemory, String(), nullptr, true);
    }
    if (!errors.isEmpty())
        getEngine().setError(errors);
    return root;
}

String ParserAPI::decompile(const ScopeNode& scope) const {
    const ScopeInfo& info = *scope.info;
    const i32 size = info.source.length();
    const i32 start = info.start < 0 ? 0 : info.start > size ? size : info.start;
    const i32 length = info.length < 0 || info.length > size - start ? size - start : info.length;
    return info.source.substr(start, length);
}

void ParserAPI::setIncludePath(const String& path) const {
    String full = path;
    const std::string extra = LxBase::environmentValue("JSINCLUDE");
    if (!extra.empty()) {
        if (!full.isEmpty())
            full += LxCore::unit(':');
        full += LxCore::fromNative(extra.data(), extra.size());
    }
    options.setIncludePath(full);
}

bool ParserAPI::enablePreProcessor(bool on) const {
    const bool previous = options.isPreprocessorOn();
    options.setPreprocessorOn(on);
    return previous;
}

// ---- HiliteAPI ----

HiliteAPIData::HiliteAPIData(FrontEndOptions* options, const String& text, i32 start, i32 length)
    : jsScanner(options, 0, text, runErrors, start, length) {
    setDirectivesApplied(false);
}

bool HiliteAPIData::step(HiliteRange& range) {
    range = HiliteRange();
    if (isAtEnd())
        return false;
    ScanInfo& t = token;
    const i32 before = getPosition();
    next(t, operandExpected);
    if (isAtEnd())
        return false;
    // A "/" after these begins a regular expression.
    const i32 code = t.code;
    if (code == TokenCode::kComment) {
        // a comment changes nothing
    } else if (code == TokenCode::kLeftParen || code == TokenCode::kLeftBracket || code == TokenCode::kLeftBrace ||
               code == TokenCode::kSemicolon || code == TokenCode::kColon || code == TokenCode::kQuestion) {
        operandExpected = true;
    } else if (t.kind == ScanInfo::kOperator && code >= kOpBitNot && code <= kLastOperator) {
        operandExpected = true;
    } else if (t.kind == ScanInfo::kOperator && code >= kFirstReservedWord && code <= kLastReservedWord) {
        operandExpected = code != kWordThis && code != kWordTrue && code != kWordFalse && code != kWordNull;
    } else {
        operandExpected = false;
    }
    if (code == TokenCode::kComment)
        range.kind = HiliteRange::kComment;
    else if (code >= 1 && code <= kLastOperator)
        range.kind = HiliteRange::kOperator;
    else if (t.kind == ScanInfo::kNumber)
        range.kind = HiliteRange::kNumber;
    else if (t.kind == ScanInfo::kName)
        range.kind = HiliteRange::kName;
    else if (t.kind == ScanInfo::kString || t.kind == ScanInfo::kRegExp)
        range.kind = HiliteRange::kString;
    else if (code >= kFirstReservedWord && code <= kLastReservedWord)
        range.kind = HiliteRange::kReservedWord;
    else
        range.kind = code == 0 ? HiliteRange::kNothing : HiliteRange::kPunctuation;
    range.offset = u32(t.offset);
    range.length = u32(t.length);
    range.error = u32(runErrors.getCode());
    // Colouring goes on after a bad token, at least one unit further.
    runErrors.clear();
    clearError();
    if (getPosition() <= before)
        setPosition(before + 1);
    return true;
}

HiliteAPIData* HiliteAPI::start(const String& text, i32 start, i32 length) {
    if (runs == 0)
        savedOption = options.isPreprocessorOn();
    options.setPreprocessorOn(false);
    HiliteAPIData* run = new HiliteAPIData(&options, text, start, length);
    runs++;
    return run;
}

bool HiliteAPI::next(HiliteAPIData* run, HiliteRange& range) {
    if (!run) {
        range = HiliteRange();
        return false;
    }
    return run->step(range);
}

void HiliteAPI::stop(HiliteAPIData* run) {
    if (!run)
        return;
    delete run;
    if (--runs == 0)
        options.setPreprocessorOn(savedOption);
}

}  // namespace LxScript
