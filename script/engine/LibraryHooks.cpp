// The engine's own answers to what it asks of the library, in force while no
// library is installed: no value is one of the library's.
#include "script/engine/LibraryHooks.h"

#include "core/Variant.h"

namespace LxScript {

namespace {

using LxCore::Array;
using LxCore::i32;
using LxCore::LiveObject;
using LxCore::String;
using LxCore::Variant;
using LxCore::XML;

XML* noNode(LiveObject*) { return nullptr; }
XML* anyNamespace(const Variant&) { return nullptr; }
void noXMLValue(XML*, Variant& out) { out.clear(); }
void deleteNothing(Variant& value) { value.setBool(true); }
void noEntries(LiveObject*, Array&) {}
bool noText(Object&, String&) { return false; }
void noChild(Object&, i32) {}
bool noSymbol(Object&, i32) { return false; }
void noPrototype(Object&, Object&) {}
Object* noSharedPrototype(Object&, Object*) { return nullptr; }
void noDictionary(Variant& result, LxCore::Dictionary*) { result.clear(); }
Workspace* noFrameScope(API&) { return nullptr; }
Property* noWatchpoint(API&, Property*) { return nullptr; }

constexpr LibraryHooks kEngineOwn = {
    noNode,       anyNamespace, noXMLValue,  deleteNothing,     noEntries,    noEntries,
    noText,       noChild,      noSymbol,    noPrototype,       noSharedPrototype,
    noDictionary, noFrameScope, noWatchpoint,
};

}  // namespace

namespace detail {
const LibraryHooks* installedLibraryHooks = &kEngineOwn;
}  // namespace detail

void setLibraryHooks(const LibraryHooks* hooks) { detail::installedLibraryHooks = hooks ? hooks : &kEngineOwn; }

}  // namespace LxScript
