#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <locale.h>
#include <string>

#include "MessageTestSupport.h"
#include "objects/Message.h"
#include "objects/PlatformServices.h"

using namespace MessageTestSupport;
using LxObjects::i64;
using LxObjects::md5Hex;
using LxObjects::u32;
using Message = LxObjects::Tellwire::Message;
using LxObjects::now;
using LxObjects::parseMessage;
using LxObjects::serializeMessage;
using LxObjects::serializeMessageWithDigest;

namespace {

const u32 kUnset = Message::kUnset;

std::string senderId()
{
    return str(LxObjects::getSenderId());
}

// The text the writer gives, with the "Timestamp: " value checked to be the
// time of writing and replaced by T.
std::string written(const Message& m, bool* ok = nullptr)
{
    LoString out("garbage");
    i64 before = now();
    bool result = serializeMessage(m, out);
    i64 after = now();
    if (ok)
        *ok = result;
    std::string text = str(out);
    long long t = writtenTimestamp(text);
    if (t >= 0) {
        EXPECT_GE(t, before);
        EXPECT_LE(t, after);
        std::string value = std::to_string(t);
        text.replace(text.find("\nTimestamp: ") + 12, value.size(), "T");
    }
    return text;
}

Message* simpleMessage(const char* body = "hello")
{
    Message* m = new Message;
    m->target.assign("app-1.0");
    m->sender.assign("tvtk");
    m->body.assign(body);
    return m;
}

// Splits a text that starts with a digest line into the digest and the rest.
void splitDigest(const std::string& text, std::string& digest, std::string& rest)
{
    ASSERT_EQ(text.compare(0, 8, "@TW>MD5:"), 0) << text;
    size_t end = text.find('\n');
    digest = text.substr(8, end - 8);
    rest = text.substr(end + 1);
}

class MessageText : public MessageFixture {
};

}  // namespace

// ---- the record ------------------------------------------------------------

TEST(MessageRecord, StartsWithTheDefaults)
{
    i64 before = now();
    Message m;
    EXPECT_EQ(str(m.type), "Tavrel");
    EXPECT_EQ(str(m.version), "2.05");
    EXPECT_TRUE(m.target.isEmpty() && m.sender.isEmpty() && m.body.isEmpty());
    EXPECT_TRUE(m.responseRequest.isEmpty() && m.digestStatus.isEmpty());
    EXPECT_EQ(m.timeout, 0);
    EXPECT_GE(m.timestamp, before);
    EXPECT_LE(m.timestamp, now());
    EXPECT_EQ(m.serialNumber, 0u);
    EXPECT_EQ(m.contentLength, 0u);
    EXPECT_EQ(m.received, kUnset);
    EXPECT_EQ(m.result, kUnset);
    EXPECT_EQ(m.error, kUnset);
    EXPECT_EQ(m.firstHeader(), nullptr);
}

TEST(MessageRecord, AddHeaderReplacesByExactNameAndPutsNewOnesFirst)
{
    Message m;
    m.addHeader("A", "1");
    m.addHeader("B", "2");
    m.addHeader("a", "3");     // another name: case counts
    m.addHeader("A", "4");     // replaced in place
    m.addHeader("", "x");      // ignored
    m.addHeader(nullptr, "x"); // ignored
    m.addHeader("Error-Code", -29);
    m.addHeader("Big", LxObjects::i32(2147483647));
    std::string order;
    for (auto* h = m.firstHeader(); h; h = h->next)
        order += str(h->name) + "=" + str(h->value) + " ";
    EXPECT_EQ(order, "Big=2147483647 Error-Code=-29 a=3 B=2 A=4 ");
    EXPECT_EQ(str(m.getHeader("A")), "4");
    EXPECT_EQ(str(m.getHeader("missing")), "");
    EXPECT_EQ(str(m.getHeader(nullptr)), "");
}

TEST(MessageRecord, CopyHoldsTheHeadersInReverseAndNeverAnEmptyType)
{
    Message m;
    m.target.assign("t");
    m.sender.assign("s");
    m.timeout = -1;
    m.type.assign("");
    m.responseRequest.assign("Result");
    m.timestamp = 42;
    m.contentLength = 5;
    m.serialNumber = 9;
    m.received = 1;
    m.result = 2;
    m.error = 3;
    m.body.assign("a\0b", 3);
    m.version.assign("2.0");
    m.digestStatus.assign("REJECTED");
    m.addHeader("A", "1");
    m.addHeader("B", "2");
    m.addHeader("C", "3");

    Message copy(m);
    std::string order;
    for (auto* h = copy.firstHeader(); h; h = h->next)
        order += str(h->name);
    EXPECT_EQ(order, "ABC");  // the source holds C, B, A
    EXPECT_EQ(str(copy.type), "Tavrel");
    EXPECT_EQ(str(copy.target), "t");
    EXPECT_EQ(str(copy.sender), "s");
    EXPECT_EQ(copy.timeout, -1);
    EXPECT_EQ(str(copy.responseRequest), "Result");
    EXPECT_EQ(copy.timestamp, 42);
    EXPECT_EQ(copy.contentLength, 5u);
    EXPECT_EQ(copy.serialNumber, 9u);
    EXPECT_EQ(copy.received, 1u);
    EXPECT_EQ(copy.result, 2u);
    EXPECT_EQ(copy.error, 3u);
    EXPECT_EQ(str(copy.body), std::string("a\0b", 3));
    EXPECT_EQ(str(copy.version), "2.0");
    EXPECT_EQ(str(copy.digestStatus), "REJECTED");
}

TEST(MessageRecord, UserTypesAreThoseOutsideTheBuiltInTwelve)
{
    const char* builtIn[] = {"Tavrel", "Debug", "Receive", "Received", "Result", "Error",
                             "Idle", "Timeout", "Log", "Ignore", "Processed", "Launched"};
    for (const char* type : builtIn) {
        Message m;
        m.type.assign(type);
        EXPECT_FALSE(m.isUserMessageType()) << type;
    }
    std::vector<std::string> userTypes = {"", "debug", "Query", "Tavrel ", std::string("Debug\0", 6)};
    for (const std::string& type : userTypes) {
        Message m;
        m.type = lo(type);
        EXPECT_TRUE(m.isUserMessageType()) << type;
    }
}

// ---- writer ------------------------------------------------------------------

TEST(MessageWriter, WritesEveryLineInItsOrder)
{
    Message m;
    m.target.assign("app-1.0");
    m.sender.assign("tvtk");
    m.timeout = 30;
    m.type.assign("Debug");
    m.responseRequest.assign("Result Error");
    m.addHeader("A", "1");
    m.addHeader("B", "2");
    m.addHeader("C", "3");
    m.serialNumber = 7;
    m.received = 3;
    m.error = 9;
    m.timestamp = 5;  // the time of writing is written, not this
    m.body.assign("hello\nworld");
    bool ok = false;
    EXPECT_EQ(written(m, &ok), "@TW>Version:2.05\nTarget:app-1.0\nSender:tvtk\nSender-ID:" + senderId()
                                   + "\nTimeout:30\nType:Debug\nResponse-Request:Result Error\nC:3\nB:2\nA:1\n"
                                     "Timestamp: T\nSerial-Number:7\nReceived:3\nError:9\nContent-Length:11\n\n"
                                     "hello\nworld");
    EXPECT_TRUE(ok);
}

TEST(MessageWriter, OptionalLinesAndFailures)
{
    struct {
        const char* target;
        const char* sender;
        const char* version;
        const char* type;
        bool ok;
        std::string text;
    } cases[] = {
        {"a", "b", "2.05", "Tavrel", true,
         "@TW>Version:2.05\nTarget:a\nSender:b\nSender-ID:" + senderId()
             + "\nType:Tavrel\nTimestamp: T\nSerial-Number:0\nContent-Length:0\n\n"},
        {"a", "b", "", "", true,
         "@TW>Version:\nTarget:a\nSender:b\nSender-ID:" + senderId()
             + "\nTimestamp: T\nSerial-Number:0\nContent-Length:0\n\n"},
        {"", "b", "2.05", "Tavrel", false, "@TW>Version:2.05\n"},
        {"", "", "1.0", "Tavrel", false, "@TW>Version:1.0\n"},
        {"a", "", "2.05", "Tavrel", false, "@TW>Version:2.05\nTarget:a\nSender:"},
    };
    for (const auto& c : cases) {
        Message m;
        m.target.assign(c.target);
        m.sender.assign(c.sender);
        m.version.assign(c.version);
        m.type.assign(c.type);
        bool ok = !c.ok;
        EXPECT_EQ(written(m, &ok), c.text) << c.target << "/" << c.sender;
        EXPECT_EQ(ok, c.ok) << c.target << "/" << c.sender;
    }
}

TEST(MessageWriter, NumbersAreThirtyTwoBitsWide)
{
    struct {
        i64 timeout;
        const char* line;  // null: no line
    } cases[] = {
        {0, nullptr},
        {30, "\nTimeout:30\n"},
        {-1, "\nTimeout:4294967295\n"},
        {(i64(1) << 32) + 5, "\nTimeout:5\n"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<Message> m(simpleMessage());
        m->timeout = c.timeout;
        std::string text = written(*m);
        if (c.line)
            EXPECT_NE(text.find(c.line), std::string::npos) << text;
        else
            EXPECT_EQ(text.find("Timeout"), std::string::npos) << text;
    }
    std::unique_ptr<Message> m(simpleMessage());
    m->serialNumber = 4294967294u;
    m->result = 0;
    EXPECT_NE(written(*m).find("\nSerial-Number:4294967294\nResult:0\n"), std::string::npos);
}

TEST(MessageWriter, PrefixesHeadersNamedLikeFieldsByVersion)
{
    struct {
        const char* version;
        const char* name;
        const char* line;
    } cases[] = {
        {"2.05", "Target", "\n@HDR>Target:v\n"},
        {"2.05", "Type", "\n@HDR>Type:v\n"},
        {"2.05", "Error-Code", "\n@HDR>Error-Code:v\n"},
        {"2.05", "Sender-ID", "\n@HDR>Sender-ID:v\n"},
        {"2.05", "@TW>Version", "\n@HDR>@TW>Version:v\n"},
        {"3.1", "Content-Length", "\n@HDR>Content-Length:v\n"},
        {"2.05", "target", "\ntarget:v\n"},
        {"2.05", "X-Other", "\nX-Other:v\n"},
        {"2.0", "Target", "\nTarget:v\n"},
        {"1.0", "Type", "\nType:v\n"},
        {"", "Type", "\nType:v\n"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<Message> m(simpleMessage());
        m->version.assign(c.version);
        m->addHeader(c.name, "v");
        std::string text = written(*m);
        size_t headers = text.find("\nTimestamp: ");
        EXPECT_NE(text.substr(0, headers + 1).find(c.line), std::string::npos) << c.version << " " << text;
    }
}

TEST(MessageWriter, BodyIsWrittenByteForByte)
{
    std::string body("a\0b\n\nc:d\r\n", 10);
    std::unique_ptr<Message> m(simpleMessage());
    m->body = lo(body);
    std::string text = written(*m);
    std::string tail = "\nContent-Length:10\n\n" + body;
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

// ---- digest line -------------------------------------------------------------

TEST_F(MessageText, DigestLineGoesInFrontAndOutIsAppendedTo)
{
    std::unique_ptr<Message> m(simpleMessage());
    LoString out("before|");
    ASSERT_TRUE(serializeMessageWithDigest(*m, out));
    std::string text = str(out);
    ASSERT_EQ(text.compare(0, 7, "before|"), 0);
    std::string digest, rest;
    splitDigest(text.substr(7), digest, rest);
    EXPECT_EQ(digest, str(md5Hex(lo(rest), "k")));
    EXPECT_EQ(rest.compare(0, 17, "@TW>Version:2.05\n"), 0);
}

TEST_F(MessageText, FailedDigestWriteLeavesOutAsItWas)
{
    Message m;
    m.target.assign("app");
    LoString out("keep");
    EXPECT_FALSE(serializeMessageWithDigest(m, out));
    EXPECT_EQ(str(out), "keep");
}

TEST_F(MessageText, OwnRecordDecidesTheDigestSettings)
{
    struct {
        const char* own;
        bool authenticate, digest;
        bool line;            // digest line written
        const char* status;   // of a read text with a wrong digest
    } cases[] = {
        {"own-1.0", true, true, true, "REJECTED"},
        {"own-1.0", true, false, false, "REJECTED"},
        {"own-1.0", false, true, true, "NODIGEST"},
        {"own-1.0", false, false, false, "NODIGEST"},
        {"own_2-1.0", false, false, false, "NODIGEST"},  // the instance plays no part
        {"other-2.0", false, false, true, "REJECTED"},  // not in the table: both on
        {"", false, false, true, "REJECTED"},
    };
    for (const auto& c : cases) {
        ScopedConnector connector(c.own, c.authenticate, c.digest);
        std::unique_ptr<Message> m(simpleMessage());
        LoString out;
        ASSERT_TRUE(serializeMessageWithDigest(*m, out));
        EXPECT_EQ(str(out).compare(0, 8, "@TW>MD5:") == 0, c.line) << c.own;

        Message read;
        parseText(read, "@TW>MD5:0\nTarget:a\n\n");
        EXPECT_EQ(str(read.digestStatus), c.status) << c.own;
    }
}

// ---- reader ------------------------------------------------------------------

TEST_F(MessageText, ReadsBackWhatWasWritten)
{
    Message m;
    m.target.assign("app-1.0");
    m.sender.assign("tvtk");
    m.timeout = 45;
    m.type.assign("Debug");
    m.responseRequest.assign("Result Error Timeout");
    m.serialNumber = 77;
    m.addHeader("Error-Code", 59);
    m.addHeader("Target", "header, not field");
    m.body = lo(std::string("line 1\n\nline: 3\0end", 19));
    LoString text;
    ASSERT_TRUE(serializeMessageWithDigest(m, text));

    Message r;
    EXPECT_EQ(parseText(r, str(text)), text.length());
    EXPECT_EQ(str(r.digestStatus), "");
    EXPECT_EQ(str(r.version), "2.05");
    EXPECT_EQ(str(r.target), "app-1.0");
    EXPECT_EQ(str(r.sender), "tvtk");
    EXPECT_EQ(r.timeout, 45);
    EXPECT_EQ(str(r.type), "Debug");
    EXPECT_EQ(str(r.responseRequest), "Result Error Timeout");
    EXPECT_EQ(r.serialNumber, 77u);
    EXPECT_EQ(r.contentLength, 19u);
    EXPECT_EQ(str(r.body), str(m.body));
    EXPECT_EQ(str(r.getHeader("Error-Code")), "59");
    EXPECT_EQ(str(r.getHeader("Target")), "header, not field");
    EXPECT_EQ(str(r.getHeader("Sender-ID")), senderId());
    EXPECT_EQ(r.received, kUnset);
    EXPECT_EQ(r.result, kUnset);
    EXPECT_EQ(r.error, kUnset);
}

TEST_F(MessageText, DigestStatusOfChangedAndUnsignedTexts)
{
    std::unique_ptr<Message> m(simpleMessage("payload"));
    LoString signedText;
    ASSERT_TRUE(serializeMessageWithDigest(*m, signedText));
    std::string good = str(signedText);
    std::string digest, rest;
    splitDigest(good, digest, rest);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct {
        const char* what;
        std::string text;
        const char* status;
    } cases[] = {
        {"as written", good, ""},
        {"body changed", replaced("payload", "paYload"), "REJECTED"},
        {"target changed", replaced("Target:app-1.0", "Target:app-2.0"), "REJECTED"},
        {"digest changed", "@TW>MD5:" + digest + "0\n" + rest, "REJECTED"},
        {"empty digest", "@TW>MD5:\n" + rest, "REJECTED"},
        {"no digest line", rest, ""},
        // Lines above the digest line are not covered by it.
        {"line above the digest", "X-Above:1\n" + good, ""},
        // The last digest line counts.
        {"two digest lines", "@TW>MD5:bad\n" + good, ""},
        // A legacy digest line silences a later MD5 line.
        {"legacy digest first", "@TW>Digest:whatever\n@TW>MD5:bad\n" + rest, ""},
        {"body cut short", good.substr(0, good.size() - 2), "REJECTED"},
        {"trailing line ends", good + "\n\n", ""},
    };
    for (const auto& c : cases) {
        Message r;
        parseText(r, c.text);
        EXPECT_EQ(str(r.digestStatus), c.status) << c.what;
    }
}

TEST_F(MessageText, LegacyVersionLinesAndTheHeaderPrefix)
{
    struct {
        const char* text;
        const char* version;
        const char* header;  // name of the one custom header, "" for none
        const char* type;
    } cases[] = {
        {"Target:a\n\n", "1.0", "", "Tavrel"},
        {"Version:1.0\nTarget:a\n\n", "@TW>1.0", "", "Tavrel"},
        {"@TW>Version:2.0\nTarget:a\n\n", "2.0", "", "Tavrel"},
        {"@TW>Version:\nTarget:a\n\n", "", "", "Tavrel"},
        {"@TW>Version:2.05\n@HDR>Type:x\n\n", "2.05", "Type", "Tavrel"},
        {"@TW>Version:2.0\n@HDR>Type:x\n\n", "2.0", "@HDR>Type", "Tavrel"},
        {"@TW>Version:1.0\n@HDR>Type:x\n\n", "1.0", "@HDR>Type", "Tavrel"},
        // Without a version line the text counts as new-style.
        {"@HDR>Type:x\n\n", "1.0", "Type", "Tavrel"},
        // Once old-style, always old-style.
        {"@TW>Version:2.0\n@TW>Version:2.05\n@HDR>Type:x\n\n", "2.05", "@HDR>Type", "Tavrel"},
        // The legacy key keeps its prefix, which reads as new-style.
        {"Version:1.0\n@HDR>Type:x\n\n", "@TW>1.0", "Type", "Tavrel"},
        {"@TW>Version:2.05\nType:Log\n@HDR>X:1\n\n", "2.05", "X", "Log"},
    };
    for (const auto& c : cases) {
        Message r;
        parseText(r, c.text);
        EXPECT_EQ(str(r.version), c.version) << c.text;
        EXPECT_EQ(str(r.type), c.type) << c.text;
        const auto* h = r.firstHeader();
        if (*c.header) {
            ASSERT_NE(h, nullptr) << c.text;
            EXPECT_EQ(str(h->name), c.header) << c.text;
            EXPECT_EQ(h->next, nullptr) << c.text;
        } else {
            EXPECT_EQ(h, nullptr) << c.text;
        }
    }
}

TEST_F(MessageText, NumbersReadLikeStrtoulOfThirtyTwoBits)
{
    struct {
        std::string value;
        u32 number;
    } cases[] = {
        {"7", 7}, {" 7", 7}, {"\t\v\f\r 7", 7}, {"+7", 7}, {"007", 7}, {"12abc", 12}, {"1 2", 1},
        {"", 0}, {"abc", 0}, {"-", 0}, {"+-1", 0}, {"\xA0" "5", 0},
        {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
        {"99999999999999999999999999999", 4294967295u},
        {"-1", 4294967295u}, {"-4294967295", 1}, {"-4294967296", 4294967295u},
        {std::string("5\0" "9", 3), 5},
    };
    for (const auto& c : cases) {
        Message r;
        parseText(r, "Serial-Number:" + c.value + "\n\n");
        EXPECT_EQ(r.serialNumber, c.number) << c.value;
    }

    // Timeout and Timestamp are taken as unsigned 32-bit numbers.
    Message r;
    parseText(r, "Timeout:-1\nTimestamp: 1700000000\n\n");
    EXPECT_EQ(r.timeout, i64(4294967295u));
    EXPECT_EQ(r.timestamp, 1700000000);
}

TEST_F(MessageText, NumbersIgnoreTheHostLocale)
{
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE.ISO-8859-1",
                                "de_DE", "fr_FR", "ru_RU.UTF-8", "C.UTF-8", "C.utf8"};
    const char* found = nullptr;
    for (const char* name : candidates) {
        locale_t probe = newlocale(LC_ALL_MASK, name, locale_t(0));
        if (probe) {
            freelocale(probe);
            found = name;
            break;
        }
    }
    if (!found)
        GTEST_SKIP() << "no other locale installed";
    std::string saved = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, found), nullptr);
    Message r;
    parseText(r, "Serial-Number:\xA0" "12\nContent-Length: 3\nTimeout:1.5\n\nabcdef");
    std::unique_ptr<Message> m(simpleMessage());
    m->timeout = 1234567;
    std::string text = written(*m);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(r.serialNumber, 0u);
    EXPECT_EQ(str(r.body), "abc");
    EXPECT_EQ(r.timeout, 1);
    EXPECT_NE(text.find("\nTimeout:1234567\n"), std::string::npos);
}

TEST_F(MessageText, MalformedAndTruncatedTextsNeverReadPastTheirEnd)
{
    struct {
        const char* what;
        std::string text;
        int position;
        std::string target, body, header;  // header: "name=value" of the first custom header
        u32 contentLength;
    } cases[] = {
        {"empty", "", 0, "", "", "", 0},
        {"only an empty line", "\n", 1, "", "", "", 0},
        {"only line ends", "\n\n\n", 3, "", "", "", 0},
        {"key runs to the end", "Target", 6, "", "", "", 0},
        {"unknown key runs to the end", "Target:a\nX-Key", 14, "a", "", "X-Key=", 0},
        {"colon at the end", "Target:", 7, "", "", "", 0},
        {"value runs to the end", "Target:abc", 10, "abc", "", "", 0},
        {"no empty line", "Target:a\nContent-Length:5\n", 26, "a", "", "", 5},
        {"body shorter than its length", "Target:a\nContent-Length:100\n\nabc", 32, "a", "abc", "", 100},
        {"huge length", "Content-Length:4294967295\n\nabc", 30, "", "abc", "", 4294967295u},
        {"negative length", "Content-Length:-1\n\nxy", 21, "", "xy", "", 4294967295u},
        {"length beyond 64 bits", "Content-Length:999999999999999999999999\n\nxy", 43, "", "xy", "", 4294967295u},
        {"body longer than its length", "Content-Length:2\n\nabcdef", 20, "", "ab", "", 2},
        {"line ends after the body", "Content-Length:3\n\nabc\n\n\nnext", 24, "", "abc", "", 3},
        {"NUL in the body", std::string("Content-Length:3\n\na\0b", 21), 21, "", std::string("a\0b", 3), "", 3},
        {"NUL in a key", std::string("Tar\0get:x\n\n", 11), 11, "", "", std::string("Tar\0get=x", 9), 0},
        {"NUL in a value", std::string("Target:a\0b\n\n", 12), 12, std::string("a\0b", 3), "", "", 0},
        {"key across line ends", "Junk\nTarget:x\n\n", 15, "", "", "Junk\nTarget=x", 0},
        {"key across the empty line", "Junk\n\nbody:x", 12, "", "", "Junk\n\nbody=x", 0},
        {"empty key", ":v\n\n", 4, "", "", "", 0},
        {"bare prefix key", "@HDR>:v\n\n", 9, "", "", "", 0},
        {"carriage returns stay", "Target:a\r\n\r\n", 12, "a\r", "", "\r\n=", 0},
        {"binary junk", std::string("\xff\xfe\x00\x01:\x80\n\n", 8), 8, "", "",
         std::string("\xff\xfe\x00\x01=\x80", 6), 0},
    };
    for (const auto& c : cases) {
        Message r;
        EXPECT_EQ(parseText(r, c.text), c.position) << c.what;
        EXPECT_EQ(str(r.target), c.target) << c.what;
        EXPECT_EQ(str(r.body), c.body) << c.what;
        EXPECT_EQ(r.contentLength, c.contentLength) << c.what;
        const auto* h = r.firstHeader();
        EXPECT_EQ(h ? str(h->name) + "=" + str(h->value) : "", c.header) << c.what;
        EXPECT_EQ(str(r.digestStatus), "") << c.what;
    }

    Message r;
    EXPECT_EQ(parseMessage(r, nullptr, 10), 0);
    EXPECT_EQ(parseMessage(r, "Target:x", -1), 0);
    EXPECT_TRUE(r.target.isEmpty());
}

TEST_F(MessageText, ManyHeaderLinesAddOnlySoManyHeaders)
{
    std::string text = "@TW>Version:2.05\n";
    for (int i = 0; i < 50000; ++i)
        text += "h" + std::to_string(i) + ":v\n";
    text += "h5:last\nh40000:late\nTarget:app\nContent-Length:2\n\nok";
    Message r;
    EXPECT_EQ(parseText(r, text), int(text.size()));
    int count = 0;
    for (auto* h = r.firstHeader(); h; h = h->next)
        ++count;
    EXPECT_EQ(count, Message::kMaxReadHeaders);
    EXPECT_EQ(str(r.getHeader("h0")), "v");
    EXPECT_EQ(str(r.getHeader("h5")), "last");  // a known name is still replaced
    EXPECT_EQ(str(r.getHeader("h1023")), "v");
    EXPECT_EQ(str(r.getHeader("h1024")), "");
    EXPECT_EQ(str(r.getHeader("h40000")), "");
    EXPECT_EQ(str(r.target), "app");  // the fields are still read
    EXPECT_EQ(str(r.body), "ok");
}

TEST_F(MessageText, TypeWithANulIsNotABuiltInType)
{
    Message r;
    parseText(r, std::string("Type:Debug\0x\nResult:5\n\n", 23));
    EXPECT_EQ(str(r.type), std::string("Result") + std::string("Debug\0x", 7));
    EXPECT_EQ(r.serialNumber, 5u);
}

TEST_F(MessageText, RepliesAreNormalised)
{
    struct {
        const char* type;
        u32 received, result, error;
        const char* endType;
        u32 serial;
        u32 endReceived, endResult, endError;
    } cases[] = {
        {"Debug", kUnset, 12, kUnset, "Result", 12, kUnset, kUnset, kUnset},
        {"debug", kUnset, 12, kUnset, "debug", 1, kUnset, 12, kUnset},
        {"Tavrel", 3, kUnset, kUnset, "Received", 3, kUnset, kUnset, kUnset},
        {"Error", kUnset, kUnset, 4, "Error", 4, kUnset, kUnset, kUnset},
        {"Query", kUnset, 5, kUnset, "ResultQuery", 5, kUnset, kUnset, kUnset},
        {"", 6, kUnset, kUnset, "Received", 6, kUnset, kUnset, kUnset},  // "" is a user type
        {"Tavrel", 3, 4, kUnset, "Result", 4, kUnset, kUnset, kUnset},
        {"Query", 3, 4, 5, "ErrorResultReceivedQuery", 5, kUnset, kUnset, kUnset},
        {"Tavrel", kUnset, kUnset, kUnset, "Tavrel", 1, kUnset, kUnset, kUnset},
        {"Result", kUnset, 0, kUnset, "Result", 0, kUnset, kUnset, kUnset},
    };
    for (const auto& c : cases) {
        std::string text = "Type:" + std::string(c.type) + "\nSerial-Number:1\n";
        if (c.received != kUnset)
            text += "Received:" + std::to_string(c.received) + "\n";
        if (c.result != kUnset)
            text += "Result:" + std::to_string(c.result) + "\n";
        if (c.error != kUnset)
            text += "Error:" + std::to_string(c.error) + "\n";
        Message r;
        parseText(r, text + "\n");
        EXPECT_EQ(str(r.type), c.endType) << text;
        EXPECT_EQ(r.serialNumber, c.serial) << text;
        EXPECT_EQ(r.received, c.endReceived) << text;
        EXPECT_EQ(r.result, c.endResult) << text;
        EXPECT_EQ(r.error, c.endError) << text;
    }
}

TEST_F(MessageText, TimeoutWithoutTimestampCountsFromNow)
{
    Message r;
    i64 before = now();
    parseText(r, "Timeout:5\nTimestamp: 0\n\n");
    EXPECT_GE(r.timestamp, before);
    EXPECT_LE(r.timestamp, now());

    Message s;
    parseText(s, "Timestamp: 0\n\n");
    EXPECT_EQ(s.timestamp, 0);
}

TEST_F(MessageText, ReadingAgainStartsFromAnEmptyMessage)
{
    Message r;
    parseText(r, "@TW>Version:2.05\nTarget:a\nSender:b\nType:Query\nResponse-Request:Result\nTimeout:9\n"
                 "Timestamp: 1234\nSerial-Number:3\nX-A:1\nContent-Length:2\n\nhi");
    ASSERT_EQ(str(r.target), "a");
    parseText(r, "Sender:c\nX-B:2\n\n");
    EXPECT_EQ(str(r.target), "");
    EXPECT_EQ(str(r.sender), "c");
    EXPECT_EQ(str(r.type), "");  // emptied, not set back to the default
    EXPECT_EQ(str(r.responseRequest), "");
    EXPECT_EQ(str(r.body), "");
    EXPECT_EQ(str(r.version), "1.0");
    EXPECT_EQ(r.timeout, 0);
    EXPECT_EQ(r.timestamp, 1234);
    EXPECT_EQ(r.serialNumber, 0u);
    EXPECT_EQ(r.contentLength, 0u);
    EXPECT_EQ(str(r.getHeader("X-A")), "");
    EXPECT_EQ(str(r.getHeader("X-B")), "2");
}

TEST_F(MessageText, SeveralMessagesInOneBuffer)
{
    LoString buffer;
    const int count = 500;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<Message> m(simpleMessage(("body " + std::to_string(i) + (i % 3 ? "\n" : "")).c_str()));
        m->serialNumber = u32(i);
        ASSERT_TRUE(serializeMessageWithDigest(*m, buffer));
        if (i % 7 == 0)
            buffer += "\n\n";
    }
    // The last one is cut short.
    std::unique_ptr<Message> last(simpleMessage("the end"));
    last->serialNumber = 9999;
    ASSERT_TRUE(serializeMessageWithDigest(*last, buffer));
    std::string all = str(buffer).substr(0, size_t(buffer.length()) - 3);

    std::unique_ptr<char[]> exact(new char[all.size()]);
    std::copy(all.begin(), all.end(), exact.get());
    int position = 0, read = 0;
    while (position < int(all.size())) {
        Message r;
        int used = parseMessage(r, exact.get() + position, int(all.size()) - position);
        ASSERT_GT(used, 0);
        position += used;
        if (read < count) {
            EXPECT_EQ(r.serialNumber, u32(read));
            EXPECT_EQ(str(r.body), "body " + std::to_string(read) + (read % 3 ? "\n" : ""));
            EXPECT_EQ(str(r.digestStatus), "") << read;
        } else {
            EXPECT_EQ(r.serialNumber, 9999u);
            EXPECT_EQ(str(r.body), "the ");
            EXPECT_EQ(str(r.digestStatus), "REJECTED");
        }
        ++read;
    }
    EXPECT_EQ(read, count + 1);
    EXPECT_EQ(position, int(all.size()));
}

// ---- expiry road without a context --------------------------------------------

TEST_F(MessageText, TimeoutNotificationNeedsAContext)
{
    std::unique_ptr<Message> m(simpleMessage());
    m->responseRequest.assign("Result Timeout");
    EXPECT_FALSE(LxObjects::notifySenderOfTimeout(*m, "Timeout", LoString("/messages/q")));
    LxObjects::forwardMessageLog(*m, "FWDMESSAGES", LoString("/messages/q"), "added");
}

TEST_F(MessageText, TimeoutReplyIsBuiltForTheSender)
{
    const u32 kFromContext = 0;  // the context's next number
    struct {
        const char* what;
        const char* version;
        const char* type;
        const char* request;
        const char* detector;
        const char* reason;
        bool sent;
        const char* replyType;
        u32 replySerial;
    } cases[] = {
        {"new style", "2.05", "Debug", "Result Timeout", "", "Timeout", true, "Timeout", 41},
        {"reason not asked for", "2.05", "Debug", "Result Error", "", "Timeout", false, "", 0},
        {"asked as part of a word", "2.05", "Debug", "NoTimeouts", "", "Timeout", true, "Timeout", 41},
        {"sender watches itself", "2.05", "Debug", "Timeout", "SENDER", "Timeout", false, "", 0},
        {"target watches", "2.05", "Debug", "Timeout", "TARGET", "Timeout", true, "Timeout", 41},
        {"version 1.0", "1.0", "Query", "Timeout", "", "Timeout", true, "Query", kFromContext},
        {"no version", "", "Query", "Timeout", "", "Timeout", true, "Query", kFromContext},
        {"user reason", "2.05", "Query", "Late", "", "Late", true, "LateQuery", 41},
        {"built-in reason", "2.05", "Query", "Timeout", "", "Timeout", true, "Timeout", 41},
    };
    for (const auto& c : cases) {
        RecordingHooks hooks;
        // An old-style reply is numbered by the context: the one after this.
        u32 fromContext = hooks.drawSerial() + 1;
        Message m;
        m.target.assign("app-1.0");
        m.sender.assign("tvtk");
        m.version.assign(c.version);
        m.type.assign(c.type);
        m.responseRequest.assign(c.request);
        m.serialNumber = 41;
        m.body.assign("b");
        if (*c.detector)
            m.addHeader("TIMEOUT_DETECTOR", c.detector);
        i64 before = now();
        EXPECT_EQ(LxObjects::notifySenderOfTimeout(m, c.reason, LoString()), c.sent) << c.what;
        ASSERT_EQ(hooks.sent.size(), c.sent ? 1u : 0u) << c.what;
        EXPECT_TRUE(hooks.forwarded.empty()) << c.what;  // the queue has no name
        if (!c.sent)
            continue;
        const Message& reply = *hooks.sent[0];
        EXPECT_EQ(str(reply.target), "tvtk") << c.what;
        EXPECT_EQ(str(reply.sender), "app-1.0") << c.what;
        EXPECT_EQ(str(reply.version), "2.05") << c.what;
        EXPECT_EQ(str(reply.type), c.replyType) << c.what;
        EXPECT_EQ(reply.serialNumber, c.replySerial == kFromContext ? fromContext : c.replySerial) << c.what;
        EXPECT_GE(reply.timestamp, before) << c.what;
        EXPECT_TRUE(reply.body.isEmpty() && reply.responseRequest.isEmpty()) << c.what;
    }

    // The send's own answer is the result.
    RecordingHooks hooks;
    hooks.sendResult = false;
    std::unique_ptr<Message> m(simpleMessage());
    m->responseRequest.assign("Timeout");
    EXPECT_FALSE(LxObjects::notifySenderOfTimeout(*m, "Timeout", LoString()));
    EXPECT_EQ(hooks.sent.size(), 1u);
}

TEST_F(MessageText, ForwardingLogReportsTheMessage)
{
    struct {
        const char* type;
        const char* body;
        bool forwarder;
        bool logged;
    } cases[] = {
        {"Query", "x", true, true},
        {"Tavrel", "x", true, true},
        {"Tavrel", "", true, false},
        {"Debug", "x", true, false},
        {"Log", "x", true, false},
        {"Query", "x", false, false},
    };
    for (const auto& c : cases) {
        RecordingHooks hooks(true, c.forwarder);
        std::unique_ptr<Message> m(simpleMessage(c.body));
        m->type.assign(c.type);
        m->serialNumber = 8;
        LxObjects::forwardMessageLog(*m, "FWDMESSAGES", LoString("/q"), "picked");
        ASSERT_EQ(hooks.forwarded.size(), c.logged ? 1u : 0u) << c.type << "/" << c.body;
        if (!c.logged)
            continue;
        const Message& report = *hooks.forwarded[0];
        EXPECT_EQ(str(report.getHeader("MsgRoot")), "/q");
        LoString lines;
        LxObjects::writeMessageDiagnostics(lines, LoString("/q"), *m);
        char text[16];
        time_t t = time_t(m->timestamp);
        struct tm parts;
        strftime(text, sizeof text, "%H:%M:%S", localtime_r(&t, &parts));
        EXPECT_EQ(str(report.body), str(lines) + "/q/msg8;1;msg[" + text + "];picked;\n");
        EXPECT_EQ(hooks.forwardedWords(), std::vector<std::string>{"picked"});
    }
}

// ---- diagnostics --------------------------------------------------------------

TEST(MessageDiagnostics, LinesOfOneMessage)
{
    auto clock = [](i64 seconds) {
        char text[16];
        time_t t = time_t(seconds);
        struct tm parts;
        strftime(text, sizeof text, "%H:%M:%S", localtime_r(&t, &parts));
        return std::string(text);
    };
    Message m;
    m.target.assign("app");
    m.sender.assign("tvtk");
    m.timestamp = 1700000000;
    m.timeout = 90;
    m.type.assign("Query");
    m.responseRequest.assign("Result");
    m.serialNumber = 12;
    m.result = 4;
    m.addHeader("H", "v");
    m.body.assign("first line\nsecond");
    LoString out("");
    LxObjects::writeMessageDiagnostics(out, LoString("/p"), m);
    std::string p = "/p/msg12";
    EXPECT_EQ(str(out), p + ";1;msg[" + clock(1700000000) + "];00000012;\n"
                        + p + "/version;0;@TW>Version;2.05;\n"
                        + p + "/target;0;Target;app;\n"
                        + p + "/sender;0;Sender;tvtk;\n"
                        + p + "/senderid;0;Sender-ID;" + senderId() + ";\n"
                        + p + "/timeout;0;Timeout;" + clock(1700000090) + ";\n"
                        + p + "/type;0;Type;Query;\n"
                        + p + "/request;0;Response-Request;Result\n"
                        + p + "/headers;1;Headers;;\n"
                        + p + "/headers/H;0;H;v;\n"
                        + p + "/timestamp;0;Timestamp;" + clock(1700000000) + ";\n"
                        + p + "/serialnumber;0;Serial-Number;12;\n"
                        + p + "/received;0;Received;undefined;\n"
                        + p + "/result;0;Result;4;\n"
                        + p + "/error;0;Error;undefined;\n"
                        + p + "/body;1;Body;17 bytes;\n"
                        + p + "/body/text;0;Text;first line\n");

    Message e;
    e.timestamp = 0;
    e.type.assign("");
    LoString empty;
    LxObjects::writeMessageDiagnostics(empty, LoString(), e);
    EXPECT_EQ(str(empty), "/msg0;1;msg[" + clock(0) + "];00000000;\n"
                          "/msg0/version;0;@TW>Version;2.05;\n"
                          "/msg0/target;0;Target;;\n"
                          "/msg0/sender;0;Sender;;\n"
                          "/msg0/senderid;0;Sender-ID;" + senderId() + ";\n"
                          "/msg0/timeout;0;Timeout;undefined;\n"
                          "/msg0/type;0;Type;undefined;\n"
                          "/msg0/request;0;Response-Request;undefined;\n"
                          "/msg0/headers;0;Headers;(no headers);\n"
                          "/msg0/timestamp;0;Timestamp;undefined;\n"
                          "/msg0/serialnumber;0;Serial-Number;0;\n"
                          "/msg0/received;0;Received;undefined;\n"
                          "/msg0/result;0;Result;undefined;\n"
                          "/msg0/error;0;Error;undefined;\n"
                          "/msg0/body;0;Body;(empty);\n");
}
