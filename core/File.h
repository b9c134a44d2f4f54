// The core's text and byte file: a C stream on the path of a FileSpec, with
// an encoder between its bytes and String text, encoding detection when it
// is opened, line-break conversion and a remembered length. Every operation
// answers a core error number: 0, 20 bad mode, 37/38 conversion, 48 missing,
// 50 not open, 51 read past the end, 52 I/O error.
#pragma once
#include <cstdio>

#include "core/ErrorCodes.h"
#include "core/FileSpec.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class Encoder;

// Script files are read whole, so only a regular file of at most this many
// bytes is taken: a device or a pipe may never end or may wait for a
// writer, and no script is this long.
constexpr i64 kMaxScriptFileBytes = 40000000;

// Asked between the blocks of a long read, so that the reader's deadline or
// a request to stop can end it.
class ReadWatch {
public:
    virtual ~ReadWatch() = default;
    // 0 lets the read go on; any other number ends it with that status and
    // no text.
    virtual i32 check() = 0;
};

class FileData : public Root {
public:
    FileSpecData spec;          // the path, resolved when the FileSpec named a link
    String encodingName;        // empty until set or filled in by open
    Encoder* encoder = nullptr; // not owned
    FILE* stream = nullptr;
    i64 length = -1;            // remembered length in bytes; -1 until measured
    unit held[2] = {};          // units read but not yet delivered, held[0] first
    i32 heldCount = 0;
    u32 lineFeed = 1;           // for writing: 1 CR LF, 2 CR, 3 LF
    u32 status = Err::kFileNotFound; // until resolved, then what resolving gave
    bool writing = false;       // the stream's last transfer was a write
    i64 limit = -1;             // the most bytes a script file opened may hold; -1 unbounded
    ReadWatch* watch = nullptr; // not owned

    // The next UTF-16 unit, -1 at the end of the file or on a stream error.
    i32 readChar();
    void pushBack(unit c);

private:
    void decodeCharacter(const char* bytes, u32& in, unit* out, u32& room) const;
};

class File : public Root {
public:
    explicit File(const FileSpec& spec);
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The length in bytes, measured once (opening the file for it when it is
    // closed); 52 when it cannot be told or does not fit 32 bits.
    virtual i32 getLength(u32& out);
    // Closes the file, then cuts or extends it on disk (negative means 0).
    virtual i32 setLength(i32 length);
    // Mode by its first letter, either case: r (or empty) read, w create or
    // empty, e edit (create when missing), a append; anything else 20.
    // A type or creator code applies only to a file the open creates.
    virtual i32 open(const String& mode, i32 type = 0, i32 creator = 0);
    virtual i32 close();
    virtual bool isOpen() const;
    // Opens a script file for reading as open("r") does, but only a regular
    // file of at most maxBytes bytes, one that grows past them while it is
    // read failing too: 48 missing, 53 not allowed, 52 not a regular file,
    // 41 too long. Nothing is opened that is not a regular file.
    i32 openScript(i64 maxBytes = kMaxScriptFileBytes);
    // Asked between the blocks of the reads that follow; null for none.
    void setReadWatch(ReadWatch* watch);
    // count characters; a negative count or 0x7FFFFFFF reads the rest.
    virtual i32 read(i32 count, String& out);
    virtual i32 readln(String& out);
    // Opens the file for the read when it is closed; 52 when it is longer
    // than max bytes.
    virtual i32 readAll(String& out, i32 max);
    virtual bool eof();
    virtual i32 write(const String& text, bool convertLineFeeds);
    // mode 0 from the start, 1 from the position, 2 back from the end.
    virtual i32 seek(i32 offset, i32 mode);
    // The byte position; -1 when not open or beyond 32 bits.
    virtual i32 tell();
    virtual i32 flush();
    // Copies the file to the target in blocks; copying it onto itself
    // changes nothing.
    virtual i32 copy(const FileSpec& target);
    // Opens the file with the desktop's program for it.
    virtual i32 execute();

    const String& getEncoding() const;
    // An unknown name gives the current encoder and its canonical name.
    void setEncoding(const String& name);

private:
    FileData* d;

    void adopt(FILE* stream, bool detect);
    i32 readRest(String& out);
    i32 readFixed(i32 count, String& out);
    i32 readCharacters(i32 count, String& out);
    i32 finishRead(const String& out);
    i32 measure(i64& out);
    void prepareTransfer(bool toWrite);
};

// What a script's File or Folder object holds: its own spec, the file it
// opened, a further object it keeps alive, and a name.
class FileWrapperData : public Root {
public:
    explicit FileWrapperData(const FileSpec& spec) : spec(spec) {}
    ~FileWrapperData();
    FileWrapperData(const FileWrapperData&) = delete;
    FileWrapperData& operator=(const FileWrapperData&) = delete;

    FileSpec spec;
    File* file = nullptr;               // owned
    RefcountablePtr* holder = nullptr;  // owned; its object is released with it
    String name;
};

class FileWrapper : public Cloneable {
public:
    explicit FileWrapper(const FileSpec& spec);
    ~FileWrapper() override;
    FileWrapper(const FileWrapper&) = delete;
    FileWrapper& operator=(const FileWrapper&) = delete;

    // A new wrapper on the same spec; nothing open is shared.
    void clone(Cloneable*& out) const override;
    const FileSpec& getFileSpec() const;
    FileWrapperData& getData();

private:
    FileWrapperData* d;
};

}  // namespace LxCore
