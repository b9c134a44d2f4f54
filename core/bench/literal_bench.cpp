// Reading speed of the literal-value notation: a long list of numbers read
// into an array, and one object literal with many members.
//     literal_bench [numbers=200000] [members=100000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Array.h"
#include "core/InitTerm.h"
#include "core/LiteralParser.h"
#include "core/LiveObject.h"

using namespace LxCore;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const long numbers = argc > 1 ? std::atol(argv[1]) : 200000;
    const long members = argc > 2 ? std::atol(argv[2]) : 100000;
    InitTerm::init();
    int failures = 0;
    {
        std::string list;
        for (long i = 0; i < numbers; i++)
            list += std::to_string(i % 1000) + "." + std::to_string(i % 7) + ",";
        String text(list.c_str());
        auto start = std::chrono::steady_clock::now();
        Array array;
        i32 status = array.appendParsed(text, 0x10000);
        double seconds = secondsSince(start);
        std::printf("%ld numbers (%.2f MiB): %.3f s, status %d, %u items\n", numbers,
                    list.size() / 1048576.0, seconds, int(status), unsigned(array.length()));
        failures += status != 0 || array.length() != u32(numbers);
    }
    {
        std::string literal = "{";
        for (long i = 0; i < members; i++)
            literal += (i ? ", m" : "m") + std::to_string(i) + ": " + std::to_string(i);
        literal += "}";
        String text(literal.c_str());
        auto start = std::chrono::steady_clock::now();
        Variant value;
        i32 status = LiteralParser(text, 0x10000).parseValue(nullptr, value);
        double seconds = secondsSince(start);
        SimpleArray ids;
        if (LiveObject* object = value.getLiveObject())
            object->getPropertyIDs(ids, 1u << 29);
        std::printf("%ld-member object (%.2f MiB): %.3f s, status %d, %d members\n", members,
                    literal.size() / 1048576.0, seconds, int(status), int(ids.getCount()));
        failures += status != 0 || ids.getCount() != members;
    }
    InitTerm::exit();
    return failures ? 1 : 0;
}
