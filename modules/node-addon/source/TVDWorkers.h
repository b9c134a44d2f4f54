// The check-syntax and compile workers behind TVDCheckSyntax and
// TVDCompileToTVSBin: each compiles in an engine of its own, made and
// destroyed around the one call, and reports instead of throwing.
#pragma once
#include "core/Error.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {

// The report of an error list: the joined message, the 0-based line and
// column made 1-based, the token's end and the file name, as one XML text.
LxCore::String checkSyntaxReport(const LxCore::Error& errors, LxCore::i32 line, LxCore::i32 column,
                                 LxCore::i32 tokenLength, const LxCore::String& fileName);

// Empty when the script compiles, else the report of its first error.
LxCore::String checkSyntax(const LxCore::String& script, const LxCore::String& fileName,
                           const LxCore::String& includePath);
// The compiled text; errorText is empty on success, else the joined
// message followed by "(" code ")".
LxCore::String compileToText(const LxCore::String& script, const LxCore::String& fileName,
                             const LxCore::String& includePath, LxCore::String& errorText);

}  // namespace LxScript
