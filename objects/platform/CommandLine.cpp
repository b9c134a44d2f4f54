#include "objects/platform/CommandLine.h"

#include <fstream>
#include <iterator>

namespace LxObjects::Platform {

std::vector<std::string> commandLineArguments()
{
    std::vector<std::string> out;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    bool program = true;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos)
            end = all.size();
        if (!program)
            out.emplace_back(all, at, end - at);
        program = false;
        at = end + 1;
    }
    return out;
}

}  // namespace LxObjects::Platform
