// Parse speed: a seeded megabyte of plain script text (only forms that this
// language and ECMAScript 3 read alike, so that other parsers can take the
// same text), parsed through the parser interface (tree built, folded and
// destroyed) and walked through the colouring interface, ten times each;
// the median rate is reported.
//
//   tavrel_parse_bench [--write FILE.tvs] [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/Engine.h"
#include "script/frontend/ParserAPI.h"

namespace {

using LxScript::API;
using LxScript::FrontEndOptions;
using LxScript::HiliteAPI;
using LxScript::ParserAPI;

// An engine with only what the front end asks of one.
class BenchEngine : public LxScript::Engine, public FrontEndOptions {
public:
    ~BenchEngine() override {
        delete parser;
        delete hilite;
    }
    void collectGarbage() override {}
    void invalidateClass(const LxCore::String&) override {}
    API* getAPI(LxScript::i32 code) override {
        if (code == API::kParser)
            return parser ? parser : (parser = new ParserAPI(*this, *this));
        if (code == API::kHilite)
            return hilite ? hilite : (hilite = new HiliteAPI(*this, *this));
        return nullptr;
    }
    const LxCore::String& getIncludePath() const override { return includePath; }
    void setIncludePath(const LxCore::String& path) override { includePath = path; }
    bool isPreprocessorOn() const override { return true; }
    void setPreprocessorOn(bool) override {}

private:
    LxCore::String includePath;
    ParserAPI* parser = nullptr;
    HiliteAPI* hilite = nullptr;
};

// The text: functions of ordinary statements over a fixed vocabulary.
class TextMaker {
public:
    explicit TextMaker(unsigned seed) : random(seed) {}

    std::string make(size_t size) {
        std::string out;
        for (int n = 0; out.size() < size; n++)
            function(out, "f" + std::to_string(n), 0);
        return out;
    }

private:
    std::mt19937 random;

    int pick(int n) { return int(random() % unsigned(n)); }
    const char* name() {
        static const char* names[] = {"alpha", "beta", "count", "total", "items", "index", "value", "result",
                                      "node", "list", "data", "width", "height", "label", "text", "offset",
                                      "limit", "state", "entry", "buffer"};
        return names[pick(20)];
    }
    std::string number() {
        switch (pick(4)) {
            case 0: return std::to_string(pick(10));
            case 1: return std::to_string(pick(100000));
            case 2: return std::to_string(pick(1000)) + "." + std::to_string(pick(100));
            default: return "0x" + std::to_string(10 + pick(80));
        }
    }
    std::string string() {
        static const char* words[] = {"hello", "world", "item count", "missing value", "a, b and c", "line\\n",
                                      "tab\\there", "\\u00e9t\\u00e9", "quote \\\" inside", "path/to/file"};
        return std::string("\"") + words[pick(10)] + "\"";
    }
    std::string operand(int depth) {
        switch (pick(depth > 2 ? 4 : 12)) {
            case 0: case 1: return name();
            case 2: return number();
            case 3: return string();
            case 4: return std::string(name()) + "." + name();
            case 5: return std::string(name()) + "[" + expression(depth + 1) + "]";
            case 6: return std::string(name()) + "(" + expression(depth + 1) + ", " + operand(depth + 1) + ")";
            case 7: return "(" + expression(depth + 1) + ")";
            case 8: return "[" + operand(depth + 1) + ", " + operand(depth + 1) + ", " + number() + "]";
            case 9: return std::string("{") + name() + ": " + operand(depth + 1) + ", " + name() + ": " + string() + "}";
            case 10: return std::string("new Array(") + number() + ")";
            default: return pick(2) ? "/ab+c/g" : "/^[a-z]+$/i";
        }
    }
    std::string expression(int depth) {
        static const char* operators[] = {" + ", " - ", " * ", " / ", " % ", " < ", " >= ", " == ", " != ",
                                          " && ", " || ", " & ", " | ", " << ", " === "};
        std::string out = operand(depth);
        for (int n = pick(3); n > 0; n--)
            out += operators[pick(15)] + operand(depth + 1);
        if (depth == 0 && pick(8) == 0)
            out = out + " ? " + operand(depth + 1) + " : " + operand(depth + 1);
        return out;
    }
    void indent(std::string& out, int level) { out.append(size_t(level) * 4, ' '); }

    void statement(std::string& out, int level) {
        indent(out, level);
        switch (pick(level > 2 ? 5 : 12)) {
            case 0: out += std::string("var ") + name() + " = " + expression(0) + ";\n"; return;
            case 1: out += std::string(name()) + " = " + expression(0) + ";\n"; return;
            case 2: out += std::string(name()) + "." + name() + "(" + expression(0) + ");\n"; return;
            case 3: out += std::string(name()) + " += " + operand(1) + ";\n"; return;
            case 4: out += std::string("// ") + name() + " " + name() + " and more\n"; return;
            case 5:
                out += "if (" + expression(0) + ") {\n";
                block(out, level + 1);
                indent(out, level);
                out += "} else {\n";
                block(out, level + 1);
                indent(out, level);
                out += "}\n";
                return;
            case 6:
                out += std::string("for (var i = 0; i < ") + name() + ".length; i++) {\n";
                block(out, level + 1);
                indent(out, level);
                out += "}\n";
                return;
            case 7:
                out += "while (" + expression(0) + ") {\n";
                block(out, level + 1);
                indent(out, level);
                out += "}\n";
                return;
            case 8:
                out += "switch (" + std::string(name()) + ") {\n";
                for (int n = 1 + pick(3); n > 0; n--) {
                    indent(out, level);
                    out += "case " + number() + ":\n";
                    block(out, level + 1);
                    indent(out, level + 1);
                    out += "break;\n";
                }
                indent(out, level);
                out += "default:\n";
                block(out, level + 1);
                indent(out, level);
                out += "}\n";
                return;
            case 9:
                out += "try {\n";
                block(out, level + 1);
                indent(out, level);
                out += "} catch (e) {\n";
                block(out, level + 1);
                indent(out, level);
                out += "}\n";
                return;
            case 10:
                out += std::string("/* ") + name() + " " + name() + " */\n";
                return;
            default:
                out += std::string("var ") + name() + " = function (a, b) {\n";
                block(out, level + 1);
                indent(out, level + 1);
                out += "return a + b;\n";
                indent(out, level);
                out += "};\n";
                return;
        }
    }
    void block(std::string& out, int level) {
        for (int n = 1 + pick(4); n > 0; n--)
            statement(out, level);
    }
    void function(std::string& out, const std::string& functionName, int level) {
        out += "function " + functionName + "(" + name() + ", " + name() + ") {\n";
        for (int n = 3 + pick(6); n > 0; n--)
            statement(out, level + 1);
        out += "    return " + expression(0) + ";\n}\n\n";
    }
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <class Body>
std::vector<double> rates(int runs, double megabytes, Body body) {
    std::vector<double> out;
    for (int i = 0; i < runs; i++) {
        const auto started = std::chrono::steady_clock::now();
        body();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        out.push_back(megabytes / seconds);
    }
    return out;
}

void report(const char* what, const std::vector<double>& values) {
    std::printf("%-6s median %6.1f MB/s (slowest %.1f, fastest %.1f)\n", what, median(values),
                *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
}

}  // namespace

int main(int argc, char** argv) {
    const char* writeTo = nullptr;
    int runs = 10;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--write") && i + 1 < argc) {
            writeTo = argv[++i];
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--write FILE.tvs] [--runs N]\n", argv[0]);
            return 2;
        }
    }
    const std::string text = TextMaker(20261210).make(1000000);
    if (writeTo && !(std::ofstream(writeTo, std::ios::binary) << text)) {
        std::fprintf(stderr, "cannot write %s\n", writeTo);
        return 1;
    }

    LxScript::InitTerm::init();
    int status = 0;
    {
        BenchEngine engine;
        ParserAPI& parser = *static_cast<ParserAPI*>(engine.getAPI(API::kParser));
        HiliteAPI& hilite = *static_cast<HiliteAPI*>(engine.getAPI(API::kHilite));
        const LxCore::String source(text.c_str());
        const double megabytes = double(source.length()) / 1e6;
        std::printf("text: %d characters, seed 20261210\n", source.length());

        delete parser.parse(source);
        if (engine.getError().getCode() != 0) {
            LxCore::String message;
            engine.getError().getMessage(message);
            std::fprintf(stderr, "the text does not parse: %d, line %d\n", engine.getError().getCode(),
                         engine.getErrorInfo().line + 1);
            status = 1;
        } else {
            report("parse", rates(runs, megabytes, [&] { delete parser.parse(source); }));
            size_t tokens = 0;
            report("walk", rates(runs, megabytes, [&] {
                       LxScript::HiliteAPIData* run = hilite.start(source, 0, -1);
                       LxScript::HiliteRange range;
                       tokens = 0;
                       while (hilite.next(run, range))
                           tokens++;
                       hilite.stop(run);
                   }));
            std::printf("tokens: %zu\n", tokens);
        }
    }
    LxScript::InitTerm::exit();
    return status;
}
