#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/Encoder.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/tests/FileTestSupport.h"

namespace LxCore {
namespace {

class FileTest : public FileFolderTest {
protected:
    // A file in the work folder holding the bytes, opened with the mode.
    File* openWith(const std::string& name, const std::string& bytes, const char* mode = "r") {
        writeFile(work + "/" + name, bytes);
        File* file = new File(FileSpec(S(name), true));
        EXPECT_EQ(file->open(String(mode)), 0) << name;
        files.emplace_back(file);
        return file;
    }
    File& fileAt(const std::string& name) {
        files.emplace_back(new File(FileSpec(S(name), true)));
        return *files.back();
    }
    void TearDown() override {
        files.clear();
        FileFolderTest::TearDown();
    }

    struct Deleter {
        void operator()(File* f) const { delete f; }
    };
    std::vector<std::unique_ptr<File, Deleter>> files;
};

// Reads lines until a status other than 0 and records what each call gave.
std::vector<std::pair<std::u16string, i32>> lines(File& file) {
    std::vector<std::pair<std::u16string, i32>> out;
    for (int i = 0; i < 20; ++i) {
        String line;
        i32 status = file.readln(line);
        out.emplace_back(std::u16string(line.chars(), size_t(line.length())), status);
        if (status != 0)
            break;
    }
    return out;
}

std::string canonical(Encoder* e) {
    String names;
    e->getNames(names);
    std::string out;
    for (i32 i = 0; i < names.length() && names[i] != ','; ++i)
        out += char(names[i]);
    return out;
}

// ---------------------------------------------------------------------------
// Opening

TEST_F(FileTest, OpenModesGoByTheirFirstLetterInEitherCase) {
    writeFile(work + "/f", "hello");
    File& file = fileAt("f");
    EXPECT_EQ(file.open(String("x")), 20);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.open(String("READ")), 0);
    EXPECT_TRUE(file.isOpen());
    String text;
    EXPECT_EQ(file.read(-1, text), 0);
    EXPECT_EQ(str(text), u"hello");
    EXPECT_EQ(file.open(String("")), 0);  // reopens
    EXPECT_EQ(file.close(), 0);
    EXPECT_EQ(file.close(), 0);

    EXPECT_EQ(fileAt("missing").open(String("r")), 48);
    EXPECT_FALSE(exists(work + "/missing"));
    EXPECT_EQ(fileAt("new-e").open(String("e")), 0);
    EXPECT_TRUE(exists(work + "/new-e"));
    EXPECT_EQ(fileAt("no/such/folder").open(String("w")), 48);
}

TEST_F(FileTest, WriteEditAndAppendTreatTheContentAsTheirNamesSay) {
    writeFile(work + "/w", "old content");
    writeFile(work + "/e", "0123456789");
    writeFile(work + "/a", "start");
    File& w = fileAt("w");
    ASSERT_EQ(w.open(String("w")), 0);
    EXPECT_EQ(w.write(S("new"), false), 0);
    File& e = fileAt("e");
    ASSERT_EQ(e.open(String("e")), 0);
    EXPECT_EQ(e.write(S("ab"), false), 0);
    File& a = fileAt("a");
    ASSERT_EQ(a.open(String("a")), 0);
    EXPECT_EQ(a.write(S("+end"), false), 0);
    for (File* f : {&w, &e, &a})
        EXPECT_EQ(f->close(), 0);
    EXPECT_EQ(readFile(work + "/w"), "new");
    EXPECT_EQ(readFile(work + "/e"), "ab23456789");
    EXPECT_EQ(readFile(work + "/a"), "start+end");
}

TEST_F(FileTest, ATypeOrCreatorCodeOnANewFileStillOpensIt) {
    File& file = fileAt("typed");
    ASSERT_EQ(file.open(String("w"), 0x54455854, 0x74747874), 0);
    EXPECT_EQ(file.write(S("x"), false), 0);
    EXPECT_EQ(file.close(), 0);
    EXPECT_EQ(readFile(work + "/typed"), "x");
}

TEST_F(FileTest, RelativeSpecsOpenInTheCoreFolder) {
    const std::string before = processFolder();
    File& file = fileAt("here.txt");
    ASSERT_EQ(file.open(String("w")), 0);
    file.close();
    EXPECT_TRUE(exists(work + "/here.txt"));
    EXPECT_EQ(processFolder(), before);
}

TEST_F(FileTest, ABrokenLinkReportsOnReadingAndMeasuring) {
    ASSERT_EQ(symlink("loop-b", (work + "/loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", (work + "/loop-b").c_str()), 0);
    File& file = fileAt("loop-a");
    EXPECT_EQ(file.open(String("r")), 52);
    u32 length = 7;
    EXPECT_EQ(file.getLength(length), 52);
    EXPECT_EQ(length, 0u);
}

TEST_F(FileTest, ALinkIsFollowedToItsTarget) {
    writeFile(work + "/target", "through the link");
    ASSERT_EQ(symlink("target", (work + "/link").c_str()), 0);
    File& file = fileAt("link");
    ASSERT_EQ(file.open(String("r")), 0);
    String text;
    EXPECT_EQ(file.read(-1, text), 0);
    EXPECT_EQ(str(text), u"through the link");
}

TEST_F(FileTest, WithoutAnOpenStreamEveryTransferSays50) {
    File& file = fileAt("closed");
    String text = S("kept?");
    EXPECT_EQ(file.read(3, text), 50);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(file.readln(text), 50);
    EXPECT_EQ(file.write(S("x"), true), 50);
    EXPECT_EQ(file.flush(), 50);
    EXPECT_EQ(file.seek(0, 0), 50);
    EXPECT_EQ(file.tell(), -1);
    EXPECT_TRUE(file.eof());
    EXPECT_EQ(file.execute(), 48);  // nothing there: no opener is started
}

// ---------------------------------------------------------------------------
// Encoding detection

TEST_F(FileTest, MarksAndZeroPatternsNameTheEncoding) {
    struct Case {
        std::string bytes;
        const char* name;
        std::u16string text;
    } cases[] = {
        {"\xEF\xBB\xBFhi", "UTF8", u"hi"},
        {std::string("\xFE\xFF\0A", 4), "UCS-2BE", u"A"},
        {std::string("\xFF\xFE" "A\0", 4), "UCS-2LE", u"A"},
        {std::string("\xFF\xFE\0\0" "A\0\0\0", 8), "UCS-4LE", u"A"},
        {std::string("\0\0\xFE\xFF\0\0\0A", 8), "UCS-4BE", u"A"},
        {std::string("A\0B\0", 4), "UCS-2LE", u"AB"},
        {std::string("\0A\0B", 4), "UCS-2BE", u"AB"},
        {std::string("\0\0\0A", 4), "UCS-4BE", u"A"},
        {std::string("A\0\0\0", 4), "UCS-4LE", u"A"},
        {"Gr\xC3\xBC\xC3\x9F" "e", "UTF-8", u"Gr\u00FC\u00DFe"},
        {"\xF0\x9F\x98\x80", "UTF-8", u"\U0001F600"},
    };
    int index = 0;
    for (const Case& c : cases) {
        File* file = openWith("enc" + std::to_string(index++), c.bytes);
        EXPECT_EQ(N(file->getEncoding()), c.name) << c.name;
        String text;
        EXPECT_EQ(file->read(-1, text), 0) << c.name;
        EXPECT_EQ(str(text), c.text) << c.name;
    }
}

TEST_F(FileTest, WithoutSignsTheCurrentEncoderAndItsNameServe) {
    const std::string current = canonical(currentEncoder());
    for (const std::string& bytes : {std::string("plain ascii"), std::string(), std::string("caf\xE9"),
                                     std::string("cut \xC3")}) {
        File* file = openWith("plain", bytes);
        EXPECT_EQ(N(file->getEncoding()), current) << bytes;
    }
}

TEST_F(FileTest, TheUTF8CheckJudgesWhateverWasRead) {
    // Shorter than, as long as and longer than the part looked at.
    for (size_t size : {2u, 2041u, 2042u, 2045u, 2047u, 2048u, 2049u, 5000u}) {
        std::string bytes = "\xC3\xA9" + std::string(size - 2, 'x');
        File* file = openWith("sized", bytes);
        EXPECT_EQ(N(file->getEncoding()), "UTF-8") << size;
    }
    // A sequence cut by the end of the part looked at is not judged ...
    File* cut = openWith("cut", "\xC3\xA9" + std::string(2045, 'x') + "\xE6\x97\xA5");
    EXPECT_EQ(N(cut->getEncoding()), "UTF-8");
    // ... but a bad byte inside it is.
    File* bad = openWith("bad", "\xC3\xA9" + std::string(100, 'x') + "\xFF");
    EXPECT_NE(N(bad->getEncoding()), "UTF-8");
}

TEST_F(FileTest, AnEncodingSetBeforeOpeningWins) {
    writeFile(work + "/f", "caf\xC3\xA9");
    File& file = fileAt("f");
    file.setEncoding(S("iso-8859-1"));
    ASSERT_EQ(file.open(String("r")), 0);
    EXPECT_EQ(N(file.getEncoding()), "iso-8859-1");
    String text;
    EXPECT_EQ(file.read(-1, text), 0);
    EXPECT_EQ(str(text), u"caf\u00C3\u00A9");

    file.setEncoding(S("no-such-encoding"));
    EXPECT_EQ(N(file.getEncoding()), canonical(currentEncoder()));
}

// ---------------------------------------------------------------------------
// Reading

TEST_F(FileTest, LinesEndAtEveryKindOfBreak) {
    File* file = openWith("lines", "a\r\nb\n\rc");
    EXPECT_EQ(lines(*file), (std::vector<std::pair<std::u16string, i32>>{{u"a", 0}, {u"b", 0}, {u"c", 0}, {u"", 51}}));
    file = openWith("lone", "a\rb\nc\r\rd");
    EXPECT_EQ(lines(*file), (std::vector<std::pair<std::u16string, i32>>{
                                {u"a", 0}, {u"b", 0}, {u"c", 0}, {u"", 0}, {u"d", 0}, {u"", 51}}));
}

TEST_F(FileTest, AnEmptyLastLineComesWithReadPastEnd) {
    File* file = openWith("two-lf", "x\n\n");
    EXPECT_EQ(lines(*file), (std::vector<std::pair<std::u16string, i32>>{{u"x", 0}, {u"", 51}}));
}

TEST_F(FileTest, CountedReadsFoldLineBreaksInVariableWidthText) {
    File* file = openWith("utf8", "\xC3\xA9x\r\ny\rz\n\r!");
    ASSERT_EQ(N(file->getEncoding()), "UTF-8");
    String text;
    EXPECT_EQ(file->read(4, text), 0);
    EXPECT_EQ(str(text), u"\u00E9x\ny");
    EXPECT_EQ(file->read(3, text), 0);
    EXPECT_EQ(str(text), u"\nz\n");
    EXPECT_EQ(file->read(5, text), 0);
    EXPECT_EQ(str(text), u"!");
    EXPECT_EQ(file->read(1, text), 51);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(file->read(0, text), 0);  // nothing asked, nothing past the end
}

TEST_F(FileTest, FourByteCharactersAreNeverCutInHalf) {
    const std::string smile = "\xF0\x9F\x98\x80";
    File* file = openWith("smile", smile + smile + "\n" + smile + "x\r" + smile + "\r\n" + smile);
    ASSERT_EQ(N(file->getEncoding()), "UTF-8");
    String text;
    EXPECT_EQ(file->read(1, text), 0);
    EXPECT_EQ(str(text), u"\U0001F600");
    EXPECT_EQ(file->readln(text), 0);
    EXPECT_EQ(str(text), u"\U0001F600");
    EXPECT_EQ(file->read(2, text), 0);
    EXPECT_EQ(str(text), u"\U0001F600x");
    EXPECT_EQ(file->readln(text), 0);  // the CR pushes the next character back
    EXPECT_TRUE(text.isEmpty());
    EXPECT_FALSE(file->eof());
    EXPECT_EQ(file->readln(text), 0);
    EXPECT_EQ(str(text), u"\U0001F600");
    EXPECT_EQ(file->readln(text), 0);
    EXPECT_EQ(str(text), u"\U0001F600");
    EXPECT_TRUE(file->eof());
    EXPECT_EQ(file->readln(text), 51);
}

TEST_F(FileTest, ACharacterHeldBackIsNotTheEnd) {
    File* file = openWith("held", "a\rb");
    String text;
    EXPECT_EQ(file->readln(text), 0);
    EXPECT_EQ(str(text), u"a");
    EXPECT_FALSE(file->eof());  // 'b' was read ahead
    EXPECT_EQ(file->read(-1, text), 0);
    EXPECT_EQ(str(text), u"b");
    EXPECT_TRUE(file->eof());
}

TEST_F(FileTest, BadBytesReadAsReplacementsWithoutEndingTheText) {
    File* file = openWith("bad", "\xC3\xA9 a\xFF" "b\xC3" "c\nend \xE6\x97");
    file->setEncoding(S("UTF-8"));
    EXPECT_EQ(lines(*file), (std::vector<std::pair<std::u16string, i32>>{
                                {u"\u00E9 a\uFFFDb\uFFFDc", 0}, {u"end \uFFFD\uFFFD", 0}, {u"", 51}}));
}

TEST_F(FileTest, FixedWidthReadsCountInSixtyFourBitsAndStopAtTheEnd) {
    File* wide = openWith("ucs2", std::string("\xFF\xFE" "A\0B\0C\0", 8));
    ASSERT_EQ(N(wide->getEncoding()), "UCS-2LE");
    String text;
    EXPECT_EQ(wide->read(2, text), 0);
    EXPECT_EQ(str(text), u"AB");
    EXPECT_EQ(wide->read(0x7FFFFFFE, text), 0);  // 2 x that overflows 32 bits
    EXPECT_EQ(str(text), u"C");
    EXPECT_EQ(wide->read(1, text), 51);

    File* wider = openWith("ucs4", std::string("\0\0\xFE\xFF\0\0\0A\0\0\0B", 12));
    EXPECT_EQ(wider->read(0x7FFFFFFE, text), 0);
    EXPECT_EQ(str(text), u"AB");

    File* plain = openWith("plain", "no breaks\r\nfolded");
    EXPECT_EQ(plain->read(0x40000000, text), 0);
    EXPECT_EQ(str(text), u"no breaks\r\nfolded");
}

TEST_F(FileTest, ReadingTheRestFoldsBreaksUnlessBinary) {
    File* file = openWith("rest", "a\r\nb\rc");
    String text;
    EXPECT_EQ(file->read(-1, text), 0);
    EXPECT_EQ(str(text), u"a\nb\nc");
    EXPECT_EQ(file->read(0x7FFFFFFF, text), 0);  // nothing left is no error
    EXPECT_TRUE(text.isEmpty());

    File* binary = openWith("binary", "a\r\n\xFF");
    binary->setEncoding(S("BINARY"));
    EXPECT_EQ(binary->read(-1, text), 0);
    EXPECT_EQ(str(text), u"a\r\n\u00FF");

    File* cut = openWith("cut", "\xC3\xA9\xE6\x97");
    cut->setEncoding(S("UTF-8"));
    EXPECT_EQ(cut->read(-1, text), 38);
    EXPECT_EQ(str(text), u"\u00E9");
}

TEST_F(FileTest, ReadAllOpensWhenNeededAndRefusesLongFiles) {
    writeFile(work + "/all", "whole\r\ntext");
    File& file = fileAt("all");
    String text;
    EXPECT_EQ(file.readAll(text, 100), 0);
    EXPECT_EQ(str(text), u"whole\ntext");
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.readAll(text, 5), 52);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(fileAt("missing").readAll(text, 100), 48);
}

// ---------------------------------------------------------------------------
// Writing, positions and lengths

TEST_F(FileTest, WritingConvertsLineBreaksWhenAsked) {
    File& file = fileAt("out");
    ASSERT_EQ(file.open(String("w")), 0);
    EXPECT_EQ(file.write(S("a\nb\rc\r\nd"), true), 0);
    EXPECT_EQ(file.write(S("|e\nf"), false), 0);
    file.setEncoding(S("UTF-8"));
    EXPECT_EQ(file.write(S("|\xC3\xA9\xF0\x9F\x98\x80"), true), 0);
    file.setEncoding(S("BINARY"));
    EXPECT_EQ(file.write(S("|\n"), true), 0);
    EXPECT_EQ(file.close(), 0);
    EXPECT_EQ(readFile(work + "/out"), "a\r\nb\r\nc\r\nd|e\nf|\xC3\xA9\xF0\x9F\x98\x80|\n");
}

TEST_F(FileTest, TextTheEncoderCannotTakeIsNotWritten) {
    File& file = fileAt("ascii");
    ASSERT_EQ(file.open(String("w")), 0);
    file.setEncoding(S("US-ASCII"));
    EXPECT_EQ(file.write(S("ok"), false), 0);
    EXPECT_EQ(file.write(S("caf\xC3\xA9"), false), 37);
    EXPECT_EQ(file.close(), 0);
    EXPECT_EQ(readFile(work + "/ascii"), "ok");
}

TEST_F(FileTest, SeekCountsFromStartPositionOrEnd) {
    File* file = openWith("hundred", std::string(100, 'x'));
    EXPECT_EQ(file->seek(10, 2), 0);
    EXPECT_EQ(file->tell(), 90);
    EXPECT_EQ(file->seek(0, 2), 0);
    EXPECT_EQ(file->tell(), 100);
    EXPECT_TRUE(file->eof());
    EXPECT_EQ(file->seek(-20, 1), 0);
    EXPECT_EQ(file->tell(), 80);
    EXPECT_EQ(file->seek(7, -5), 0);  // modes below 0 count from the start
    EXPECT_EQ(file->tell(), 7);
    EXPECT_FALSE(file->eof());
    for (const auto& [offset, mode] : {std::pair{-1, 0}, {101, 0}, {101, 2}, {-1, 2}, {-8, 1}})
        EXPECT_EQ(file->seek(offset, mode), 52) << offset << " " << mode;
    EXPECT_EQ(file->tell(), 7);
}

TEST_F(FileTest, TheLengthIsRememberedRaisedByWritesAndSet) {
    writeFile(work + "/len", std::string(100, 'x'));
    File& file = fileAt("len");
    u32 length = 0;
    EXPECT_EQ(file.getLength(length), 0);  // measured while closed
    EXPECT_EQ(length, 100u);
    ASSERT_EQ(file.open(String("e")), 0);
    EXPECT_EQ(file.write(S("12345"), false), 0);
    EXPECT_EQ(file.getLength(length), 0);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(file.seek(0, 2), 0);
    EXPECT_EQ(file.write(S("more"), false), 0);
    EXPECT_EQ(file.getLength(length), 0);
    EXPECT_EQ(length, 104u);

    EXPECT_EQ(file.setLength(10), 0);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.getLength(length), 0);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(readFile(work + "/len"), "12345xxxxx");
    EXPECT_EQ(file.setLength(-3), 0);
    EXPECT_EQ(readFile(work + "/len"), "");
    EXPECT_EQ(fileAt("missing").setLength(5), 48);
}

TEST_F(FileTest, OpeningForWritingForgetsTheOldLength) {
    writeFile(work + "/emptied", std::string(100, 'x'));
    File& file = fileAt("emptied");
    u32 length = 0;
    ASSERT_EQ(file.getLength(length), 0);
    ASSERT_EQ(file.open(String("w")), 0);
    EXPECT_EQ(file.getLength(length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(file.seek(50, 0), 52);
}

TEST_F(FileTest, ReadingAndWritingMayTakeTurns) {
    File* file = openWith("turns", "abcdef", "e");
    String text;
    EXPECT_EQ(file->read(2, text), 0);
    EXPECT_EQ(file->write(S("XY"), false), 0);
    EXPECT_EQ(file->read(1, text), 0);
    EXPECT_EQ(str(text), u"e");
    EXPECT_EQ(file->close(), 0);
    EXPECT_EQ(readFile(work + "/turns"), "abXYef");
}

TEST_F(FileTest, AFailedWriteIsReportedAndCleared) {
    File* file = openWith("read-only-stream", "abc");
    EXPECT_EQ(file->write(S("x"), false), 52);
    String text;
    EXPECT_EQ(file->read(-1, text), 0);
    EXPECT_EQ(str(text), u"abc");
    EXPECT_EQ(readFile(work + "/read-only-stream"), "abc");
}

TEST_F(FileTest, AStreamThatCannotSeekGivesNothingToTheDetection) {
    const std::string fifo = work + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // keeps the pipe open meanwhile
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "\xEF\xBB\xBFpiped", 8), 8);
    File& file = fileAt("fifo");
    ASSERT_EQ(file.open(String("r")), 0);
    ::close(writer);
    String text;
    EXPECT_EQ(file.read(-1, text), 0);
    EXPECT_EQ(str(text), u"\u00EF\u00BB\u00BFpiped");
}

TEST_F(FileTest, LengthsBeyond32BitsAreRefusedClearly) {
    writeFile(work + "/huge", "");
    if (truncate((work + "/huge").c_str(), off_t(5) << 30) != 0)
        GTEST_SKIP() << "no room for a sparse file";
    File& file = fileAt("huge");
    u32 length = 0;
    EXPECT_EQ(file.getLength(length), 52);
    String text;
    EXPECT_EQ(file.readAll(text, 0x7FFFFFFF), 52);
    ASSERT_EQ(file.open(String("r")), 0);
    EXPECT_THROW(file.read(-1, text), std::bad_alloc);
}

// ---------------------------------------------------------------------------
// Script files

// A device or a pipe never opens as a script (an open that waited for a
// writer would hang here), nor does a folder or more than the bound.
TEST_F(FileTest, OnlyARegularFileOfBoundedSizeOpensAsAScript) {
    writeFile(work + "/script.tvs", "1 + 1");
    writeFile(work + "/eleven.tvs", "12345678901");
    ASSERT_EQ(mkfifo((work + "/fifo").c_str(), 0600), 0);
    mkdir((work + "/folder").c_str(), 0700);
    ASSERT_EQ(symlink("script.tvs", (work + "/link.tvs").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (work + "/zero.tvs").c_str()), 0);
    const struct {
        const char* name;
        i64 bound;
        i32 status;
    } cases[] = {
        {"script.tvs", kMaxScriptFileBytes, 0}, {"link.tvs", kMaxScriptFileBytes, 0},
        {"eleven.tvs", 11, 0},                  {"eleven.tvs", 10, 41},
        {"missing.tvs", kMaxScriptFileBytes, 48}, {"folder", kMaxScriptFileBytes, 52},
        {"fifo", kMaxScriptFileBytes, 52},      {"zero.tvs", kMaxScriptFileBytes, 52},
        {"/dev/zero", kMaxScriptFileBytes, 52}, {"/dev/null", kMaxScriptFileBytes, 52},
    };
    for (const auto& c : cases) {
        File& file = fileAt(c.name);
        EXPECT_EQ(file.openScript(c.bound), c.status) << c.name << " " << c.bound;
        EXPECT_EQ(file.isOpen(), c.status == 0) << c.name;
    }
    // A sparse file over the bound is refused before a byte is read.
    writeFile(work + "/sparse.tvs", "");
    ASSERT_EQ(truncate((work + "/sparse.tvs").c_str(), off_t(kMaxScriptFileBytes) + 1), 0);
    EXPECT_EQ(fileAt("sparse.tvs").openScript(), 41);
}

TEST_F(FileTest, AScriptFileThatGrowsPastItsBoundIsNotRead) {
    writeFile(work + "/growing.tvs", "var a = 1;");
    File& file = fileAt("growing.tvs");
    ASSERT_EQ(file.openScript(20), 0);
    {
        std::ofstream more(work + "/growing.tvs", std::ios::app);
        more << "var b = 2;\nvar c = 3;";
    }
    String text;
    EXPECT_EQ(file.read(-1, text), 41);
    EXPECT_TRUE(text.isEmpty());
    // Opened again, what it holds now is too much from the start.
    EXPECT_EQ(file.openScript(20), 41);
}

// The watch is asked between blocks, as often as the file is long, and
// its answer ends the read.
TEST_F(FileTest, AReadWatchIsAskedBetweenBlocksAndMayEndTheRead) {
    struct Watch : ReadWatch {
        i32 asked = 0;
        i32 answer = 0;
        i32 check() override {
            ++asked;
            return answer;
        }
    };
    auto reading = [&](size_t bytes, i32 answer, i32& asked) {
        writeFile(work + "/long.tvs", std::string(bytes, 'x'));
        File& file = fileAt("long.tvs");
        EXPECT_EQ(file.openScript(), 0);
        Watch watch;
        watch.answer = answer;
        file.setReadWatch(&watch);
        String text;
        const i32 status = file.read(-1, text);
        asked = watch.asked;
        EXPECT_EQ(text.isEmpty(), status != 0);
        return status;
    };
    i32 small = 0, once = 0, twice = 0, ended = 0;
    EXPECT_EQ(reading(100, 0, small), 0);
    EXPECT_EQ(small, 0);
    EXPECT_EQ(reading(1 << 20, 0, once), 0);
    EXPECT_EQ(reading(2 << 20, 0, twice), 0);
    EXPECT_GT(once, 1);
    EXPECT_GE(twice, 2 * once - 1);
    EXPECT_LE(twice, 2 * once + 1);
    EXPECT_EQ(reading(1 << 20, -34, ended), -34);
    EXPECT_EQ(ended, 1);
}

// ---------------------------------------------------------------------------
// Copying

TEST_F(FileTest, CopyingTakesEveryBlock) {
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += char('a' + i % 26);
    writeFile(work + "/source", content);
    writeFile(work + "/target", "to be replaced, and longer than nothing");
    File& file = fileAt("source");
    ASSERT_EQ(file.open(String("r")), 0);
    EXPECT_EQ(file.copy(FileSpec(S("target"), true)), 0);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(readFile(work + "/target"), content);
    EXPECT_EQ(file.copy(FileSpec(S("fresh"), true)), 0);
    EXPECT_EQ(readFile(work + "/fresh"), content);
    EXPECT_EQ(fileAt("missing").copy(FileSpec(S("x"), true)), 48);
    EXPECT_FALSE(exists(work + "/x"));
    EXPECT_EQ(file.copy(FileSpec(S("no/folder/x"), true)), 48);
}

TEST_F(FileTest, CopyingAFileOntoItselfLeavesItIntact) {
    writeFile(work + "/self", "precious");
    ASSERT_EQ(symlink("self", (work + "/alias").c_str()), 0);
    ASSERT_EQ(link((work + "/self").c_str(), (work + "/hard").c_str()), 0);
    File& file = fileAt("self");
    for (const char* target : {"self", "alias", "hard", "./self"})
        EXPECT_EQ(file.copy(FileSpec(S(target), true)), 0) << target;
    EXPECT_EQ(readFile(work + "/self"), "precious");
}

// ---------------------------------------------------------------------------
// Wrappers

class Counted : public Refcountable {
public:
    explicit Counted(int* gone) : gone(gone) {}
    ~Counted() override { ++*gone; }
    int* gone;
};

TEST_F(FileTest, AWrapperOwnsWhatItHoldsAndClonesFresh) {
    int gone = 0;
    Cloneable* copy = nullptr;
    {
        FileWrapper wrapper(FileSpec(S("w.txt"), true));
        EXPECT_EQ(wrapper.getFileSpec(), FileSpec(S(work + "/w.txt"), true));
        FileWrapperData& data = wrapper.getData();
        EXPECT_EQ(data.file, nullptr);
        EXPECT_EQ(data.holder, nullptr);
        EXPECT_TRUE(data.name.isEmpty());
        data.file = new File(data.spec);
        ASSERT_EQ(data.file->open(String("w")), 0);
        data.holder = new RefcountablePtr(new Counted(&gone));
        data.name = S("File");
        wrapper.clone(copy);
        ASSERT_NE(copy, nullptr);
    }
    EXPECT_EQ(gone, 1);
    auto* clone = static_cast<FileWrapper*>(copy);
    EXPECT_EQ(clone->getFileSpec(), FileSpec(S(work + "/w.txt"), true));
    EXPECT_EQ(clone->getData().file, nullptr);
    EXPECT_TRUE(clone->getData().name.isEmpty());
    delete copy;
}

}  // namespace
}  // namespace LxCore
