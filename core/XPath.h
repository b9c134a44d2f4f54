// The core's XPath 1.0 engine, written against an abstract node model: a
// context holds the callbacks through which it makes and walks node-sets,
// reads names and string values, finds variables and gets memory. An
// expression compiles to a flat code of 32-bit words and runs on a value
// stack. XML::xpath (XMLXPath.cpp) binds it to the XML node model.
//
// Bounds: nesting of parentheses, predicates and calls stops at
// kXPathMaxNesting (error kXPathTooDeep); operands past 16 bits (string pool,
// number pool, predicates) are a syntax error. Nothing recurses on the
// C++ stack beyond that nesting.
#pragma once
#include "core/Types.h"

namespace LxCore {

struct XPathContext;
using XPathNode = void*;    // a node or a node-set, as the callbacks see it

// Node tests and axes as the code and the axis callback carry them.
enum XPathNodeTest : i32 {
    kXPathAnyNode = 1,      // node()
    kXPathText = 2,
    kXPathComment = 3,
    kXPathInstruction = 4,  // processing-instruction(), the name its literal or null
    kXPathName = 5,
};

enum XPathAxis : i32 {
    kXPathChild = 1,
    kXPathDescendant = 2,
    kXPathParent = 3,
    kXPathAncestor = 4,
    kXPathFollowingSibling = 5,
    kXPathPrecedingSibling = 6,
    kXPathFollowing = 7,
    kXPathPreceding = 8,
    kXPathAttribute = 9,
    kXPathNamespace = 10,
    kXPathSelf = 11,
    kXPathDescendantOrSelf = 12,
    kXPathAncestorOrSelf = 13,
};

// Error codes of the engine.
enum XPathError : u32 {
    kXPathOpenExpected = 1,
    kXPathCloseExpected = 2,
    kXPathBracketExpected = 3,
    kXPathUnknownAxis = 4,
    kXPathOperandExpected = 5,
    kXPathAxisFailed = 6,
    kXPathUndefinedVariable = 7,
    kXPathNoMemory = 8,
    kXPathInternal = 9,
    kXPathSyntax = 10,
    kXPathArgumentCount = 11,
    kXPathNoContext = 12,
    kXPathOutOfRange = 13,
    kXPathNoName = 14,
    kXPathNoId = 15,
    kXPathNodeTestExpected = 16,
    kXPathUnknownFunction = 17,
    kXPathTooDeep = 18,
};

// Parentheses, predicates and calls nest at most this deep.
constexpr i32 kXPathMaxNesting = 256;

// Texts handed to and from the callbacks are 0-terminated UTF-16; those the
// callbacks return are allocated through the table's allocate and are freed
// by the engine. Where a "temporary" flag comes back true the engine
// releases the node-set when done with it.
struct XPathCallbacks {
    XPathNode (*axis)(XPathContext* context, XPathNode set, i32 axis, i32 nodeTest, const unit* name,
                      bool absolute, bool* temporary);
    XPathNode (*newNodeSet)(XPathContext* context, bool* temporary);
    void (*release)(XPathContext* context, XPathNode node);
    bool (*add)(XPathContext* context, XPathNode set, XPathNode nodeOrSet);
    i32 (*count)(XPathContext* context, XPathNode set);
    XPathNode (*item)(XPathContext* context, XPathNode set, i32 index, bool* temporary);
    unit* (*name)(XPathContext* context, XPathNode node, i32 part);   // 0 local, 1 qualified, 2 URI
    unit* (*stringValue)(XPathContext* context, XPathNode node);
    XPathNode (*textNode)(XPathContext* context, const unit* text, bool* temporary);
    unit* (*variable)(XPathContext* context, const unit* name, bool* mustFree);
    void* (*allocate)(u64 bytes, void* userData);
    void (*free)(void* memory);
};

// The value types of a result.
enum XPathType : u32 {
    kXPathBoolean = 1,
    kXPathNumber = 2,
    kXPathString = 3,
    kXPathNodeSet = 4,
};

// Booleans and numbers as the bits of a double, a string as a pointer to
// text allocated through the context, a node-set as its handle. A node put
// in with type 4 before evaluation is the context node.
struct XPathResult {
    u64 value = 0;
    u32 type = 0;
};

// Null without a table or without its allocate and free.
XPathContext* createXPathContext(const XPathCallbacks* callbacks, void* userData);
void destroyXPathContext(XPathContext* context);
bool evaluateXPath(XPathContext* context, const unit* expression, XPathResult* result);
// The first error since creation (or since it was cleared), its token's
// place in the expression (-1: none) and length; 9 for an invalid context.
u32 getXPathError(XPathContext* context, i32* position, u32* length);
// Sets code unless one is set already; 0 clears.
void setXPathError(XPathContext* context, u32 code);
void* getXPathUserData(XPathContext* context);
// Frees a string result and leaves the record false.
void freeXPathResult(XPathContext* context, XPathResult* result);

}  // namespace LxCore
