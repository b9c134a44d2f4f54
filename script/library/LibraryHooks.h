// The library's step of the engine library's start: the table through which
// the engine reaches the library's E4X values, dictionary objects and
// debugger service (script/engine/LibraryHooks.h).
#pragma once

namespace LxScript {

// True installs the table, false puts the engine's own back.
void installLibraryHooks(bool start);

}  // namespace LxScript
