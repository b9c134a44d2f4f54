#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Error.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

std::string utf8(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += char(s[i]);
    return out;
}

std::string messageOf(const Error& error) {
    String out;
    error.getMessage(out);
    return utf8(out);
}

class ErrorTest : public ::testing::Test {
protected:
    CoreStarted core;
    void TearDown() override { Error::setLocalizationHook(nullptr); }
};

// A payload that counts the live copies; its clone can be made to fail.
class Payload : public Cloneable {
public:
    static inline int alive = 0;
    static inline bool failClone = false;
    explicit Payload(int value) : value(value) { alive++; }
    ~Payload() override { alive--; }
    void clone(Cloneable*& out) const override {
        if (failClone)
            throw std::runtime_error("no clone");
        out = new Payload(value);
    }
    int value;
};

TEST_F(ErrorTest, MessagesAreJoinedNewestFirst) {
    Error error;
    EXPECT_EQ(messageOf(error), "");
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(error.getCode(), 0);
    error.push(8, "a", nullptr, false);
    error.push(9, "b", nullptr, false);
    EXPECT_EQ(messageOf(error), "b\n- a");
    EXPECT_EQ(error.getCode(), 9);
    error.clear();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(messageOf(error), "");
}

TEST_F(ErrorTest, DefaultTextsFillThePlaceholder) {
    struct Case {
        i32 code;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {2, "foo", "foo is undefined"},
        {-29, "boom", "Uncaught exception boom"},
        {-28, "", "Out of memory"},
        {28, "", "Out of memory"},         // the row of -28, looked up by magnitude
        {-33, "", "Internal error"},
        {1, "%1 stays", "%1 stays"},        // the text is not scanned again
        {79, "x", "Vandrel error: x"},
        {19, "", "Bad argument "},
        {0, "ignored", ""},
        {100, "", "Error #"},
        {100, "own text", "own text"},
        {100, "50%1 off", "50%1 off"},      // a text of its own is no template
        {INT_MIN, "", "Error #"},
        {INT_MAX, "", "Error #"},
    };
    for (const Case& c : cases) {
        Error error(c.code, c.text, true);
        EXPECT_EQ(messageOf(error), c.message) << "code " << c.code;
        EXPECT_EQ(error.getCode(), c.code);
    }
}

TEST_F(ErrorTest, NewRecordsStartUnset) {
    Error error;
    error.push(45);
    const ErrorRecord* record = error.getRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->code, 45);
    EXPECT_TRUE(record->message.isEmpty());
    EXPECT_TRUE(record->fileName.isEmpty());
    EXPECT_TRUE(record->source.isEmpty());
    EXPECT_EQ(record->line, -1);
    EXPECT_EQ(record->start, -1);
    EXPECT_EQ(record->further, -1);
    EXPECT_EQ(record->length, 0);
    EXPECT_EQ(record->data, nullptr);
    EXPECT_EQ(record->next, nullptr);
}

TEST_F(ErrorTest, InfoComesFromTheTableByMagnitude) {
    struct Case {
        i32 code;
        const char* message;
        const char* className;
        bool known;
    };
    const Case cases[] = {
        {100, "Error #%1", "Error", false},
        {80, "Error #%1", "Error", false},
        {INT_MIN, "Error #%1", "Error", false},
        {INT_MAX, "Error #%1", "Error", false},
        {-33, "Internal error", "InternalError", true},
        {33, "Internal error", "InternalError", true},
        {0, "", "", true},
        {2, "%1 is undefined", "ReferenceError", true},
        {31, "Bad or invalid URI: %1", "URIError", true},
        {41, "%1 is out of range", "RangeError", true},
        {43, "Evaluation error", "EvalError", true},
        {48, "File or folder does not exist", "IOError", true},
        {-28, "Out of memory", "FatalError", true},
        {79, "Vandrel error: %1", "Error", true},
    };
    for (const Case& c : cases) {
        String message("stale"), className("stale");
        EXPECT_EQ(Error::getInfo(c.code, message, className), c.known) << "code " << c.code;
        EXPECT_EQ(utf8(message), c.message) << "code " << c.code;
        EXPECT_EQ(utf8(className), c.className) << "code " << c.code;
    }
    // Every row but the empty one has a text and one of the built-in classes.
    for (i32 n = 1; n < 80; n++) {
        String message, className;
        ASSERT_TRUE(Error::getInfo(n, message, className));
        EXPECT_FALSE(message.isEmpty()) << n;
        EXPECT_TRUE(Error::isErrorClass(className)) << n;
    }
}

TEST_F(ErrorTest, KnowsTheTenClassNames) {
    for (const char* name : {"Error", "TypeError", "SyntaxError", "ReferenceError", "InternalError",
                             "FatalError", "RangeError", "EvalError", "URIError", "IOError"})
        EXPECT_TRUE(Error::isErrorClass(name)) << name;
    for (const char* name : {"", "typeerror", "Errors", "Erro", "DOMError"})
        EXPECT_FALSE(Error::isErrorClass(name)) << name;
}

std::vector<std::pair<i32, std::string>> asked;

bool recordingLocalizer(i32 error, String& text) {
    asked.emplace_back(error, utf8(text));
    if (text.compare("$$$/CT/Tavrel/Errors/Err2=%1 is undefined") == 0) {
        text = "%1 n'existe pas";
        return true;
    }
    i32 equals = text.find(unit('='));
    if (text.compare("$$$", 3) == 0 && equals >= 0)
        text.erase(0, equals + 1);
    return false;
}

TEST_F(ErrorTest, TextsAreAskedForUnderTheirKeys) {
    asked.clear();
    Error::setLocalizationHook(recordingLocalizer);
    Error error;
    error.push(5, "", nullptr, true);
    error.push(-28, "", nullptr, true);
    error.push(100, "", nullptr, true);
    error.push(200, "mine", nullptr, true);
    error.push(2, "x", nullptr, true);
    error.push(3, "plain", nullptr, false);   // no default text, nothing asked
    std::vector<std::pair<i32, std::string>> expected = {
        {5, "$$$/CT/Tavrel/Errors/Err5=Unterminated comment"},
        {28, "$$$/CT/Tavrel/Errors/Err28=Out of memory"},
        {100, "$$$/CT/Tavrel/Errors/General=Error #%1"},
        {200, "mine"},
        {2, "$$$/CT/Tavrel/Errors/Err2=%1 is undefined"},
    };
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(messageOf(error),
              "plain\n- x n'existe pas\n- mine\n- Error #\n- Out of memory\n- Unterminated comment");

    asked.clear();
    String text;
    errorTextForCode(INT_MIN, text);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, INT_MAX);   // past the table either way
    EXPECT_EQ(utf8(text), "Error #%1");
}

TEST_F(ErrorTest, WithoutALocalizerTheDefaultTextRemains) {
    String text("ignored");
    errorTextForCode(46, text);
    EXPECT_EQ(utf8(text), "%1 is read only");
    text.clear();
    errorTextForCode(1000, text);
    EXPECT_EQ(utf8(text), "Error #%1");
    text = "kept = as is";
    errorTextForCode(1000, text);
    EXPECT_EQ(utf8(text), "kept = as is");
}

TEST_F(ErrorTest, CopiesShareUntilOneChanges) {
    Error first(8, "a", false);
    Error second(first);
    EXPECT_EQ(second.getRecord(), first.getRecord());
    second.push(9, "b", nullptr, false);
    EXPECT_EQ(messageOf(first), "a");
    EXPECT_EQ(messageOf(second), "b\n- a");

    Error third;
    third = second;
    third = third;
    EXPECT_EQ(third.getRecord(), second.getRecord());
    third.clear();
    EXPECT_EQ(messageOf(second), "b\n- a");
    EXPECT_EQ(messageOf(third), "");
}

TEST_F(ErrorTest, SourceAndFileNameNeverReachAnotherCopy) {
    Error first(8, "a", false);
    Error second(first);
    second.setSource("var x = ;", 4, 8, 9, 1);
    second.setFileName("script.tvs");

    const ErrorRecord* mine = second.getRecord();
    EXPECT_EQ(utf8(mine->source), "var x = ;");
    EXPECT_EQ(mine->line, 4);
    EXPECT_EQ(mine->start, 8);
    EXPECT_EQ(mine->further, 9);
    EXPECT_EQ(mine->length, 1);
    EXPECT_EQ(utf8(mine->fileName), "script.tvs");

    const ErrorRecord* theirs = first.getRecord();
    EXPECT_NE(theirs, mine);
    EXPECT_TRUE(theirs->source.isEmpty());
    EXPECT_EQ(theirs->line, -1);
    EXPECT_TRUE(theirs->fileName.isEmpty());
}

TEST_F(ErrorTest, SourceOnAnEmptyListDoesNothing) {
    Error error;
    error.setSource("x", 1, 2, 3, 4);
    error.setFileName("f");
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(error.editRecord(), nullptr);
}

TEST_F(ErrorTest, PayloadsAreClonedOnDetachAndFreedWithTheirRecords) {
    Payload::alive = 0;
    {
        Error first;
        first.push(1, new Payload(7));
        Error second(first);
        second.push(2);
        EXPECT_EQ(Payload::alive, 2);
        auto* copied = static_cast<Payload*>(second.getRecord()->next->payload);
        EXPECT_NE(copied, first.getRecord()->payload);
        EXPECT_EQ(copied->value, 7);
    }
    EXPECT_EQ(Payload::alive, 0);
}

TEST_F(ErrorTest, DataIsMadeOnFirstUseAndCopiedOnDetach) {
    Error first(54, "thrown", true);
    Variant* data = first.editRecord()->getData();
    EXPECT_EQ(data->getType(), Variant::kUndefined);
    EXPECT_EQ(first.editRecord()->getData(), data);
    data->setNumber(42);

    Error second(first);
    Variant* copy = second.editRecord()->getData();
    EXPECT_NE(copy, data);
    EXPECT_EQ(copy->toNumber(), 42);
    copy->setNumber(1);
    EXPECT_EQ(first.getRecord()->data->toNumber(), 42);
}

class ErrorMemoryTest : public ErrorTest {
protected:
    TestAllocator allocator;
    UsingAllocator installed{&allocator};
    void SetUp() override { Heap::setCacheSize(0); }   // every request reaches the allocator
};

TEST_F(ErrorMemoryTest, LackOfMemoryLeavesTheSharedOutOfMemoryList) {
    Payload::alive = 0;
    Error error(8, "a", false);
    Payload* payload = new Payload(1);
    String text("b");
    allocator.failures = 1000;
    error.push(9, text, payload, true);
    allocator.failures = 0;
    EXPECT_EQ(Payload::alive, 0);   // the payload is not lost
    EXPECT_EQ(messageOf(error), "Out of memory");
    EXPECT_EQ(error.getCode(), -28);

    // The shared list refuses further records and positions.
    error.push(10, "c", new Payload(2), false);
    EXPECT_EQ(Payload::alive, 0);
    error.setSource("x", 1, 2, 3, 4);
    error.detach();
    EXPECT_EQ(messageOf(error), "Out of memory");
    EXPECT_TRUE(error.getRecord()->source.isEmpty());
    EXPECT_EQ(error.getRecord()->line, -1);
    EXPECT_EQ(error.editRecord(), nullptr);

    Error copy(error);
    EXPECT_EQ(copy.getRecord(), error.getRecord());
    error.clear();
    error.push(11, "d", nullptr, false);
    EXPECT_EQ(messageOf(error), "d");
    EXPECT_EQ(messageOf(copy), "Out of memory");
}

TEST_F(ErrorTest, OtherFailuresLeaveTheUncaughtExceptionList) {
    Payload::alive = 0;
    Error first;
    first.push(1, new Payload(1));
    Error second(first);
    Payload::failClone = true;
    second.push(2, "b", nullptr, false);
    Payload::failClone = false;
    EXPECT_EQ(messageOf(second), "Uncaught Exception");
    EXPECT_EQ(second.getCode(), -29);
    EXPECT_EQ(first.getCode(), 1);
    EXPECT_EQ(Payload::alive, 1);
    second.push(3, "c", nullptr, false);
    EXPECT_EQ(second.getCode(), -29);
}

}  // namespace
}  // namespace LxCore
