// What XMLObject.cpp and XMLMethods.cpp share: the method table, the
// method dispatcher and the node helpers.
#pragma once
#include "core/Array.h"
#include "core/Callbacks.h"
#include "core/Error.h"
#include "core/LivePropertyManager.h"
#include "core/Variant.h"
#include "core/XML.h"

namespace LxScript {

class XMLObject;

// Holds one reference to a node and releases it at scope end.
class NodeRef {
public:
    NodeRef() = default;
    explicit NodeRef(LxCore::XML* adopted) : node(adopted) {}
    ~NodeRef() {
        if (node)
            node->release();
    }
    NodeRef(const NodeRef&) = delete;
    NodeRef& operator=(const NodeRef&) = delete;
    void reset(LxCore::XML* adopted) {
        if (node)
            node->release();
        node = adopted;
    }
    LxCore::XML* get() const { return node; }
    // Hands the reference to the caller.
    LxCore::XML* take() {
        LxCore::XML* taken = node;
        node = nullptr;
        return taken;
    }

private:
    LxCore::XML* node = nullptr;
};

// The argument i, undefined past the end.
inline const LxCore::Variant& argumentAt(const LxCore::Array& args, LxCore::u32 i) {
    static const LxCore::Variant none;
    return i < args.length() ? args[i] : none;
}

inline bool isAbsent(const LxCore::Variant& v) {
    return v.getType() == LxCore::Variant::kUndefined || v.getType() == LxCore::Variant::kNull;
}

// The id of the "length" method, the collection's length id.
constexpr LxCore::i32 kXMLLength = 0x7ffff018;

// The method rows of "XML" (they serve "XMLList" objects too).
extern const LxCore::LivePropertyInfo kXMLRows[];

// The meter for the core's long work (searches, printing, copies) on behalf
// of the running script, or null: XML values are also read and printed for
// the host (a debugger's reply, the text of an error being reported), and
// such work, which runs while no script does or while an error is pending
// already, is never cut short.
LxCore::WorkMeter* scriptMeter(LxCore::WorkMeter& meter);

// Runs the method id on the object; the result is preset to the object.
// 2 when the id is no method. When the script's meter stops the work (its
// deadline, a halt) the result is cleared, and the engine holds the error.
LxCore::i32 runXMLMethod(XMLObject& object, LxCore::i32 id, const LxCore::Array& args,
                         LxCore::Variant& result, LxCore::Error* error);

// A find's list as a value: its one item, or the list itself; takes the
// reference.
void wrapFound(LxCore::XML* adopted, LxCore::Variant& out);

// The constructor's node for a value (a new reference), or an error number.
LxCore::i32 buildXML(const LxCore::Variant& value, bool list, LxCore::XML*& out, LxCore::Error* error);
// A deep copy that shares nothing with node: a list's items are copied
// too (XML::copy shares them); a new reference.
LxCore::XML* copyApart(const LxCore::XML* node, LxCore::WorkMeter* meter = nullptr);
// A value as a node to insert (a new reference): a copy when the node sits
// in a tree already; a text node for a value without XML.
LxCore::XML* nodeForInsert(const LxCore::Variant& value);
// Whether putting value into target would make a node its own ancestor.
bool wouldNest(const LxCore::XML* value, const LxCore::XML* target);

}  // namespace LxScript
