// What the engine asks of the script library standing above it: the E4X
// values, dictionary objects and the debugger service. The library installs
// its table at the engine library's start and removes it at the exit; the
// engine knows none of the library's classes. Until then the engine's own
// table answers: without the library no XML, QName, Namespace or Dictionary
// object and no debugger service exists, so each entry answers as for a
// value that is none of them.
#pragma once
#include "core/Types.h"

namespace LxCore {
class Array;
class Dictionary;
class LiveObject;
class String;
class Variant;
class XML;
}  // namespace LxCore

namespace LxScript {

class API;
class Object;
class Property;
class Workspace;

struct LibraryHooks {
    using i32 = LxCore::i32;

    // ---- E4X ----
    // The node behind an "XML" or "XMLList" live object, borrowed; null for
    // any other live object and for null.
    LxCore::XML* (*xmlNodeOf)(LxCore::LiveObject* live);
    // A namespace node for a value (a new reference), or null for any
    // namespace.
    LxCore::XML* (*namespaceFromValue)(const LxCore::Variant& value);
    // Wraps node in a new XML object (list mode for a list) as a live value.
    void (*makeXMLValue)(LxCore::XML* node, LxCore::Variant& out);
    // The E4X delete: every node behind the value leaves its parent; the
    // value becomes true.
    void (*deleteXMLValue)(LxCore::Variant& value);
    // for-in names (item indexes as texts) and for-each values (live values)
    // of an XML object.
    void (*collectXMLForInKeys)(LxCore::LiveObject* live, LxCore::Array& out);
    void (*collectXMLForEachValues)(LxCore::LiveObject* live, LxCore::Array& out);
    // The E4X text of the object's XML node when that has simple content.
    bool (*xmlSimpleText)(Object& object, LxCore::String& text);
    // A member lookup that may make an XML child element does so.
    void (*ensureXMLChildElement)(Object& object, i32 symbol);
    // Whether an XML object has a method or child of that name.
    bool (*xmlObjectHasSymbol)(Object& object, i32 symbol);
    // While a class object builds its prototype: the "XML" class object's
    // gets an empty XML instance attached.
    void (*attachXMLPrototype)(Object& function, Object& prototype);
    // For the "XMLList" class object: the prototype it shares with "XML";
    // null for any other function.
    Object* (*linkXMLListPrototype)(Object& function, Object* global);

    // ---- dictionaries ----
    // A new "Dictionary" object over dictionary (not owned; null: an empty
    // one); result stays empty when none can be made.
    void (*makeDictionaryObject)(LxCore::Variant& result, LxCore::Dictionary* dictionary);

    // ---- debugger ----
    // debug is the engine's 'debg' API object. The scope of the frame its
    // context level selects, while the engine is stopped with a frame.
    Workspace* (*debuggerFrameScope)(API& debug);
    // The slot the debugger reports as the watchpoint that stopped the
    // engine; returns the one reported before.
    Property* (*swapWatchpoint)(API& debug, Property* slot);
};

namespace detail {
extern const LibraryHooks* installedLibraryHooks;
}  // namespace detail

// The table in force, never null. A plain load: E4X steps and every
// function's prototype ask it.
inline const LibraryHooks& libraryHooks() { return *detail::installedLibraryHooks; }

// Null puts the engine's own table back. The caller keeps the table alive
// while it is installed.
void setLibraryHooks(const LibraryHooks* hooks);

}  // namespace LxScript
