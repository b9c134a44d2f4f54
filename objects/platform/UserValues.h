// The per-user values file, in place of the registry key
// "Software\Morvane\IAC": $XDG_CONFIG_HOME/morvane/IAC ($HOME/.config when
// that variable is unset or empty), lines name=value in UTF-8. "The key
// exists" means "the file exists".
#pragma once
#include <string>

namespace LxObjects::Platform {

enum class UserValuesState { Missing, Present, Unreadable };

// Empty when neither XDG_CONFIG_HOME nor HOME names a folder.
std::string userValuesPath();
// Reads the whole file into content when it is Present.
UserValuesState readUserValues(std::string& content);
// Creates the file holding content unless one exists; an existing file is
// never replaced, so processes that start together agree on the first one
// written. True when the file exists afterwards.
bool createUserValues(const std::string& content);

}  // namespace LxObjects::Platform
