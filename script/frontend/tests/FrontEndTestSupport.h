// What the front-end tests share: the engine library started for a test,
// options as an engine would give them, and tokens and trees written out as
// short texts that tables compare.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <time.h>

#include "core/Error.h"
#include "core/String.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/frontend/DataPool.h"
#include "script/frontend/Scanner.h"

namespace LxScript {

class FrontEndTest : public ::testing::Test {
protected:
    void SetUp() override { InitTerm::init(); }
    void TearDown() override { InitTerm::exit(); }
};

class TestOptions : public FrontEndOptions {
public:
    LxCore::String includePath;
    bool preprocessor = true;

    const LxCore::String& getIncludePath() const override { return includePath; }
    void setIncludePath(const LxCore::String& path) override { includePath = path; }
    bool isPreprocessorOn() const override { return preprocessor; }
    void setPreprocessorOn(bool on) override { preprocessor = on; }
};

// The calling thread's processor time in seconds: bounds on work, unlike
// wall time, hold while other processes load the machine.
inline double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

inline std::string utf8(const LxCore::String& text) { return LxCore::N(text); }

inline std::string symbol(DataPoolId id) { return utf8(DataPool::get().getSymbol(id)); }

// A token as tables write it: names as they are, reserved words in
// brackets, operators and punctuation by their text, numbers after "#",
// strings as s(text), regular expressions as /pattern/flags, comments and
// directive lines as "//", XML pieces as x(text), the E4X wildcard as <*>.
inline std::string describe(const ScanInfo& t) {
    switch (t.kind) {
        case ScanInfo::kName:
            return t.code == kOpMultiply ? "<*>" : symbol(t.code);
        case ScanInfo::kNumber:
            return "#" + utf8(t.value.toString());
        case ScanInfo::kString:
            return (t.code == TokenCode::kXMLPiece ? "x(" : "s(") + utf8(t.value.toString()) + ")";
        case ScanInfo::kRegExp: {
            const std::string text = utf8(t.value.toString());
            const size_t cut = text.find('\n');
            return "/" + text.substr(0, cut) + "/" + text.substr(cut + 1);
        }
        case ScanInfo::kOperator:
            if (t.code == TokenCode::kComment)
                return "//";
            if (t.code >= kFirstReservedWord && t.code <= kLastReservedWord)
                return "[" + symbol(t.code) + "]";
            return symbol(t.code);
        default:
            return "?";
    }
}

}  // namespace LxScript
