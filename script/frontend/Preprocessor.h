// The preprocessor: runs the directive lines of a script ("#name argument"
// or "//@name argument") without parsing it. It collects directive values,
// inserts included files between marker lines and follows "includepath".
// Its include-file resolver and reader serve the scanner's includes too.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {
class Error;
class FileSpec;
}  // namespace LxCore

namespace LxScript {

class PreprocessorData;

class Preprocessor : public LxCore::Root {
public:
    // Includes longer than this many characters are refused, so that the
    // preprocessor and the scanner see the same text.
    static constexpr LxCore::i32 kMaxIncludeLength = 10000000;
    // Includes may nest; a loop through links or ever longer relative names
    // produces new paths at each level, and a file may include another many
    // times over. These bounds, shared with the scanner, turn such runaway
    // expansion into an error: deeper nesting is a stack overrun (27), more
    // includes or more included text in one run are out of range (41).
    static constexpr LxCore::i32 kMaxIncludeDepth = 100;
    static constexpr LxCore::i32 kMaxIncludeCount = 10000;
    static constexpr LxCore::i64 kMaxIncludedText = 100000000;      // characters

    // The include path starts as the environment variable "JSINCLUDE".
    Preprocessor();
    virtual ~Preprocessor();
    Preprocessor(const Preprocessor&) = delete;
    Preprocessor& operator=(const Preprocessor&) = delete;

    // 0 with the preprocessed text in result; otherwise the newest error's
    // number, result emptied and the errors copied to error when given.
    // Never throws.
    LxCore::i32 process(const LxCore::String& source, const LxCore::String& fileName,
                        LxCore::String& result, LxCore::Error* error);
    // The value of a directive from the last process; null when absent.
    const LxCore::String* getDirective(const LxCore::String& name) const;
    // Replaces the include path (folders separated by ";" or ":").
    void setIncludes(const LxCore::String& path);

    // The folder that holds a file, in URI form with "~" for the home
    // folder; empty when the name is empty or leads to no existing folder.
    static LxCore::String getFolderOf(const LxCore::String& fileName);
    // Finds an include file: beside the including file (folder in URI form,
    // may be empty), then along the include path from that folder and from
    // the current folder. False when nothing is found.
    static bool resolveIncludeFile(const LxCore::String& folder, const LxCore::String& name,
                                   const LxCore::String& includePath, LxCore::FileSpec& out);
    // Reads a whole include file (encoding from its byte-order mark, line
    // ends as LF): 0, the file error number, or 41 when it is longer than
    // kMaxIncludeLength characters. May throw std::bad_alloc.
    static LxCore::i32 readIncludeFile(const LxCore::FileSpec& file, LxCore::String& out);
    // The message of an include that failed: the code's text with the name
    // in place of "%1", or followed by ": " and the name when the text has
    // no place for it ("File or folder does not exist: lib.tvs").
    static LxCore::String includeErrorText(LxCore::i32 code, const LxCore::String& name);

private:
    PreprocessorData* d;
};

}  // namespace LxScript
