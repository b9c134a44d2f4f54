// The preprocessor: a line scan that finds directive lines, runs them, and
// splices included files (themselves preprocessed) into the output.
#include "script/frontend/Preprocessor.h"

#include <cstdlib>
#include <new>

#include "base/platform/EnvironmentLock.h"
#include "core/CharClass.h"
#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/HashTable.h"
#include "core/platform/FileSystem.h"
#include "core/platform/NativeText.h"

namespace LxScript {

using LxCore::Error;
using LxCore::FileSpec;
using LxCore::i32;
using LxCore::i64;
using LxCore::String;
using LxCore::u32;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kMaxIncludeDepth = Preprocessor::kMaxIncludeDepth;
constexpr i32 kMaxIncludeCount = Preprocessor::kMaxIncludeCount;
constexpr i64 kMaxIncludedText = Preprocessor::kMaxIncludedText;

// A character takes at most four bytes in any encoding a file may have.
constexpr i64 kMaxIncludeBytes = i64(Preprocessor::kMaxIncludeLength) * 4;

bool isLineEnd(unit c) { return c == 10 || c == 13 || c == 0x2028 || c == 0x2029; }

// White space inside a line, as the scanner skips it: a 0 reads as a space
// and format characters (a byte-order mark) are ignored.
bool isBlank(unit c) {
    return !isLineEnd(c) && (c == 0 || LxCore::isWhiteSpaceChar(c) || LxCore::isFormatChar(c));
}

bool endsWith(const String& text, unit c) { return text.length() > 0 && text[text.length() - 1] == c; }

String environmentText(const char* name) {
    const std::string value = LxBase::environmentValue(name);
    return LxCore::fromNative(value.data(), value.size());
}

// The table holds pointers only; the values are the preprocessor's own.
void deleteValues(LxCore::THashTable<String>& table) {
    LxCore::SimpleArray entries;
    table.getEntries(entries);
    for (i32 i = 0; i < entries.getCount(); i++)
        delete reinterpret_cast<LxCore::THashTable<String>::Entry*>(entries.get(i))->value;
    table.clear();
}

}  // namespace

class PreprocessorData : public LxCore::Root {
public:
    String includePath;
    LxCore::THashTable<String> directives;

    ~PreprocessorData() { deleteValues(directives); }
};

namespace {

// One text being processed; includes nest through parent.
struct Record {
    const Record* parent = nullptr;
    String fileName;    // as given for the outermost text, else the include's URI
    String identity;    // native full path, for recognising an include loop
    String folder;      // URI form, empty when there is none
    String source;
    String output;
    i32 pos = 0;
    i32 end = 0;
    i32 pending = 0;    // start of the text not yet copied to the output
    i32 depth = 0;

    const unit* s() const { return source.chars(); }
};

// One process call: the tables it fills and the bounds it keeps.
class Run {
public:
    Run(PreprocessorData& data, Error& errors) : data(data), errors(errors) {}

    bool scan(Record& r);

private:
    PreprocessorData& data;
    Error& errors;
    i32 includeCount = 0;
    i64 includedText = 0;

    i32 skipBlanks(const Record& r, i32 pos) const {
        while (pos < r.end && isBlank(r.s()[pos]))
            pos++;
        return pos;
    }
    i32 lineEndAt(const Record& r, i32 pos) const {
        while (pos < r.end && !isLineEnd(r.s()[pos]))
            pos++;
        return pos;
    }
    // CR LF counts as one line end.
    i32 stepOverLineEnd(const Record& r, i32 pos) const {
        if (pos >= r.end)
            return pos;
        if (r.s()[pos] == 13 && pos + 1 < r.end && r.s()[pos + 1] == 10)
            return pos + 2;
        return pos + 1;
    }
    i32 skipLine(const Record& r, i32 pos) const { return stepOverLineEnd(r, lineEndAt(r, pos)); }
    i32 skipBlockComment(const Record& r, i32 pos) const {
        for (pos += 2; pos + 1 < r.end; pos++)
            if (r.s()[pos] == '*' && r.s()[pos + 1] == '/')
                return pos + 2;
        return r.end;
    }

    void flushPending(Record& r, i32 upTo) {
        if (upTo > r.pending)
            r.output.append(r.s() + r.pending, upTo - r.pending);
        r.pending = upTo;
    }

    bool directive(Record& r, i32 lineStart);
    bool include(Record& r, const String& argument, i32 lineStart);
    bool fail(const Record& r, i32 lineStart, i32 code, const String& text);
};

bool Run::scan(Record& r) {
    while (r.pos < r.end) {
        r.pos = skipBlanks(r, r.pos);
        if (r.pos + 1 < r.end && r.s()[r.pos] == '/' && r.s()[r.pos + 1] == '*')
            r.pos = skipBlockComment(r, r.pos);
        if (r.pos >= r.end)
            break;
        const i32 at = r.pos;
        const unit c = r.s()[at];
        if (c == '#') {
            // The directive line reaches the output as a "//@" comment.
            flushPending(r, at);
            r.pending = at + 1;
            r.output += "//@";
            r.pos = at + 1;
            if (!directive(r, at))
                return false;
        } else if (c == '/' && at + 1 < r.end && r.s()[at + 1] == '/') {
            r.pos = skipBlanks(r, at + 2);
            const bool isDirective = r.pos < r.end && r.s()[r.pos] == '@' &&
                                     !(r.pos + 1 < r.end && r.s()[r.pos + 1] == '@');
            if (isDirective) {
                r.pos++;
                if (!directive(r, at))
                    return false;
            } else {
                r.pos = skipLine(r, r.pos);
            }
        } else {
            r.pos = skipLine(r, at);
        }
    }
    if (r.pending == 0 && r.output.isEmpty())
        r.output = r.source;    // nothing changed: share the text
    else
        flushPending(r, r.end);
    return true;
}

bool Run::directive(Record& r, i32 lineStart) {
    const i32 nameStart = r.pos;
    while (r.pos < r.end && r.s()[r.pos] >= 'a' && r.s()[r.pos] <= 'z')
        r.pos++;
    const String name(r.s() + nameStart, r.pos - nameStart);
    // The unit after the name stays: were it a line end, taking it would
    // make the next line this directive's argument.
    const i32 argStart = skipBlanks(r, r.pos);
    const i32 lineEnd = lineEndAt(r, argStart);
    r.pos = stepOverLineEnd(r, lineEnd);

    String argument(r.s() + argStart, lineEnd - argStart);
    argument.trim();
    if (endsWith(argument, ';')) {
        argument.setLength(argument.length() - 1);
        argument.trim();
    }
    if (argument[0] == '\'' || argument[0] == '"') {
        String value;
        if (!argument.extractLiteral(value))
            return fail(r, lineStart, Err::kSyntaxError, String());
        argument = value;
    }

    if (name.compare("include") == 0)
        return include(r, argument, lineStart);
    if (name.compare("includepath") == 0) {
        String path = argument;
        path += unit(';');
        path += data.includePath;
        data.includePath = path;
        return true;
    }
    if (String* value = data.directives.get(name)) {
        *value = argument;
    } else {
        String* copy = new String(argument);
        try {
            data.directives.put(name, copy);
        } catch (...) {
            delete copy;
            throw;
        }
    }
    return true;
}

bool Run::include(Record& r, const String& argument, i32 lineStart) {
    FileSpec file;
    if (!Preprocessor::resolveIncludeFile(r.folder, argument, data.includePath, file))
        return fail(r, lineStart, Err::kFileNotFound, argument);
    String path, identity;
    file.toURI(path, false);
    file.getNativePath(identity);
    for (const Record* up = &r; up; up = up->parent)
        if (!up->identity.isEmpty() && LxCore::platformSamePath(up->identity, identity))
            return fail(r, lineStart, Err::kStackOverrun, path);
    if (r.depth + 1 > kMaxIncludeDepth)
        return fail(r, lineStart, Err::kStackOverrun, path);
    if (++includeCount > kMaxIncludeCount)
        return fail(r, lineStart, Err::kOutOfRange, path);

    String text;
    if (i32 status = Preprocessor::readIncludeFile(file, text))
        return fail(r, lineStart, status, path);
    includedText += text.length();
    if (includedText > kMaxIncludedText)
        return fail(r, lineStart, Err::kOutOfRange, path);
    if (text.isEmpty())
        return true;
    if (!endsWith(text, 10))
        text += unit(10);

    flushPending(r, r.pos);
    // A directive on the last line without a line end still gets marker lines.
    if (!r.output.isEmpty() && !isLineEnd(r.output[r.output.length() - 1]))
        r.output += unit(10);
    String marker;
    marker.sprintf("// +++++ #include %ls +++++\n", path.chars());
    r.output += marker;

    Record child;
    child.parent = &r;
    child.fileName = path;
    child.identity = identity;
    child.folder = Preprocessor::getFolderOf(path);
    child.source = text;
    child.end = text.length();
    child.depth = r.depth + 1;
    if (!scan(child))
        return false;
    r.output += child.output;
    marker.sprintf("// ----- #include %ls -----\n", path.chars());
    r.output += marker;
    return true;
}

bool Run::fail(const Record& r, i32 lineStart, i32 code, const String& text) {
    errors.push(code, Preprocessor::includeErrorText(code, text), nullptr, false);
    i32 line = 0, lineBegin = 0;
    for (i32 i = 0; i < lineStart; i++) {
        if (isLineEnd(r.s()[i])) {
            i = stepOverLineEnd(r, i) - 1;
            line++;
            lineBegin = i + 1;
        }
    }
    const i32 length = lineEndAt(r, lineStart) - lineStart;
    errors.setSource(r.source, line, lineStart, lineStart - lineBegin,
                     LxCore::u16(length > 0xFFFF ? 0xFFFF : length));
    errors.setFileName(r.fileName);
    return false;
}

// Splits an include path at ";" and ":" into trimmed, decoded elements.
template <class Visit>
bool forEachElement(const String& includePath, Visit visit) {
    const String path = includePath.isEmpty() ? String(".") : includePath;
    i32 start = 0;
    while (start <= path.length()) {
        i32 stop = start;
        while (stop < path.length() && path[stop] != ';' && path[stop] != ':')
            stop++;
        String element = path.substr(start, stop - start);
        element.trim();
        element.decodeURI();
        if (!element.isEmpty() && visit(element))
            return true;
        start = stop + 1;
    }
    return false;
}

bool isFolder(const FileSpec& spec) { return (spec.getAttributes() & LxCore::kAttrFolder) != 0; }

// A file, or a link that leads to one.
bool isFile(const FileSpec& spec) {
    const i32 bits = spec.getAttributes();
    if (bits & LxCore::kAttrFile)
        return true;
    if (!(bits & LxCore::kAttrShortcut) || (bits & LxCore::kAttrFolder))
        return false;
    FileSpec target;
    return spec.resolveAlias(target) == 0 && (target.getAttributes() & LxCore::kAttrFile) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------

Preprocessor::Preprocessor() : d(new PreprocessorData) {
    try {
        d->includePath = environmentText("JSINCLUDE");
    } catch (...) {
        delete d;
        throw;
    }
}

Preprocessor::~Preprocessor() { delete d; }

void Preprocessor::setIncludes(const String& path) { d->includePath = path; }

const String* Preprocessor::getDirective(const String& name) const { return d->directives.get(name); }

i32 Preprocessor::process(const String& source, const String& fileName, String& result, Error* error) {
    Error errors;
    if (error)
        error->clear();
    const String savedPath = d->includePath;
    bool ok = false;
    String output;
    try {
        deleteValues(d->directives);
        Record top;
        top.fileName = fileName;
        if (!fileName.isEmpty()) {
            FileSpec spec(fileName, false);
            spec.getNativePath(top.identity);
        }
        top.folder = getFolderOf(fileName);
        top.source = source;
        top.end = source.length();
        Run run(*d, errors);
        ok = run.scan(top);
        if (ok)
            output = top.output;
    } catch (const std::bad_alloc&) {
        errors.push(Err::kOutOfMemory, String(), nullptr, true);
    } catch (...) {
        errors.push(Err::kInternal, String(), nullptr, true);
    }
    // An "includepath" lasts for one run only.
    d->includePath = savedPath;
    if (ok) {
        result = output;
        return 0;
    }
    result.clear();
    if (error)
        *error = errors;
    return errors.getCode();
}

String Preprocessor::getFolderOf(const String& fileName) {
    String folder;
    if (fileName.isEmpty())
        return folder;
    FileSpec spec(fileName, false);
    spec.resolveRelative(String(".."));
    if (isFolder(spec))
        spec.toURI(folder, true);
    return folder;
}

bool Preprocessor::resolveIncludeFile(const String& folder, const String& name, const String& includePath,
                                      FileSpec& out) {
    String file = name;
    file.decodeURI();
    // An empty name would name the folder itself.
    if (file.isEmpty())
        return false;
    if (!folder.isEmpty()) {
        FileSpec spec(folder, false);
        spec.resolveRelative(file);
        if (spec.getAttributes() != 0) {
            out = spec;
            return true;
        }
    } else if (file[0] == '/') {
        // Without a folder to resolve against, an absolute name stands for itself.
        FileSpec spec(file, true);
        if (spec.getAttributes() != 0) {
            out = spec;
            return true;
        }
    }
    if (file[0] == '/')
        return false;

    FileSpec bases[2];
    i32 baseCount = 0;
    if (!folder.isEmpty()) {
        bases[0].set(folder, false);
        if (isFolder(bases[0]))
            baseCount++;
    }
    if (FileSpec::getCurrentFolder(bases[baseCount]) == 0)
        baseCount++;
    for (i32 b = 0; b < baseCount; b++) {
        const bool found = forEachElement(includePath, [&](const String& element) {
            FileSpec candidate = bases[b];
            candidate.resolveRelative(element);
            candidate.resolveRelative(file);
            if (!isFile(candidate))
                return false;
            out = candidate;
            return true;
        });
        if (found)
            return true;
    }
    return false;
}

String Preprocessor::includeErrorText(i32 code, const String& name) {
    String text;
    LxCore::errorTextForCode(code, text);
    if (text.find("%1") >= 0 || name.isEmpty()) {
        text.replaceAll("%1", name);
    } else {
        text += ": ";
        text += name;
    }
    return text;
}

i32 Preprocessor::readIncludeFile(const FileSpec& spec, String& out) {
    out.clear();
    // "/dev/zero" never ends and "/dev/stdin" waits for the host's input.
    String native;
    spec.getNativePath(native);
    if (!LxCore::platformIsRegularFile(native))
        return LxCore::platformGetAttributes(native) == 0 ? Err::kFileNotFound : Err::kIOError;
    LxCore::File file(spec);
    if (i32 status = file.openScript(kMaxIncludeBytes))
        return status;
    u32 bytes = 0;
    i32 status = file.getLength(bytes);
    String text;
    if (status == 0 && i64(bytes) > kMaxIncludeBytes)
        status = Err::kOutOfRange;
    if (status == 0)
        status = file.read(-1, text);
    const i32 closed = file.close();
    if (status == 0)
        status = closed;
    if (status == 0 && text.length() > kMaxIncludeLength)
        status = Err::kOutOfRange;
    if (status == 0)
        out = text;
    return status;
}

}  // namespace LxScript
