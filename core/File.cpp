// Files: C streams with an encoder between their bytes and String text.
#include "core/File.h"

#include <climits>
#include <new>
#include <vector>

#include "core/CharClass.h"
#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/platform/FileSystem.h"

namespace LxCore {

namespace {

constexpr i32 kReadRest = 0x7FFFFFFF;   // as a count: everything that is left
constexpr u32 kMaxCharBytes = 32;       // bytes tried for one character
constexpr size_t kChunk = 65536;        // bytes read at a time
constexpr size_t kCopyBlock = 2048;
constexpr unit kReplacement = 0xFFFD;

// How far the encoding check looks into a file.
constexpr size_t kProbeBytes = 2048;

bool isLineBreak(i32 c) { return c == 13 || c == 10; }

bool isBinary(const Encoder* e) { return e && e == binaryEncoder(); }

String canonicalName(const Encoder* e) {
    if (!e)
        return String();
    String names;
    e->getNames(names);
    const i32 comma = names.find(unit(','));
    return comma < 0 ? names : names.substr(0, comma);
}

unit lowerAscii(unit c) { return c >= 'A' && c <= 'Z' ? unit(c + 32) : c; }

// Whether the bytes read from the start of a file look like UTF-8: every
// sequence well formed and at least one longer than a byte. Only the form
// counts here, not the value a sequence holds. A sequence cut off by the end
// of what was read is not judged, unless the file itself ends there: a file
// cut inside a character is not well formed.
bool looksLikeUTF8(const u8* bytes, size_t n, bool wholeFile) {
    bool multiByte = false;
    for (size_t i = 0; i < n;) {
        const u32 length = utf8LeadLength(bytes[i]);
        if (length == 0)
            return false;
        if (length > n - i)
            return !wholeFile && multiByte;
        u32 value = 0;
        if (!readUtf8(bytes + i, length, value))
            return false;
        multiByte |= length > 1;
        i += length;
    }
    return multiByte;
}

// The encoding a file's first bytes announce, and the length of the mark to
// skip. The stream is left after the mark; a stream that cannot seek back
// is not looked at, so that nothing is taken from it.
const char* detectEncoding(FILE* stream) {
    const i64 start = ftello(stream);
    if (start < 0)
        return nullptr;
    u8 head[4];
    const size_t got = std::fread(head, 1, 4, stream);
    i32 b[4];
    for (size_t i = 0; i < 4; ++i)
        b[i] = i < got ? head[i] : -1;
    auto nonZero = [&](i32 i) { return b[i] > 0; };
    auto zero = [&](i32 i) { return b[i] == 0; };
    auto present = [&](i32 i) { return b[i] >= 0; };

    const char* name = nullptr;
    i64 skip = 0;
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        name = "UTF8", skip = 3;
    else if (b[0] == 0xFE && b[1] == 0xFF)
        name = "UCS-2BE", skip = 2;
    else if (b[0] == 0xFF && b[1] == 0xFE && zero(2) && zero(3))
        name = "UCS-4LE", skip = 4;
    else if (b[0] == 0xFF && b[1] == 0xFE)
        name = "UCS-2LE", skip = 2;
    else if (zero(0) && zero(1) && b[2] == 0xFE && b[3] == 0xFF)
        name = "UCS-4BE", skip = 4;
    else if (zero(0) && nonZero(1) && zero(2) && nonZero(3))
        name = "UCS-2BE";
    else if (zero(0) && zero(1) && present(2) && nonZero(3))
        name = "UCS-4BE";
    else if (nonZero(0) && zero(1) && nonZero(2) && zero(3))
        name = "UCS-2LE";
    else if (nonZero(0) && present(1) && zero(2) && zero(3))
        name = "UCS-4LE";
    else if (fseeko(stream, start, SEEK_SET) == 0) {
        u8 probe[kProbeBytes];
        const size_t n = std::fread(probe, 1, kProbeBytes, stream);
        if (!std::ferror(stream) && looksLikeUTF8(probe, n, n < kProbeBytes))
            name = "UTF-8";
    }
    std::clearerr(stream);
    return fseeko(stream, start + skip, SEEK_SET) == 0 ? name : nullptr;
}

// Reads up to `want` bytes onto the end of `out`, in chunks, so that memory
// grows only with what the file really holds; the watch is asked before
// every chunk but the first. 0, 52 on a stream error, or what the watch
// answered.
i32 readBytes(FILE* stream, u64 want, std::vector<char>& out, ReadWatch* watch) {
    for (bool first = true; want > 0; first = false) {
        if (watch && !first)
            if (const i32 status = watch->check())
                return status;
        const size_t size = want < kChunk ? size_t(want) : kChunk;
        const size_t old = out.size();
        out.resize(old + size);
        const size_t got = std::fread(out.data() + old, 1, size, stream);
        out.resize(old + got);
        want -= got;
        if (got < size)
            return std::ferror(stream) ? Err::kIOError : 0;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading characters

// Bytes are taken one at a time until the encoder makes a character of them.
// A character of two units (a surrogate pair) gives its second unit on the
// next call. Bytes the encoder cannot make anything of become U+FFFD, as the
// encoder's own replacements do, so a bad byte neither ends the reading nor
// swallows what follows it.
i32 FileData::readChar() {
    if (heldCount > 0) {
        const unit c = held[0];
        held[0] = held[1];
        --heldCount;
        return c;
    }
    if (!stream)
        return -1;
    char bytes[kMaxCharBytes];
    u32 n = 0;
    for (;;) {
        const int b = std::getc(stream);
        if (b == EOF && (n == 0 || std::ferror(stream)))
            return -1;
        if (b == EOF || n == kMaxCharBytes) {
            // Nothing decodes: the first byte stands alone, and what follows
            // it is read again (seeking also clears the end-of-file mark).
            fseeko(stream, -i64(n - 1), SEEK_CUR);
            return kReplacement;
        }
        bytes[n++] = char(b);
        if (!encoder)
            return u8(bytes[0]);  // no encoders yet: Latin-1
        unit out[2];
        u32 in = n, room = 0;
        decodeCharacter(bytes, in, out, room);
        if (room > 0) {
            if (in < n)
                fseeko(stream, -i64(n - in), SEEK_CUR);  // read again next time
            if (room > 1)
                held[heldCount++] = out[1];
            return out[0];
        }
    }
}

// Decodes the first character of the bytes into out (room for two units);
// room comes back as the units made, 0 while the bytes make none yet.
void FileData::decodeCharacter(const char* bytes, u32& in, unit* out, u32& room) const {
    // Encoders that convert in one system call want the exact room.
    u32 count = 0;
    room = 2;
    if (encoder->getCharCount(bytes, i32(in), count) == 0 && count != kEncoderNoCount) {
        if (count == 0) {
            room = 0;
            return;
        }
        if (count < room)
            room = count;
    }
    const i32 status = encoder->decode(bytes, in, out, room);
    // A replaced sequence stands for its first byte only: what follows may
    // be a character of its own.
    if (status != 0 && room == 1 && out[0] == kReplacement && in > 1)
        in = 1;
}

void FileData::pushBack(unit c) {
    if (heldCount == 2)
        return;  // cannot happen: one unit is pushed back after one is read
    held[1] = held[0];
    held[0] = c;
    ++heldCount;
}

// ---------------------------------------------------------------------------
// File

File::File(const FileSpec& spec) : d(new FileData) {
    try {
        d->encoder = currentEncoder();
        d->lineFeed = u32(getPlatformLineFeed());
        FileSpec target;
        d->status = u32(spec.resolveAlias(target));
        target.getNativePath(d->spec.path);
    } catch (...) {
        delete d;
        throw;
    }
}

File::~File() {
    close();
    delete d;
}

i32 File::open(const String& mode, i32 type, i32 creator) {
    const unit letter = lowerAscii(mode.isEmpty() ? unit('r') : mode[0]);
    const bool existed = platformGetAttributes(d->spec.path) != 0;
    const char* how;
    switch (letter) {
        case 'a': how = "a+b"; break;
        case 'e': how = existed ? "r+b" : "w+b"; break;
        case 'r':
            if (d->status != 0)
                return i32(d->status);  // a link that could not be followed
            how = "rb";
            break;
        case 'w': how = "w+b"; break;
        default: return Err::kBadArgumentList;
    }
    if (i32 status = close())
        return status;
    FILE* stream = nullptr;
    if (i32 status = platformOpenStream(d->spec.path, how, stream))
        return status;
    if ((type != 0 || creator != 0) && !existed) {
        std::fclose(stream);
        platformSetTypeCreator(d->spec.path, u32(type), u32(creator));
        if (i32 status = platformOpenStream(d->spec.path, how, stream))
            return status;
    }
    adopt(stream, letter != 'w');
    return 0;
}

i32 File::openScript(i64 maxBytes) {
    if (d->status != 0)
        return i32(d->status);  // a link that could not be followed
    if (i32 status = close())
        return status;
    FILE* stream = nullptr;
    i64 size = 0;
    if (i32 status = platformOpenRegularFile(d->spec.path, stream, size))
        return status;
    if (size > maxBytes) {
        std::fclose(stream);
        return Err::kOutOfRange;
    }
    adopt(stream, true);
    d->limit = maxBytes;
    return 0;
}

void File::setReadWatch(ReadWatch* watch) { d->watch = watch; }

// The freshly opened stream becomes the file's, its encoding detected
// unless it was opened for writing only.
void File::adopt(FILE* stream, bool detect) {
    d->stream = stream;
    d->status = 0;
    d->heldCount = 0;
    d->writing = false;
    d->length = -1;  // "w" may just have emptied it, and others may have changed it
    d->limit = -1;
    if (detect) {
        const char* name = detectEncoding(stream);
        if (name && d->encodingName.isEmpty()) {
            if (Encoder* e = findEncoder(String(name))) {
                d->encoder = e;
                d->encodingName = name;
            }
        }
    }
    if (d->encodingName.isEmpty())
        d->encodingName = canonicalName(d->encoder);
}

i32 File::close() {
    if (!d->stream)
        return 0;
    const int rc = std::fclose(d->stream);
    d->stream = nullptr;
    d->heldCount = 0;
    d->writing = false;
    return rc == 0 ? 0 : Err::kIOError;
}

bool File::isOpen() const { return d->stream != nullptr; }

// The C runtime wants a positioning call between a write and a read.
void File::prepareTransfer(bool toWrite) {
    if (d->writing != toWrite)
        fseeko(d->stream, 0, SEEK_CUR);
    d->writing = toWrite;
}

i32 File::finishRead(const String& out) {
    if (std::ferror(d->stream)) {
        std::clearerr(d->stream);
        return Err::kIOError;
    }
    if (out.isEmpty() && d->heldCount == 0 && std::feof(d->stream))
        return Err::kReadPastEnd;
    return 0;
}

i32 File::read(i32 count, String& out) {
    out.clear();
    if (!d->stream)
        return Err::kNotOpen;
    prepareTransfer(false);
    if (count < 0 || count == kReadRest)
        return readRest(out);
    if (count == 0)
        return 0;
    if (!d->encoder || d->encoder->width >= 1)
        return readFixed(count, out);
    return readCharacters(count, out);
}

// Units held back by line reading were read before the rest, so they come
// first. Nothing left is an empty text, not an error.
i32 File::readRest(String& out) {
    String text(d->held, d->heldCount);
    d->heldCount = 0;
    // More than a script file may hold is an error; more than a text can
    // hold is the lack of memory it would be.
    const bool bounded = d->limit >= 0;
    const u64 most = bounded ? u64(d->limit) : u64(String::kMaxLength);
    auto tooLong = [bounded]() -> i32 {
        if (!bounded)
            throw std::bad_alloc();
        return Err::kOutOfRange;
    };
    std::vector<char> bytes;
    i64 length = 0;
    const i64 position = ftello(d->stream);
    if (position >= 0 && measure(length) == 0 && length > position) {
        if (u64(length - position) > most)
            return tooLong();
        bytes.reserve(size_t(length - position));
    }
    // Read to the end rather than to the length measured: the file may grow.
    if (const i32 status = readBytes(d->stream, most + 1, bytes, d->watch)) {
        std::clearerr(d->stream);
        return status;
    }
    if (bytes.size() > most)
        return tooLong();
    String rest;
    const i32 status = i32(rest.decode(bytes.data(), i32(bytes.size()), d->encoder));
    text += rest;
    if (!isBinary(d->encoder))
        text.convertLineFeeds(3);
    out = text;
    return status;
}

// count units of a fixed width. The byte count is reckoned in 64 bits and
// read in chunks, so it is cut to what the file still holds without a
// buffer of the size asked; one read takes at most what a text can hold.
i32 File::readFixed(i32 count, String& out) {
    String text;
    while (count > 0 && d->heldCount > 0) {
        text += unit(d->readChar());
        --count;
    }
    const u64 width = d->encoder ? d->encoder->width : 1;
    u64 want = u64(count) * width;
    const u64 most = u64(String::kMaxLength) / width * width;
    if (want > most)
        want = most;
    std::vector<char> bytes;
    if (const i32 status = readBytes(d->stream, want, bytes, d->watch)) {
        std::clearerr(d->stream);
        return status;
    }
    if (count > 0 && bytes.empty() && text.isEmpty())
        return Err::kReadPastEnd;
    String decoded;
    const i32 status = i32(decoded.decode(bytes.data(), i32(bytes.size()), d->encoder));
    text += decoded;
    out = text;
    return status;
}

// Characters one at a time. Unless the encoder is BINARY, CR LF, LF CR, a
// lone CR and a lone LF each count as one character and read as one LF. A
// surrogate pair is one character.
i32 File::readCharacters(i32 count, String& out) {
    String text;
    const bool binary = isBinary(d->encoder);
    for (i32 i = 0; i < count; ++i) {
        const i32 c = d->readChar();
        if (c < 0)
            break;
        if (!binary && isLineBreak(c)) {
            const i32 next = d->readChar();
            if (next >= 0 && !(isLineBreak(next) && next != c))
                d->pushBack(unit(next));
            text += unit(10);
            continue;
        }
        text += unit(c);
        if (isHighSurrogate(c) && d->heldCount > 0 && isLowSurrogate(d->held[0]))
            text += unit(d->readChar());
    }
    out = text;
    return finishRead(text);
}

i32 File::readln(String& out) {
    out.clear();
    if (!d->stream)
        return Err::kNotOpen;
    prepareTransfer(false);
    String line;
    for (;;) {
        const i32 c = d->readChar();
        if (c < 0)
            break;
        if (isLineBreak(c)) {
            const i32 next = d->readChar();
            if (next >= 0 && !(isLineBreak(next) && next != c))
                d->pushBack(unit(next));
            break;
        }
        line += unit(c);
    }
    out = line;
    return finishRead(line);
}

i32 File::readAll(String& out, i32 max) {
    out.clear();
    const bool wasOpen = isOpen();
    if (!wasOpen) {
        if (i32 status = open(String("r")))
            return status;
    }
    u32 length = 0;
    i32 status = getLength(length);
    if (status == 0 && i64(length) > i64(max))
        status = Err::kIOError;
    else if (status == 0)
        status = read(-1, out);
    if (!wasOpen) {
        const i32 closed = close();
        if (status == 0)
            status = closed;
    }
    if (status == Err::kIOError)
        out.clear();
    return status;
}

// Not at the end while a unit read ahead is still to be delivered.
bool File::eof() {
    if (!d->stream)
        return true;
    if (d->heldCount > 0)
        return false;
    if (std::feof(d->stream))
        return true;
    u32 length = 0;
    const i64 position = ftello(d->stream);
    return getLength(length) == 0 && position == i64(length);
}

i32 File::write(const String& text, bool convertLineFeeds) {
    if (!d->stream)
        return Err::kNotOpen;
    String converted = text;
    if (convertLineFeeds && !isBinary(d->encoder))
        converted.convertLineFeeds(i32(d->lineFeed));
    const char* bytes = nullptr;
    u32 n = 0;
    if (u32 status = converted.encode(bytes, n, d->encoder))
        return i32(status);
    prepareTransfer(true);
    if ((n > 0 && std::fwrite(bytes, 1, n, d->stream) != n) || std::ferror(d->stream)) {
        std::clearerr(d->stream);
        return Err::kIOError;
    }
    if (d->length >= 0) {
        const i64 position = ftello(d->stream);
        if (position > d->length)
            d->length = position;
    }
    return 0;
}

i32 File::seek(i32 offset, i32 mode) {
    d->heldCount = 0;
    if (!d->stream)
        return Err::kNotOpen;
    u32 length = 0;
    if (i32 status = getLength(length))
        return status;
    i64 target = offset;
    if (mode == 1)
        target = ftello(d->stream) + offset;
    else if (mode >= 2)
        target = i64(length) - offset;
    if (target < 0 || target > i64(length))
        return Err::kIOError;
    if (fseeko(d->stream, target, SEEK_SET) != 0) {
        std::clearerr(d->stream);
        return Err::kIOError;
    }
    return 0;
}

i32 File::tell() {
    if (!d->stream)
        return -1;
    const i64 position = ftello(d->stream);
    return position < 0 || position > INT_MAX ? -1 : i32(position);
}

i32 File::flush() {
    if (!d->stream)
        return Err::kNotOpen;
    if (std::fflush(d->stream) != 0) {
        std::clearerr(d->stream);
        return Err::kIOError;
    }
    return 0;
}

// The length by seeking to the end and back, on the open stream or on one
// opened for the purpose.
i32 File::measure(i64& out) {
    out = 0;
    FILE* stream = d->stream;
    if (!stream) {
        if (i32 status = platformOpenStream(d->spec.path, "rb", stream))
            return status;
    }
    const i64 position = ftello(stream);
    i64 end = -1;
    if (position >= 0 && fseeko(stream, 0, SEEK_END) == 0)
        end = ftello(stream);
    const bool back = position >= 0 && fseeko(stream, position, SEEK_SET) == 0;
    if (stream != d->stream)
        std::fclose(stream);
    if (end < 0 || !back)
        return Err::kIOError;
    out = end;
    return 0;
}

i32 File::getLength(u32& out) {
    out = 0;
    if (d->status != 0)
        return i32(d->status);
    if (d->length < 0) {
        i64 length = 0;
        if (i32 status = measure(length))
            return status;
        d->length = length;
    }
    if (d->length > i64(0xFFFFFFFFu))
        return Err::kIOError;  // too long to tell in 32 bits
    out = u32(d->length);
    return 0;
}

i32 File::setLength(i32 length) {
    if (i32 status = close())
        return status;
    const u32 bytes = length < 0 ? 0 : u32(length);
    const i32 status = platformSetFileLength(d->spec.path, bytes);
    if (status == 0)
        d->length = bytes;
    return status;
}

i32 File::copy(const FileSpec& target) {
    if (i32 status = close())
        return status;
    u32 type = 0, creator = 0;
    platformGetTypeCreator(d->spec.path, type, creator);
    FILE* in = nullptr;
    if (i32 status = platformOpenStream(d->spec.path, "rb", in))
        return status;
    File out(target);
    // Opening the target for writing would empty the source first.
    if (platformSameFile(d->spec.path, out.d->spec.path)) {
        std::fclose(in);
        return 0;
    }
    i32 status = out.open(String("w"));
    if (status == 0) {
        char block[kCopyBlock];
        for (;;) {
            const size_t n = std::fread(block, 1, kCopyBlock, in);
            if (n > 0 && std::fwrite(block, 1, n, out.d->stream) != n) {
                status = Err::kIOError;
                break;
            }
            if (n < kCopyBlock) {
                if (std::ferror(in))
                    status = Err::kIOError;
                break;
            }
        }
        if (out.close() != 0 && status == 0)
            status = Err::kIOError;
    }
    std::fclose(in);
    return status;
}

i32 File::execute() {
    if (i32 status = close())
        return status;
    return platformExecute(d->spec.path);
}

const String& File::getEncoding() const { return d->encodingName; }

void File::setEncoding(const String& name) {
    if (Encoder* e = findEncoder(name)) {
        d->encoder = e;
        d->encodingName = name;
        return;
    }
    d->encoder = currentEncoder();
    d->encodingName = canonicalName(d->encoder);
}

// ---------------------------------------------------------------------------
// FileWrapper

FileWrapperData::~FileWrapperData() {
    delete file;
    delete holder;
}

FileWrapper::FileWrapper(const FileSpec& spec) : d(new FileWrapperData(spec)) {}

FileWrapper::~FileWrapper() { delete d; }

void FileWrapper::clone(Cloneable*& out) const { out = new FileWrapper(d->spec); }

const FileSpec& FileWrapper::getFileSpec() const { return d->spec; }

FileWrapperData& FileWrapper::getData() { return *d; }

}  // namespace LxCore
