// The XPath tokenizer: the expression's tokens, numbers read in the "C"
// form, names after XML's rules.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "core/CharClass.h"
#include "core/XMLInternal.h"
#include "core/XPathInternal.h"

namespace LxCore::xpathdetail {

namespace {

bool isOperator(Tok t) {
    switch (t) {
    case Tok::Slash: case Tok::Pipe: case Tok::Plus: case Tok::Minus: case Tok::Multiply:
    case Tok::Equal: case Tok::NotEqual: case Tok::Less: case Tok::LessEqual: case Tok::Greater:
    case Tok::GreaterEqual: case Tok::And: case Tok::Or: case Tok::Div: case Tok::Mod:
        return true;
    default:
        return false;
    }
}

bool isDigit(unit c) { return c >= '0' && c <= '9'; }

bool isNameStartUnit(unit c) {
    return c < 0x80 ? (c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) : isXMLNameStart(c);
}

bool isNameUnit(unit c) {
    return c < 0x80 ? (isNameStartUnit(c) || isDigit(c) || c == '-' || c == '.') : isXMLNameChar(c);
}

// The length of an XPath number at text (digits with one '.', then an
// optional exponent); 0 when none.
i32 numberLength(const unit* text, i32 n) {
    i32 i = 0;
    bool digits = false;
    while (i < n && isDigit(text[i])) {
        i++;
        digits = true;
    }
    if (i < n && text[i] == '.') {
        i++;
        while (i < n && isDigit(text[i])) {
            i++;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        i32 j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            j++;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                j++;
            i = j;
        }
    }
    return i;
}

}  // namespace

// A number in the "C" form, whole text, optional sign and surrounding
// blanks: anything else (hexadecimal, "inf", other digits) is NaN.
f64 readNumber(const unit* text, size_t n) {
    size_t begin = 0;
    while (begin < n && isXMLBlank(text[begin]))
        begin++;
    while (n > begin && isXMLBlank(text[n - 1]))
        n--;
    bool negative = false;
    if (begin < n && (text[begin] == '-' || text[begin] == '+'))
        negative = text[begin++] == '-';
    const i32 length = numberLength(text + begin, i32(std::min<size_t>(n - begin, 0x7FFFFFFF)));
    if (length == 0 || begin + size_t(length) != n)
        return NAN;
    std::string ascii(size_t(length), '0');
    for (i32 i = 0; i < length; i++)
        ascii[size_t(i)] = char(text[begin + size_t(i)]);
    f64 value = 0;
    std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    return negative ? -value : value;
}

void Tokenizer::run(Vector<Token>& out) {
    i32 i = 0;
    for (;;) {
        while (i < length && isXMLBlank(text[i]))
            i++;
        Token token{Tok::End, i, 0, 0};
        if (i >= length) {
            out.push_back(token);
            return;
        }
        i = read(i, token, out.empty() ? Tok::Open : out.back().kind, !out.empty());
        if (token.kind != Tok::End || token.length > 0)
            out.push_back(token);
    }
}

unit Tokenizer::at(i32 i) const { return i < length ? text[i] : 0; }

i32 Tokenizer::single(i32 i, Token& token, Tok kind, i32 size) {
    token.kind = kind;
    token.length = size;
    return i + size;
}

// After an operand a '*' multiplies and a '+' or '-' is an operator
// (XPath 1.0's rule on the preceding token).
bool Tokenizer::afterOperand(Tok previous, bool any) {
    if (!any)
        return false;
    switch (previous) {
    case Tok::At: case Tok::AxisSeparator: case Tok::Open: case Tok::OpenBracket: case Tok::Comma:
        return false;
    default:
        return !isOperator(previous);
    }
}

i32 Tokenizer::number(i32 i, i32 signLength, Token& token) {
    const i32 n = numberLength(text + i + signLength, length - i - signLength);
    token.kind = Tok::Number;
    token.length = signLength + n;
    token.number = readNumber(text + i, size_t(token.length));
    return i + token.length;
}

i32 Tokenizer::read(i32 i, Token& token, Tok previous, bool any) {
    const unit c = text[i];
    switch (c) {
    case '(': return single(i, token, Tok::Open, 1);
    case ')': return single(i, token, Tok::Close, 1);
    case ',': return single(i, token, Tok::Comma, 1);
    case '[': return single(i, token, Tok::OpenBracket, 1);
    case ']': return single(i, token, Tok::CloseBracket, 1);
    case '/': return single(i, token, Tok::Slash, 1);
    case '@': return single(i, token, Tok::At, 1);
    case '|': return single(i, token, Tok::Pipe, 1);
    case '=': return single(i, token, Tok::Equal, 1);
    case ':':
        if (at(i + 1) == ':')
            return single(i, token, Tok::AxisSeparator, 2);
        setError(context, kXPathSyntax, i, 1);
        return single(i, token, Tok::AxisSeparator, 1);
    case '!':
        if (at(i + 1) != '=')
            setError(context, kXPathSyntax, i, 1);
        return single(i, token, Tok::NotEqual, at(i + 1) == '=' ? 2 : 1);
    case '<': return single(i, token, at(i + 1) == '=' ? Tok::LessEqual : Tok::Less, at(i + 1) == '=' ? 2 : 1);
    case '>':
        return single(i, token, at(i + 1) == '=' ? Tok::GreaterEqual : Tok::Greater, at(i + 1) == '=' ? 2 : 1);
    case '.':
        if (at(i + 1) == '.')
            return single(i, token, Tok::DotDot, 2);
        if (isDigit(at(i + 1)))
            return number(i, 0, token);
        return single(i, token, Tok::Dot, 1);
    case '+':
    case '-':
        if (!afterOperand(previous, any) && (isDigit(at(i + 1)) || (at(i + 1) == '.' && isDigit(at(i + 2)))))
            return number(i, 1, token);
        return single(i, token, c == '+' ? Tok::Plus : Tok::Minus, 1);
    case '*':
        if (afterOperand(previous, any))
            return single(i, token, Tok::Multiply, 1);
        return single(i, token, Tok::Name, 1);
    case '"':
    case '\'': {
        i32 end = i + 1;
        while (end < length && text[end] != c)
            end++;
        token.kind = Tok::Literal;
        token.length = (end < length ? end + 1 : end) - i;
        return i + token.length;
    }
    case '$': {
        i32 end = i + 1;
        while (end < length && isNameUnit(text[end]))
            end++;
        if (end == i + 1)
            setError(context, kXPathSyntax, i, 1);
        token.kind = Tok::Variable;
        token.length = end - i;
        return end;
    }
    default:
        break;
    }
    if (isDigit(c))
        return number(i, 0, token);
    if (!isNameStartUnit(c)) {
        token.kind = Tok::End;      // anything else is passed over
        token.length = 0;
        return i + 1;
    }
    i32 end = i + 1;
    bool colon = false;
    while (end < length) {
        if (isNameUnit(text[end])) {
            end++;
        } else if (text[end] == ':' && !colon && at(end + 1) != ':' &&
                   (isNameStartUnit(at(end + 1)) || at(end + 1) == '*')) {
            colon = true;
            end++;
            if (text[end] == '*') {
                end++;
                break;
            }
        } else {
            break;
        }
    }
    token.kind = Tok::Name;
    token.length = end - i;
    static const struct {
        const char* word;
        Tok kind;
    } words[] = {{"and", Tok::And}, {"or", Tok::Or}, {"div", Tok::Div}, {"mod", Tok::Mod}};
    for (const auto& w : words)
        if (size_t(token.length) == std::strlen(w.word) && utf16CompareAscii(text + i, w.word, token.length) == 0)
            token.kind = w.kind;
    return end;
}

}  // namespace LxCore::xpathdetail
