// The live-object side of script objects: attaching a LxCore::LiveObject,
// its members as properties, its messages, and calls, construction and
// default values through it.
#include "core/ErrorCodes.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Object.h"
#include "script/engine/Property.h"
#include "script/engine/LibraryHooks.h"

namespace LxScript {

using LxCore::LiveObject;
using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// The messages a script object listens for on its live object.
constexpr u32 kMessages[] = {
    LxCore::fourCharCode("loFo"), LxCore::fourCharCode("loCi"), LxCore::fourCharCode("loIn"),
    LxCore::fourCharCode("loIw"), LxCore::fourCharCode("DELE"),
};
constexpr u32 kPropertyAdded = LxCore::fourCharCode("loJP");

i64 pointerKey(const void* p) { return i64(uintptr_t(p) >> 4); }

}  // namespace

// Arguments as native code wants them: a script object that wraps a live
// object (a function aside) becomes that live object.
LxCore::Array toNativeArguments(const LxCore::BasicArray& args) {
    LxCore::Array out(args.length());
    for (u32 i = 0; i < args.length(); i++) {
        const Variant* v = args.get(i);
        if (!v)
            continue;
        Object* o = objectOf(*v);
        if (o && o->getLiveObject() && !o->asFunction())
            out.getOrCreate(i).setLiveObject(*o->getLiveObject(), 0);
        else
            out.getOrCreate(i) = *v;
    }
    return out;
}

// A live object's failure: its own error list when it filled one, else its
// text for the code with the name.
void reportLiveError(Engine& engine, LiveObject* live, i32 code, const LxCore::Error& error,
                     const String& name) {
    if (!error.isEmpty()) {
        engine.setError(error);
        return;
    }
    String text;
    const i32 failed = live ? live->formatError(text, code, &name) : code;
    if (failed != 0 || !live)
        engine.setError(code, name, -1, false);
    else
        engine.setError(code, text, -1, true);
}

// ---------------------------------------------------------------------------
// Attaching

void Object::setLiveObject(LiveObject* live) {
    noteChainChange();
    ObjectSpace& s = getSpace();
    if (LiveObject* old = getLiveObject()) {
        {
            LxCore::LockableGuard guard(*old);
            for (u32 id : kMessages)
                old->removeListener(this, id);
        }
        s.liveObjects.remove(pointerKey(old));
        data->liveObject = nullptr;
        if (data->nativeData) {
            s.nativeDataMap.remove(pointerKey(data->nativeData));
            data->nativeData = nullptr;     // the live object's: forgotten, not ended
        }
        old->release();
    }
    if (!live)
        return;
    if (classId != Sym::kFunction)
        setClassID(DataPool::get().add(live->getClassName().chars()));
    if (!live->isValid()) {
        invalidate();
        return;
    }
    ObjectData& d = data_();
    live->addRef();
    d.liveObject = live;
    // Own misses ask the live object from now on.
    traits |= kNoPlainLookup;
    {
        LxCore::LockableGuard guard(*live);
        for (u32 id : kMessages)
            live->addListener(this, id);
    }
    if (d.nativeData) {
        // Data of its own gives way to the live object's.
        s.nativeDataMap.remove(pointerKey(d.nativeData));
        static_cast<LxCore::NativeData*>(d.nativeData)->dispose();
        d.nativeData = nullptr;
    }
    d.nativeData = live->getNativeData();
    if (d.nativeData)
        s.nativeDataMap.put(pointerKey(d.nativeData), this);
    s.liveObjects.put(pointerKey(live), this);
}

void Object::notifyPropertyAdded() {
    LiveObject* live = getLiveObject();
    if (!live || objectId == kGlobalObjectId)
        return;
    LiveHold hold(live);
    LxCore::Message added(kPropertyAdded);
    live->onMessage(added);
}

// ---------------------------------------------------------------------------
// Messages

bool Object::onMessage(LxCore::Message& message) {
    ObjectSpace& s = getSpace();
    if (s.destroying)
        return false;
    const u32 id = message.getId();
    ObjectRef self(this);
    if (id == LxCore::fourCharCode("DELE") || id == LxCore::fourCharCode("loIw")) {
        setLiveObject(nullptr);
        invalidate();
    } else if (id == LxCore::fourCharCode("loFo")) {
        // The native layout changed: live slots look their ids up again.
        for (u32 i = 0; i < table->size(); i++)
            slotOf(cells[i], i32(i), table->at(i).symbol)->addAttributes(kRefreshId);
        if (ElementStore* store = elementStore())
            for (u32 i = 0; i < store->count; i++)
                if (store->cells[i].kind != SlotCell::kEmpty)
                    slotOf(store->cells[i], -1, DataPoolId(DataPool::kIntegerTag | i32(i)))
                        ->addAttributes(kRefreshId);
    } else if (id == LxCore::fourCharCode("loCi")) {
        Variant* data = message.getData();
        if (s.collecting || !data)
            return false;
        const String name = data->toString();
        data->clear();
        Variant value;
        get(DataPool::get().add(name.chars()), value, 0);
        Object* f = objectOf(value);
        if (f && f->getClassID() == Sym::kFunction)
            data->setBool(true);
    } else if (id == LxCore::fourCharCode("loIn")) {
        auto* request = dynamic_cast<LxCore::LiveMessage*>(&message);
        if (s.collecting || !request)
            return false;
        invokeByName(*request);
    }
    return false;
}

// A native request to run one of this object's script methods by name.
void Object::invokeByName(LxCore::LiveMessage& request) {
    Engine& engine = getSpace().getEngine();
    const LxCore::Error& pending = engine.getError();
    if (pending.getCode() != 0) {
        request.status = pending.getCode();
        if (request.error)
            *request.error = pending;
        return;
    }
    Variant& data = *request.getData();
    const String name = data.toString();
    data.clear();
    Variant value;
    get(DataPool::get().add(name.chars()), value, 0);
    Object* f = objectOf(value);
    if (!f || f->getClassID() != Sym::kFunction) {
        request.status = Err::kNotAFunction;
        if (request.error)
            request.error->push(Err::kNotAFunction, name, nullptr, true);
        return;
    }
    getSpace().callMethod(*this, *f, request.args, data);
    const LxCore::Error& left = engine.getError();
    if (left.getCode() != 0) {
        request.status = left.getCode();
        if (request.error)
            *request.error = left;
        engine.clearError();
    }
}

// ---------------------------------------------------------------------------
// Members as properties

// An own miss on an object with a live object: a collection element, the
// reserved toString and valueOf methods, or a member the live object knows.
Property* Object::findLiveProperty(DataPoolId symbol, u32 flags) {
    LiveObject* live = getLiveObject();
    LiveHold hold(live);
    u32 index;
    if (isIndexId(symbol, index) && collectionOf(live))
        return linkProperty(new LiveObjectProperty(this, live, symbol, index), false);
    if (symbol == Sym::kToString || symbol == Sym::kValueOf) {
        const i32 id = symbol == Sym::kToString ? LiveObjectFunction::kToString
                                                : LiveObjectFunction::kValueOf;
        return linkProperty(new LiveObjectProperty(this, live, symbol, id, 5), false);
    }
    const String name = DataPool::get().getSymbol(symbol);
    i32 id = 0;
    u32 kind = 0;
    const i32 status = live->findProperty(name, id, kind, 0x10000);
    if (status == 0 && (flags & kFindMakeXMLChild) && xmlClass)
        libraryHooks().ensureXMLChildElement(*this, symbol);
    if (status == 0)
        return linkProperty(new LiveObjectProperty(this, live, symbol, id, i32(kind)), false);
    if (status != Err::kUndefined)
        reportLiveError(getSpace().getEngine(), live, status, LxCore::Error(), name);
    return nullptr;
}

// On the object asked, for the live object that reports the operator.
Property* Object::findLiveOperator(LiveObject* live, DataPoolId symbol) {
    LiveHold hold(live);
    const i32 id = 0x1FF100F8 + symbol;
    if (live->getPropertyKind(id) != 5)
        return nullptr;
    return linkProperty(new LiveObjectProperty(this, live, symbol, id, 5), false);
}

void Object::collectLiveIDs(LxCore::SimpleArray& ids, u32 filter) {
    LiveObject* live = getLiveObject();
    LiveHold hold(live);
    LxCore::SimpleArray native;
    const i32 status = live->getPropertyIDs(native, filter);
    if (status != 0) {
        reportLiveError(getSpace().getEngine(), live, status, LxCore::Error(), String());
        return;
    }
    DataPool& pool = DataPool::get();
    for (i32 i = 0; i < native.getCount(); i++) {
        String name;
        if (live->getPropertyName(i32(native.get(i)), name, 0x10000) != 0)
            continue;
        const DataPoolId symbol = pool.add(name.chars());
        ids.add(symbol);
        findOwnProperty(symbol, kFindOwn);
    }
}

// ---------------------------------------------------------------------------
// Values, calls and construction

bool Object::liveDefaultValue(Variant& result, u8 hint) {
    LiveObject* live = getLiveObject();
    LiveHold hold(live);
    if (hint == 0) {
        live->valueOf(result);
        if (result.getType() != Variant::kUndefined)
            return true;
    }
    String text;
    live->toString(text);
    result.setString(text);
    return true;
}

void Object::callLive(const LxCore::BasicArray& args, Variant& result) {
    LiveObject* live = getLiveObject();
    LiveHold hold(live);
    LxCore::Array native = toNativeArguments(args);
    LxCore::Error error;
    const i32 status = live->call(LiveObjectFunction::kSelf, native, result, &error);
    if (status == 0)
        getSpace().importValue(result, true);
    else
        reportLiveError(getSpace().getEngine(), live, status, error, displayName());
}

bool Object::constructLive(Object* newObject, const LxCore::BasicArray& args, Variant& result) {
    LiveObject* live = getLiveObject();
    if (!(live->getFlags() & LxCore::kLiveFactory))
        return false;
    Engine& engine = getSpace().getEngine();
    LiveObject* made = nullptr;
    i32 status;
    {
        LiveHold hold(live);
        status = live->clone(made, true);
    }
    if (status != 0 || !made) {
        engine.setError(status ? status : Err::kNotSupported, live->getClassName(), -1, false);
        return true;
    }
    LxCore::Error error;
    {
        LiveHold hold(made);
        status = made->initialize(toNativeArguments(args), &error);
    }
    if (status == 0 && newObject) {
        newObject->setLiveObject(made);
        result.setObject(newObject);
    } else if (status != 0) {
        reportLiveError(engine, made, status, error, live->getClassName());
    }
    made->release();
    return true;
}

}  // namespace LxScript
