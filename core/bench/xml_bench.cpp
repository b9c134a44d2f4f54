// Times the XML paths that hostile input stresses: many siblings, many
// attributes, many namespace declarations, a long list literal and the
// removal of many children. Each runs at the size given and at twice it; the
// second time should be about twice the first.
//
//     xml_bench [scale=1] [case]    (scale 1: 1,000,000 siblings ...; case: a word of its name)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <string>

#include "core/Error.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "core/XML.h"

using namespace LxCore;

namespace {

String ascii(const std::string& text) {
    String out;
    out.setLength(i32(text.size()));
    unit* units = out.getBuffer();
    for (size_t i = 0; i < text.size(); i++)
        units[i] = unit(u8(text[i]));
    return out;
}

// Parses, prints and frees the text; false when it does not parse.
bool parsePrintFree(const String& text) {
    Error error;
    i32 position = 0;
    XML* node = parseXMLText(text, position, error, false, false, false);
    if (!node) {
        String message;
        error.getMessage(message);
        std::fprintf(stderr, "parse failed: %s\n", message.encode());
        return false;
    }
    String printed;
    node->toXMLString(printed, -1);
    node->release();
    return printed.length() > 0;
}

std::string siblings(i64 n) {
    std::string text = "<r>";
    for (i64 i = 0; i < n; i++)
        text += "<a/>";
    return text + "</r>";
}

std::string attributes(i64 n) {
    std::string text = "<r";
    for (i64 i = 0; i < n; i++)
        text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return text + "/>";
}

std::string declarations(i64 n) {
    std::string text = "<r";
    for (i64 i = 0; i < n; i++)
        text += " xmlns:p" + std::to_string(i) + "=\"urn:x/" + std::to_string(i) + "\"";
    text += ">";
    for (i64 i = 0; i < n; i++)
        text += "<p" + std::to_string(i) + ":a/>";
    return text + "</r>";
}

std::string listLiteral(i64 n) {
    std::string text = "<>";
    for (i64 i = 0; i < n; i++)
        text += "<a/>";
    return text + "</>";
}

bool removeChildren(i64 n) {
    XML* root = new XML(String("r"));
    for (i64 i = 0; i < n; i++)
        root->addChild(String(i % 2 ? "a" : "b"));
    i32 first = root->removeByName(String("a"));
    bool ok = first == 1 && root->getChildCount() == n / 2;
    root->release();
    return ok;
}

struct Case {
    const char* name;
    i64 size;
    std::function<bool(i64)> run;
};

double seconds(const std::function<bool(i64)>& run, i64 size, bool& ok) {
    auto began = std::chrono::steady_clock::now();
    ok = run(size);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const char* only = argc > 2 ? argv[2] : nullptr;
    InitTerm::init();
    auto parsed = [](std::string (*make)(i64)) {
        return [make](i64 n) { return parsePrintFree(ascii(make(n))); };
    };
    const Case cases[] = {
        {"siblings: parse, print, free", 1000000, parsed(siblings)},
        {"attributes of one element", 200000, parsed(attributes)},
        {"namespace declarations, each used", 50000, parsed(declarations)},
        {"list literal items", 1000000, parsed(listLiteral)},
        {"removeByName of every other child", 1000000, removeChildren},
    };
    bool allOk = true;
    std::printf("%-38s %10s %9s %9s %6s\n", "case", "n", "n (s)", "2n (s)", "ratio");
    for (const Case& c : cases) {
        if (only && !std::strstr(c.name, only))
            continue;
        const i64 n = i64(double(c.size) * scale);
        bool ok1 = false, ok2 = false;
        double once = seconds(c.run, n, ok1);
        double twice = seconds(c.run, 2 * n, ok2);
        allOk = allOk && ok1 && ok2;
        std::printf("%-38s %10lld %9.3f %9.3f %6.2f%s\n", c.name, static_cast<long long>(n), once,
                    twice, twice / once, ok1 && ok2 ? "" : "  FAILED");
    }
    InitTerm::exit();
    return allOk ? 0 : 1;
}
