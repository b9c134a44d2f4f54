// What the Tellwire peer and the tests that drive it share: the escaping of
// words on its command and report lines, the hash by which it reports large
// messages, and the filler bytes of generated messages.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace PeerProtocol {

// Bytes outside the printable ASCII letters, blanks and "%" travel as %XX,
// so that one word never holds a blank or a line end.
inline std::string encode(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7F && c != '%') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

inline std::string decode(std::string_view word)
{
    std::string out;
    for (size_t i = 0; i < word.size(); ++i) {
        bool escape = word[i] == '%' && i + 2 < word.size();
        int high = escape ? hexValue(word[i + 1]) : -1;
        int low = escape ? hexValue(word[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += word[i];
        }
    }
    return out;
}

// The words of a line, cut at blanks.
inline std::vector<std::string> words(std::string_view line)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            out.emplace_back(line.substr(start, i - start));
    }
    return out;
}

// FNV-1a, 64 bits, as 16 hexadecimal digits.
inline std::string hash(std::string_view bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// size bytes that differ from position to position.
inline std::string pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return s;
}

// The i-th message of a writer: tag, number and i bytes of filler, so that a
// torn or mixed message shows.
inline std::string numbered(const std::string& tag, long i)
{
    return tag + ":" + std::to_string(i) + ":" + std::string(size_t(i % 4096), char('a' + i % 26));
}

}  // namespace PeerProtocol
