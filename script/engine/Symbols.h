// The predefined data-pool ids the engine names directly. Their values are
// fixed by the order in which the pool interns its predefined texts; names
// that begin with an upper-case letter carry the upper-case tag.
#pragma once
#include "script/frontend/DataPool.h"

namespace LxScript {
namespace Sym {

constexpr DataPoolId kEmpty = 0;

// Operator spellings that other tables key on.
constexpr DataPoolId kBitNot = 8;           // "~"
constexpr DataPoolId kUnaryPlus = 10;
constexpr DataPoolId kUnaryMinus = 11;
constexpr DataPoolId kLastOperator = 48;

constexpr DataPoolId kIndexEntry = 108;     // ".index"
constexpr DataPoolId kNumberEntry = 109;    // ".number"
constexpr DataPoolId kNameEntry = 110;      // ".name"
constexpr DataPoolId kCallee = 111;
constexpr DataPoolId kArguments = 112;
constexpr DataPoolId kPrototype = 113;
constexpr DataPoolId kToString = 114;
constexpr DataPoolId kValueOf = 115;
constexpr DataPoolId kLength = 116;
constexpr DataPoolId kUndefined = 117;
constexpr DataPoolId kConstructor = 125;
constexpr DataPoolId kProto = 126;          // "__proto__"
constexpr DataPoolId kAnonymous = 129;
constexpr DataPoolId kMinusZero = 130;      // "-0"

constexpr DataPoolId kUpper = DataPool::kUpperCaseTag;
constexpr DataPoolId kArray = kUpper | 137;
constexpr DataPoolId kBoolean = kUpper | 138;
constexpr DataPoolId kDate = kUpper | 139;
constexpr DataPoolId kError = kUpper | 140;
constexpr DataPoolId kFunction = kUpper | 141;
constexpr DataPoolId kMath = kUpper | 142;
constexpr DataPoolId kNumber = kUpper | 143;
constexpr DataPoolId kObject = kUpper | 144;
constexpr DataPoolId kRegExp = kUpper | 145;
constexpr DataPoolId kString = kUpper | 146;
constexpr DataPoolId kLiveObject = kUpper | 147;
constexpr DataPoolId kReflection = kUpper | 148;
constexpr DataPoolId kReflectionInfo = kUpper | 149;
constexpr DataPoolId kDictionary = kUpper | 150;
constexpr DataPoolId kXML = kUpper | 151;
constexpr DataPoolId kXMLList = kUpper | 152;

// The sixteen built-in class names lie in one run, Array .. XMLList.
constexpr bool isBuiltInClass(DataPoolId id) { return id >= kArray && id <= kXMLList; }

}  // namespace Sym
}  // namespace LxScript
