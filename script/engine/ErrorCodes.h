// The engine's error numbers (the core's shared error table gives their
// texts). Negative numbers are fatal: no catch clause sees them.
#pragma once
#include "core/Types.h"

namespace LxScript {
namespace Err {

constexpr LxCore::i32 kText = 1;                // "%1"
constexpr LxCore::i32 kUndefined = 2;           // "%1 is undefined"
constexpr LxCore::i32 kCannotAssign = 3;
constexpr LxCore::i32 kBadArgument = 19;        // "Bad argument %1"
constexpr LxCore::i32 kNotAnObject = 21;
constexpr LxCore::i32 kNoConstructor = 22;
constexpr LxCore::i32 kNoValue = 23;            // "%1 does not have a value"
constexpr LxCore::i32 kNotAFunction = 24;
constexpr LxCore::i32 kWrongClass = 26;         // "%1 cannot work with instances of this class"
constexpr LxCore::i32 kStackOverrun = 27;
constexpr LxCore::i32 kBadURI = 31;             // "Bad or invalid URI: %1"
constexpr LxCore::i32 kCannotExecute = 32;
constexpr LxCore::i32 kCharConversion = 37;     // "Character conversion error"
constexpr LxCore::i32 kPartialCharacter = 38;   // "Partial multibyte character found"
constexpr LxCore::i32 kOutOfRange = 41;         // "%1 is out of range"
constexpr LxCore::i32 kEvaluation = 43;         // "Evaluation error"
constexpr LxCore::i32 kInvalidObject = 45;
constexpr LxCore::i32 kReadOnly = 46;           // "%1 is read only"
constexpr LxCore::i32 kIOError = 52;
constexpr LxCore::i32 kNotSupported = 55;       // "Object does not support the property or method '%1'"
constexpr LxCore::i32 kOutOfMemory = -28;
constexpr LxCore::i32 kUncaughtException = -29;
constexpr LxCore::i32 kInternal = -33;
constexpr LxCore::i32 kExecutionHalted = -34;
constexpr LxCore::i32 kNotImplemented = -36;

}  // namespace Err
}  // namespace LxScript
