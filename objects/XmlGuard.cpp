#include "objects/XmlGuard.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace LxObjects {

namespace {

using Bytes = const unsigned char*;

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isAsciiLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// TinyXML takes every byte from 127 up as a letter.
bool isNameStart(unsigned char c)
{
    return isAsciiLetter(c) || c == '_' || c >= 0x7F;
}

bool isNameByte(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

bool startsWith(Bytes p, const char* prefix)
{
    return std::strncmp(reinterpret_cast<const char*>(p), prefix, std::strlen(prefix)) == 0;
}

bool startsWithFolded(Bytes p, const char* prefix)
{
    return strncasecmp(reinterpret_cast<const char*>(p), prefix, std::strlen(prefix)) == 0;
}

// TinyXML steps over a multi-byte character as a whole inside texts and
// values; only well-formed sequences keep its steps and ours the same.
bool isWellFormedUtf8(Bytes p)
{
    while (*p) {
        unsigned char lead = *p++;
        int trail = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                  : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
        if (trail < 0)
            return false;
        for (; trail > 0; --trail, ++p)
            if ((*p & 0xC0) != 0x80)
                return false;
    }
    return true;
}

enum class Step { Go, End, Refuse };

class Walker {
public:
    Walker(Bytes text, int maxDepth) : p_(text), maxDepth_(maxDepth) {}

    bool run()
    {
        if (startsWith(p_, "\xEF\xBB\xBF"))
            p_ += 3;
        for (;;) {
            if (open_.empty()) {
                skipSpace();
                if (!*p_)
                    return true;
                if (*p_ != '<')
                    return false;
            } else {
                while (*p_ && *p_ != '<')
                    ++p_;
                if (!*p_)
                    return true;  // cut short: TinyXML stops here too
            }
            Step step = node();
            if (step != Step::Go)
                return step == Step::End;
        }
    }

private:
    void skipSpace()
    {
        while (isSpace(*p_))
            ++p_;
    }

    // Past the next occurrence of end; End when there is none.
    Step skipPast(const char* end)
    {
        const char* found = std::strstr(reinterpret_cast<const char*>(p_), end);
        if (!found)
            return Step::End;
        p_ = reinterpret_cast<Bytes>(found) + std::strlen(end);
        return Step::Go;
    }

    std::string_view readName()
    {
        Bytes start = p_;
        while (isNameByte(*p_))
            ++p_;
        return std::string_view(reinterpret_cast<const char*>(start), size_t(p_ - start));
    }

    // The node at '<', in TinyXML's order of recognition.
    Step node()
    {
        if (startsWithFolded(p_, "<?xml"))
            return declaration();
        if (startsWith(p_, "<!--"))
            return skipPast("-->");
        if (startsWith(p_, "<![CDATA["))
            return open_.empty() ? Step::Refuse : skipPast("]]>");
        if (startsWith(p_, "</"))
            return closeTag();
        if (isNameStart(p_[1]))
            return element();
        return skipPast(">");  // "<!DOCTYPE ...>", "<?pi ...>" and the like
    }

    // "<?xml" then blank-separated name="value" pairs of plain characters
    // and "?>": TinyXML reads quoted values of some names only, so a quote
    // or '>' inside a value could end the declaration elsewhere for it.
    Step declaration()
    {
        p_ += 5;
        for (;;) {
            Bytes before = p_;
            skipSpace();
            if (p_[0] == '?' && p_[1] == '>') {
                p_ += 2;
                return Step::Go;
            }
            if (p_ == before || !(isAsciiLetter(*p_) || *p_ == '_'))
                return Step::Refuse;
            while (*p_ < 0x80 && isNameByte(*p_))
                ++p_;
            skipSpace();
            if (*p_++ != '=')
                return Step::Refuse;
            skipSpace();
            unsigned char quote = *p_++;
            if (quote != '"' && quote != '\'')
                return Step::Refuse;
            while (*p_ < 0x80 && isNameByte(*p_))
                ++p_;
            if (*p_++ != quote)
                return Step::Refuse;
        }
    }

    Step element()
    {
        ++p_;
        std::string_view name = readName();
        for (;;) {
            skipSpace();
            if (!*p_)
                return Step::End;
            if (*p_ == '/')
                return p_[1] == '>' ? (p_ += 2, Step::Go) : Step::Refuse;
            if (*p_ == '>') {
                ++p_;
                if (int(open_.size()) >= maxDepth_)
                    return Step::Refuse;
                open_.push_back(name);
                return Step::Go;
            }
            if (!isNameStart(*p_))
                return Step::Refuse;
            readName();
            skipSpace();
            if (*p_ != '=')
                return Step::Refuse;
            ++p_;
            skipSpace();
            unsigned char quote = *p_;
            if (quote != '"' && quote != '\'')
                return Step::Refuse;
            const char* close = std::strchr(reinterpret_cast<const char*>(p_ + 1), quote);
            if (!close)
                return Step::End;
            p_ = reinterpret_cast<Bytes>(close) + 1;
        }
    }

    Step closeTag()
    {
        if (open_.empty())
            return Step::Refuse;
        p_ += 2;
        std::string_view name = readName();
        skipSpace();
        if (!*p_)
            return Step::End;
        if (*p_ != '>' || name != open_.back())
            return Step::Refuse;
        ++p_;
        open_.pop_back();
        return Step::Go;
    }

    Bytes p_;
    int maxDepth_;
    std::vector<std::string_view> open_;
};

}  // namespace

bool xmlWithinDepth(const char* text, int maxDepth)
{
    if (!text)
        return true;
    Bytes bytes = reinterpret_cast<Bytes>(text);
    if (!isWellFormedUtf8(bytes))
        return false;
    try {
        return Walker(bytes, maxDepth).run();
    } catch (...) {
        return false;
    }
}

}  // namespace LxObjects
