// The literal-value reader, and Array::appendParsed on it.
#include "core/LiteralParser.h"

#include <new>

#include "core/Array.h"
#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/LiveBase.h"
#include "core/LiveObject.h"

namespace LxCore {

namespace {

bool isQuote(unit c) { return c == '"' || c == '\''; }

// Drops the creation reference when the value is done with it.
class Made {
public:
    ~Made() {
        if (object)
            object->release();
    }
    LiveObject* object = nullptr;
};

// Counts one level of nesting for a scope.
class Nesting {
public:
    explicit Nesting(i32& depth) : depth(++depth) {}
    ~Nesting() { --depth; }
    bool tooDeep() const { return depth > kMaxLiteralDepth; }

private:
    i32& depth;
};

}  // namespace

void LiteralParser::skipWhiteSpace() {
    while (more() && current() <= 32)
        pos++;
}

bool LiteralParser::atEnd() {
    skipWhiteSpace();
    return !more();
}

bool LiteralParser::startsName() const {
    return more() && (isQuote(current()) || isIdentifierStart(current()));
}

String LiteralParser::readIdentifier() {
    i32 start = pos;
    pos++;
    while (more() && isIdentifierPart(current()))
        pos++;
    return text.substr(start, pos - start);
}

// After an array or object, a name or a string may follow without a comma.
void LiteralParser::noteNameFollows() {
    skipWhiteSpace();
    nameFollows = startsName();
}

bool LiteralParser::accept(unit separator) {
    if (nameFollows) {
        nameFollows = false;
        return true;
    }
    skipWhiteSpace();
    if (more() && current() == separator) {
        pos++;
        return true;
    }
    return false;
}

i32 LiteralParser::parseListItem(Variant& out) {
    i32 status = parseValue(nullptr, out);
    if (status != 0)
        return status;
    if (nameFollows)
        nameFollows = false;
    else
        accept(',');
    return 0;
}

i32 LiteralParser::parseValue(LiveObject* owner, Variant& out) {
    out.clear();
    skipWhiteSpace();
    if (!more())
        return Err::kSyntaxError;
    Nesting nesting(depth);
    if (nesting.tooDeep())
        return Err::kStackOverrun;
    String className;
    if (current() != '{' && isIdentifierStart(current())) {
        i32 start = pos;
        className = readIdentifier();
        skipWhiteSpace();
        if (!more() || current() != '{') {
            pos = start;
            className.clear();
        }
    }
    switch (current()) {
        case '{':
            return parseObject(owner, className, out);
        case '[':
            return parseArray(owner, out);
        case '"':
        case '\'': {
            String literal;
            if (!text.parseLiteral(literal, pos))
                return Err::kExpected;
            out.setString(literal);
            skipWhiteSpace();
            return 0;
        }
        default:
            parseWord(out);
            return 0;
    }
}

// The text up to the next ',', ']', '}' or the end, trimmed.
void LiteralParser::parseWord(Variant& out) {
    i32 start = pos;
    while (more() && current() != ',' && current() != ']' && current() != '}')
        pos++;
    String word = text.substr(start, pos - start);
    word.trim();
    if (word.compare("null") == 0)
        out.setNull();
    else if (word.compare("true") == 0)
        out.setBool(true);
    else if (word.compare("false") == 0)
        out.setBool(false);
    else
        out.setNumber(Variant(word).toNumber());
}

i32 LiteralParser::parseObject(LiveObject* owner, const String& className, Variant& out) {
    const String name = className.isEmpty() ? String("Object") : className;
    Made made;
    i32 status = owner ? owner->createObject(made.object, name, clientMask)
                       : LiveObject::createInstance(made.object, name, clientMask);
    if (status != 0 || !made.object) {
        if (name.compare("Object") != 0)
            return Err::kNotAnObject;
        made.object = new LiveObject("Object", true);
    }
    status = parseObjectBody(*made.object);
    if (status != 0)
        return status;
    noteNameFollows();
    out.setLiveObject(*made.object, 0);
    return 0;
}

i32 LiteralParser::parseArray(LiveObject* owner, Variant& out) {
    pos++;      // '['
    Array items;
    for (;;) {
        skipWhiteSpace();
        if (!more())
            break;
        if (current() == ']') {
            pos++;
            break;
        }
        Variant item;
        i32 status = parseValue(owner, item);
        if (status != 0)
            return status;
        items.getOrCreate(items.length()) = item;
        if (accept(','))
            continue;
        if (accept(']'))
            break;
        return Err::kExpected;
    }
    out.setArray(items);
    noteNameFollows();
    return 0;
}

i32 LiteralParser::parseObjectBody(LiveObject& object) {
    skipWhiteSpace();
    const bool braced = more() && current() == '{';
    if (braced)
        pos++;
    for (;;) {
        skipWhiteSpace();
        if (!more() || (braced && current() == '}'))
            break;
        i32 status = parseMember(object);
        if (status != 0)
            return status;
        if (!accept(','))
            break;
    }
    if (!braced)
        return 0;
    skipWhiteSpace();
    if (!more() || current() != '}')
        return Err::kExpected;
    pos++;
    return 0;
}

// name ":" value, set on the object; a new name becomes a read/write member.
i32 LiteralParser::parseMember(LiveObject& object) {
    String name;
    if (isQuote(current())) {
        if (!text.parseLiteral(name, pos))
            return Err::kExpected;
    } else if (isIdentifierStart(current())) {
        name = readIdentifier();
    } else {
        return Err::kSyntaxError;
    }
    if (!accept(':'))
        return Err::kExpected;
    Variant value;
    i32 status = parseValue(&object, value);
    if (status != 0)
        return status;
    i32 id;
    u32 kind;
    status = object.findProperty(name, id, kind, kScriptClient);
    if (status != 0) {
        if (kind == kKindReadWrite)
            return Err::kReadOnly;
        if (status != Err::kUndefined)
            return status;
        status = object.addProperty(name, &id, kKindReadWrite);
        if (status != 0)
            return status;
    }
    return object.put(id, value, nullptr);
}

i32 parseListItem(String& text, Variant& out, u32 clientMask) {
    return statusOf([&] {
        LiteralParser parser(text, clientMask);
        i32 status = parser.parseListItem(out);
        text = text.substr(parser.position());
        return status;
    });
}

// Every item must move the reading on: one that reads nothing ends it with 8.
i32 Array::appendParsed(const String& text, u32 clientMask) {
    return statusOf([&] {
        LiteralParser parser(text, clientMask);
        while (!parser.atEnd()) {
            i32 before = parser.position();
            Variant item;
            i32 status = parser.parseListItem(item);
            if (status != 0)
                return status;
            if (parser.position() == before)
                return Err::kSyntaxError;
            getOrCreate(length()) = item;
        }
        return 0;
    });
}

}  // namespace LxCore
