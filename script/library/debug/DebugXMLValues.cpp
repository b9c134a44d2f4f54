// Reply pieces of the XML debug protocol. Every text that goes into a reply
// passes wellFormed, so script values of any content give a reply that
// parses back.
#include "script/library/debug/DebugXMLValues.h"

#include <cstdio>
#include <unordered_set>

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/LiveObject.h"
#include "core/SimpleArray.h"
#include "core/TypeInfo.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Workspace.h"
#include "script/library/debug/DebugAPI.h"

namespace LxScript {
namespace DebugXML {

using LxCore::isHighSurrogate;
using LxCore::isLowSurrogate;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

constexpr unit kReplacement = 0xFFFD;
// Numbered names at or above this are left out when "max" is absent or 0.
constexpr i32 kDefaultMaxIndex = 20;
// The "properties" listing: methods, read-only, writable and don't-enumerate
// slots of the object alone, bit 0x10000; removed slots too for changes.
constexpr u32 kPropertyFilter = 0xEC010000;
constexpr u32 kNoBuiltInFilter = 0x02000000;
constexpr u32 kRemovedFilter = 0x10;

bool isAscii(const String& text, const char* ascii) { return text.compare(ascii) == 0; }

// Units from i that stay as they are (2 for a surrogate pair); 0: replace one.
i32 keptUnits(const String& text, i32 i) {
    const unit c = text[i];
    if (c < 0x20)
        return c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
    if (c == 0xFFFE || c == 0xFFFF || isLowSurrogate(c))
        return 0;
    if (isHighSurrogate(c))
        return i + 1 < text.length() && isLowSurrogate(text[i + 1]) ? 2 : 0;
    return 1;
}

// Reads a clean base-10 number; false for anything else.
bool readDecimal(const String& text, i64& out, bool& overflow) {
    const i32 n = text.length();
    i32 i = 0;
    const bool negative = n > 0 && text[0] == '-';
    if (n > 0 && (text[0] == '-' || text[0] == '+'))
        i++;
    if (i == n)
        return false;
    i64 v = 0;
    overflow = false;
    for (; i < n; i++) {
        const unit c = text[i];
        if (c < '0' || c > '9')
            return false;
        if (v > (i64(1) << 40))
            overflow = true;
        else
            v = v * 10 + (c - '0');
    }
    out = negative ? -v : v;
    return true;
}

// While replies read values the embedding sees an outside access, and the
// engine is entered as a guarded entry (current engine, stack limit,
// localizer). Errors are kept from the debugger by DebugAPI::QuietReading.
class ReadScope {
public:
    explicit ReadScope(RealEngine& engine) : engine(engine) {
        engine.notifyAccess(true);
        engine.enterRun(entry, 0);
    }
    ~ReadScope() {
        engine.leaveRun(entry);
        engine.notifyAccess(false);
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    RealEngine& engine;
    RealEngine::EntryState entry;
};

String typeNameOf(const Variant& value) {
    static const char* const kPrimitive[] = {"undefined", "null", "boolean", "number", "string"};
    const u32 type = value.getType();
    if (type <= Variant::kString)
        return String(kPrimitive[type]);
    if (Object* object = objectOf(value)) {
        String name;
        object->getClassName(name);
        return name;
    }
    if (isUnboundReference(value))
        return value.toString();    // the class it names
    if (type == Variant::kLiveObject) {
        if (LxCore::LiveObject* live = value.getLiveObject()) {
            LiveHold hold(live);
            return hold->getClassName();
        }
    }
    return String(LxCore::getTypeName(type));
}

String valueText(const Variant& value) {
    Object* object = objectOf(value);
    if (!object)
        return value.toString();
    if (Function* function = object->asFunction())
        return function->toDisplayString(false);
    Variant primitive;
    object->getDefaultValue(primitive, 1);
    return objectOf(primitive) ? String() : primitive.toString();
}

void copyErrors(const LxCore::Error& from, LxCore::Error& to) {
    if (to.isEmpty()) {
        to = from;
        return;
    }
    std::vector<const LxCore::ErrorRecord*> records;
    for (const LxCore::ErrorRecord* r = from.getRecord(); r; r = r->next)
        records.push_back(r);
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        to.push((*it)->code, (*it)->message, nullptr, false);
}

// A numbered name ("12", "3abc") whose number reaches max.
bool isNumberedAtLeast(const String& name, i32 max) {
    if (name.isEmpty() || name[0] < '0' || name[0] > '9')
        return false;
    i64 n = 0;
    for (i32 i = 0; i < name.length() && name[i] >= '0' && name[i] <= '9' && n <= INT32_MAX; i++)
        n = n * 10 + (name[i] - '0');
    return n >= max;
}

const char* stateName(u32 state) {
    static const char* const kNames[] = {"", "new", "changed", "deleted"};
    return state < 4 ? kNames[state] : "";
}

struct PropertyWalk {
    RealEngine& engine;
    const Exclusions& excluded;
    ChangeResets& resets;
    Object* receiver;
    XML& reply;
    bool all;
    i32 max;
    std::unordered_set<DataPoolId> reported;     // the nearest object wins

    bool seen(DataPoolId symbol) { return !reported.insert(symbol).second; }

    void addProperty(Object* holder, Property* slot, const String& name) {
        const u32 state = slot->getState();
        resets.add(holder, slot);
        if (!all && state == 0)
            return;
        const Variant value(slot->get(receiver, 0));
        XML* element = valueElement(engine, value, &excluded);
        if (!element)
            return;
        element->setName(String("property"));
        setAttribute(*element, "name", name);
        setAttribute(*element, "state", String(stateName(state)));
        if (slot->isReadOnly())
            setAttribute(*element, "readonly", String("true"));
        reply.insert(element, XML::kAppend, true);
    }

    void listObject(Object* object, u32 filter) {
        LxCore::SimpleArray ids;
        object->getPropertyIDs(ids, filter);
        for (i32 i = 0; i < ids.getCount(); i++) {
            const DataPoolId symbol = DataPoolId(ids.get(i));
            const String name = DataPool::get().getSymbol(symbol);
            if (isNumberedAtLeast(name, max) || isAscii(name, "__count__") || isAscii(name, "__class__"))
                continue;
            if (seen(symbol))
                continue;
            if (Property* slot = object->findProperty(symbol, filter | kRemovedFilter))
                addProperty(object, slot, name);
        }
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Requests

bool hasAttribute(const XML& request, const char* name) {
    String at("@");
    at += name;
    XML* found = request.find(at, 0);
    const bool present = found->getChildCount() > 0;
    found->release();
    return present;
}

String textAttribute(const XML& request, const char* name) {
    String at("@");
    at += name;
    String out;
    request.getString(at, out);
    return out;
}

i32 intAttribute(const XML& request, const char* name) {
    i64 v = 0;
    bool overflow = false;
    if (!readDecimal(textAttribute(request, name), v, overflow) || overflow || v < INT32_MIN || v > INT32_MAX)
        return 0;
    return i32(v);
}

bool isTrueText(const String& text) {
    if (isAscii(text, "true"))
        return true;
    i64 v = 0;
    bool overflow = false;
    return readDecimal(text, v, overflow) && (v != 0 || overflow);
}

bool boolAttribute(const XML& request, const char* name) { return isTrueText(textAttribute(request, name)); }

XML* childElement(const XML& request, const char* name) {
    for (i32 i = 0; i < request.getChildCount(); i++) {
        XML* child = request.getChild(i);
        if (child->getKind() == XML::kElement && isAscii(child->getName(), name))
            return child;
    }
    return nullptr;
}

i32 countChildElements(const XML& request, const char* name) {
    i32 n = 0;
    for (i32 i = 0; i < request.getChildCount(); i++) {
        const XML* child = request.getChild(i);
        if (child->getKind() == XML::kElement && isAscii(child->getName(), name))
            n++;
    }
    return n;
}

// ---------------------------------------------------------------------------
// Replies

String wellFormed(const String& text) {
    const i32 n = text.length();
    i32 i = 0;
    for (i32 k; i < n && (k = keptUnits(text, i)) != 0; i += k) {
    }
    if (i == n)
        return text;
    String out = text.substr(0, i);
    while (i < n) {
        const i32 k = keptUnits(text, i);
        if (k == 0) {
            out += kReplacement;
            i++;
        } else {
            out.append(text.chars() + i, k);
            i += k;
        }
    }
    return out;
}

XML* newElement(const char* name) { return new XML(XML::kElement, String(name)); }

void setAttribute(XML& element, const char* name, const String& text) {
    String at("@");
    at += name;
    element.put(at, wellFormed(text));
}

void setNumber(XML& element, const char* name, i64 number) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(number));
    setAttribute(element, name, String(digits));
}

void addText(XML& element, const String& text) {
    element.insert(new XML(XML::kText, wellFormed(text)), XML::kAppend, true);
}

void addCDATA(XML& element, const String& text) {
    const String clean = wellFormed(text);
    i32 start = 0;
    for (;;) {
        const i32 end = clean.find("]]>", start);
        const String piece = end < 0 ? clean.substr(start) : clean.substr(start, end + 2 - start);
        XML* section = new XML(XML::kText, piece);
        section->setName(String("CDATA"));
        element.insert(section, XML::kAppend, true);
        if (end < 0)
            return;
        start = end + 2;
    }
}

XML* addCDATAChild(XML& element, const char* name, const String& text) {
    XML* child = newElement(name);
    element.insert(child, XML::kAppend, true);
    addCDATA(*child, text);
    return child;
}

String symbolText(i32 symbol) { return DataPool::get().getSymbol(DataPoolId(symbol)); }

void ChangeResets::add(Object* owner, Property* slot) { slots.emplace_back(ObjectRef(owner), slot); }

void ChangeResets::apply() {
    for (auto& held : slots)
        held.second->resetState();
    slots.clear();
}

Exclusions::Exclusions(const String& list) {
    String rest = list;
    while (!rest.isEmpty()) {
        const String word = rest.nextToken(',');
        if (isAscii(word, "builtin"))
            builtIn = true;
        else if (isAscii(word, "prototype"))
            prototypes = true;
        else if (!word.isEmpty())
            types.push_back(word);
    }
}

bool Exclusions::excludes(const String& typeName) const {
    for (const String& t : types)
        if (t.compare(typeName) == 0)
            return true;
    return false;
}

XML* valueElement(RealEngine& engine, const Variant& value, const Exclusions* excluded) {
    DebugAPI::QuietReading quiet(engine);
    ReadScope scope(engine);
    String type = typeNameOf(value);
    if (excluded && excluded->excludes(type))
        return nullptr;
    String text = valueText(value);
    if (engine.getError().getCode() != 0) {
        type = "error";
        engine.getError().getMessage(text);
    }
    XMLHold element(newElement("value"));
    setAttribute(*element.get(), "type", type);
    const Object* object = objectOf(value);
    if (object && !object->isValid())
        setAttribute(*element.get(), "invalid", String("true"));
    addCDATA(*element.get(), text);
    return element.take();
}

XML* errorElement(const LxCore::Error& list) {
    const LxCore::ErrorRecord* oldest = list.getRecord();
    if (!oldest || list.getCode() == 0)
        return nullptr;
    while (oldest->next)
        oldest = oldest->next;
    XMLHold element(newElement("error"));
    setNumber(*element.get(), "id", oldest->code);
    setAttribute(*element.get(), "file", oldest->fileName);
    setNumber(*element.get(), "line", i64(oldest->line) + 1);
    if (oldest->further >= 0) {
        setNumber(*element.get(), "col", i64(oldest->further) + 1);
        setNumber(*element.get(), "len", oldest->length);
    }
    String message;
    list.getMessage(message);
    addText(*element.get(), message);
    return element.take();
}

bool wantsProperties(const XML& request) {
    return hasAttribute(request, "exclude") || hasAttribute(request, "all") || hasAttribute(request, "max");
}

XML* propertiesElement(DebugAPI& api, const XML& request, LxCore::Error& errors, ChangeResets& resets) {
    RealEngine& engine = api.getRealEngine();
    const Exclusions excluded(textAttribute(request, "exclude"));
    const i32 max = intAttribute(request, "max");
    // Every way out gives the engine its error list back and lowers the
    // suppression again, so errors break into the debugger afterwards.
    DebugAPI::QuietReading quiet(engine);
    ReadScope scope(engine);
    String objectText = textAttribute(request, "object");
    if (isAscii(objectText, "[global]"))
        objectText = "$.global";
    Object* global = engine.getGlobalObject();
    ObjectRef object, self;
    bool frameScope = false;
    if (isAscii(objectText, "$.global")) {
        object = self = ObjectRef(global);
    } else if (!objectText.isEmpty()) {
        Variant result;
        if (!engine.eval(objectText, &result, 0, 0, nullptr, nullptr) || engine.getError().getCode() != 0) {
            copyErrors(engine.getError(), errors);
            return nullptr;
        }
        engine.importValue(result, true);
        object = ObjectRef(objectOf(result));
        global = engine.getGlobalObject();
    } else if (RuntimeEnv* frame = api.frameAt(api.getContextLevel())) {
        object = ObjectRef(frame->getScope());
        self = ObjectRef(frame->thisObject);
        frameScope = true;
    } else {
        object = self = ObjectRef(global);
    }
    XMLHold reply(newElement("properties"));
    setAttribute(*reply.get(), "object", objectText);
    if (!object)
        return reply.take();
    if (frameScope || (object.get() == global && !excluded.builtIn))
        if (XML* value = valueElement(engine, Variant(self.get()), &excluded)) {
            setAttribute(*value, "name", String("this"));
            setAttribute(*value, "readonly", String("true"));
            reply->insert(value, XML::kAppend, true);
        }
    const bool all = boolAttribute(request, "all");
    const u32 filter =
        kPropertyFilter | (all ? 0 : kRemovedFilter) | (excluded.builtIn ? kNoBuiltInFilter : 0);
    PropertyWalk walk{engine, excluded, resets, object.get(), *reply.get(), all, max == 0 ? kDefaultMaxIndex : max, {}};
    // Each object is held while it is listed, so that a getter that
    // changes the chain cannot free it under the walk.
    for (ObjectRef at = object; at; at = ObjectRef(at->getPrototype())) {
        if (!at->isValid()) {
            String className;
            at->getClassName(className);
            errors.push(Err::kInvalidObject, className, nullptr, true);
            return nullptr;
        }
        walk.listObject(at.get(), filter);
        if (excluded.prototypes)
            break;
    }
    return reply.take();
}

XML* profilingElement(DebugAPI& api, i32 level, bool erase) {
    LxCore::TSimpleArray<ProfilerData> records;
    api.getProfilerData(&records, erase);
    struct Owned {
        LxCore::TSimpleArray<ProfilerData>& list;
        ~Owned() {
            for (i32 i = 0; i < list.getCount(); i++)
                delete list.get(i);
        }
    } owned{records};
    XMLHold element(newElement("profiling"));
    XML* file = nullptr;
    XML* function = nullptr;
    char digits[32];
    for (i32 i = 0; i < records.getCount(); i++) {
        const ProfilerData* r = records.get(i);
        const ProfilerData* before = i > 0 ? records.get(i - 1) : nullptr;
        if (!file || before->file != r->file) {
            file = newElement("file");
            element->insert(file, XML::kAppend, true);
            if (r->file != 0)
                setAttribute(*file, "name", symbolText(r->file));
            function = nullptr;
        }
        if (!function || before->function != r->function) {
            function = newElement("function");
            file->insert(function, XML::kAppend, true);
            if (r->function != 0)
                setAttribute(*function, "name", symbolText(r->function));
        }
        XML* data = newElement("data");
        function->insert(data, XML::kAppend, true);
        std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(u32(r->line + 1)));
        setAttribute(*data, "line", String(digits));
        if (level == 2 || level == 4) {
            std::snprintf(digits, sizeof digits, "%.0lf", double(r->time));
            setAttribute(*data, "time", String(digits));
        }
        std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(u32(r->hits)));
        setAttribute(*data, "hits", String(digits));
    }
    return element.take();
}

}  // namespace DebugXML
}  // namespace LxScript
