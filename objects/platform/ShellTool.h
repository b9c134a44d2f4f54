// The wrapper script written beside a registered shell tool, so that the
// tool can be started by a name of its own.
#pragma once

namespace LxObjects::Platform {

// Creates wrapperPath as an executable sh script (mode 0755) that runs
// exec "<programPath>" "$@". An existing file, or a link, is never written
// over; false when the script could not be written whole.
bool writeShellWrapper(const char* wrapperPath, const char* programPath);

}  // namespace LxObjects::Platform
