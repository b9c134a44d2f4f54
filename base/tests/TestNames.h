// Names for the cases of parameterised tests. GoogleTest takes only letters,
// digits and "_" in a name, so the case's text is spelt out: letters, digits
// and "_" as they are, every other byte as a word ("app-1.0" gives
// "app_dash_1_dot_0"), the parts joined by "_".
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace TestNames {

inline const char* wordFor(char c) {
    static const struct {
        char c;
        const char* word;
    } kWords[] = {
        {' ', "space"},   {'!', "not"},       {'"', "quote"},    {'#', "hash"},   {'$', "dollar"},
        {'%', "percent"}, {'&', "amp"},       {'\'', "apos"},    {'(', "open"},   {')', "close"},
        {'*', "star"},    {'+', "plus"},      {',', "comma"},    {'-', "dash"},   {'.', "dot"},
        {'/', "slash"},   {':', "colon"},     {';', "semi"},     {'<', "lt"},     {'=', "eq"},
        {'>', "gt"},      {'?', "query"},     {'@', "at"},       {'[', "lbracket"}, {'\\', "backslash"},
        {']', "rbracket"}, {'^', "caret"},    {'`', "backtick"}, {'{', "lbrace"}, {'|', "bar"},
        {'}', "rbrace"},  {'~', "tilde"},
    };
    for (const auto& w : kWords)
        if (w.c == c)
            return w.word;
    return nullptr;
}

inline bool keptAsIs(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The text spelt as a test name; "empty" for no text.
inline std::string caseName(std::string_view text) {
    std::string out;
    bool inRun = false;     // the last part was letters, digits and "_"
    for (char c : text) {
        if (keptAsIs(c)) {
            if (!inRun && !out.empty())
                out += '_';
            out += c;
            inRun = true;
            continue;
        }
        if (!out.empty())
            out += '_';
        if (const char* word = wordFor(c)) {
            out += word;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "x%02X", static_cast<unsigned char>(c));
            out += hex;
        }
        inRun = false;
    }
    return out.empty() ? "empty" : out;
}

}  // namespace TestNames
