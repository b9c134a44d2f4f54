// The command line this process was started with.
#pragma once
#include <string>
#include <vector>

namespace LxObjects::Platform {

// The arguments after the program name, from /proc/self/cmdline; empty when
// there are none or they cannot be read.
std::vector<std::string> commandLineArguments();

}  // namespace LxObjects::Platform
