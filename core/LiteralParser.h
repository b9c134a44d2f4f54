// The literal-value notation: numbers and words, quoted strings, arrays in
// brackets and objects in braces, optionally preceded by a class name so that
// an object of a registered live class is built:
//     {a: 1, b: [1, 2]}, 'x', Point {x: 3}
#pragma once
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class LiveObject;

// Arrays and objects nest at most this deep; deeper gives 27.
constexpr i32 kMaxLiteralDepth = 512;

// One reading of a text: a single position moves through it.
class LiteralParser {
public:
    LiteralParser(const String& text, u32 clientMask) : text(text), clientMask(clientMask) {}

    // One value, then its separating ',' (implied after an array or object
    // that a name or string follows).
    i32 parseListItem(Variant& out);
    // One value; objects in it are made through the owner when there is one.
    i32 parseValue(LiveObject* owner, Variant& out);
    // Members "name: value" separated by commas, in braces or not, set on the
    // object with its own findProperty, addProperty and put.
    i32 parseObjectBody(LiveObject& object);

    i32 position() const { return pos; }
    // Skips white space; true when nothing else is left.
    bool atEnd();

private:
    const String& text;
    u32 clientMask;
    i32 pos = 0;
    i32 depth = 0;
    bool nameFollows = false;       // an implied separator

    unit current() const { return text[pos]; }
    bool more() const { return pos < text.length(); }
    void skipWhiteSpace();
    bool startsName() const;
    String readIdentifier();
    bool accept(unit separator);
    void noteNameFollows();
    i32 parseObject(LiveObject* owner, const String& className, Variant& out);
    i32 parseArray(LiveObject* owner, Variant& out);
    void parseWord(Variant& out);
    i32 parseMember(LiveObject& object);
};

// Reads one value from the start of text, for the script client mask given,
// and leaves in text what follows it and its separator.
i32 parseListItem(String& text, Variant& out, u32 clientMask);

}  // namespace LxCore
