// The base of every scriptable native object, and the components that a live
// object attaches to extend its members.
#pragma once
#include <new>

#include "core/Array.h"
#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class LiveObject;

// Runs body() and turns an exception into a status: -28 when memory runs
// out, -29 for anything else.
template <class Body>
i32 statusOf(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    } catch (...) {
        return Err::kUncaughtException;
    }
}

// Interface codes of getInterface.
constexpr u32 kObjectInterface = 0x206F626A;        // ' obj': the LiveObject
constexpr u32 kValueInterface = 0x2076616C;         // ' val': the object's value Variant

// Fresh member ids run from here up to kLastSerialId, then start again.
constexpr i32 kFirstSerialId = 0x1F800000;
constexpr i32 kLastSerialId = kCloneMethodId - 1;

class LiveBase : public Refcountable, public Lockable {
public:
    LiveBase() = default;
    LiveBase(const LiveBase&) = delete;
    LiveBase& operator=(const LiveBase&) = delete;
    ~LiveBase() override = default;

    virtual void* getInterface(u32 code);
    virtual const void* getInterface(u32 code) const;
    virtual void invalidate() { valid = 0; }
    virtual void validate() { valid = 1; }
    // The error text of the code, every "%1" replaced by the argument (empty
    // when null), trimmed. -28 or -29 with the text emptied when it fails.
    virtual i32 formatError(String& text, i32 code, const String* argument);
    // The same with the argument describing this object's member or item.
    virtual i32 formatError(String& text, i32 code, i32 id, bool isIndex);

    bool isValid() const { return valid != 0; }
    LivePropertyManager* getPropertyManager() const { return propertyManager; }

    // The text that names this object's member id, or item id when isIndex:
    // "[5]", "Foo()", "operator \"*\"()", the member's name, or a form
    // naming the class and the id. -28 or -29 with out emptied.
    i32 describeProperty(String& out, i32 id, bool isIndex);
    // Pushes the code with this object's member into the error, unless the
    // code is 0, there is no error list or it holds an error already.
    // Returns the code.
    i32 setPropertyError(i32 code, i32 id, Error* error, bool isIndex = false);

    // The next fresh member id; unlocked, as the engine runs on one thread.
    static i32 nextSerial();
    // Where the next one starts: for tests of the wrap.
    static void setNextSerial(i32 id);

protected:
    LivePropertyManager* propertyManager = nullptr;     // the class's table, not owned
    u8 valid = 1;
};

// Extends a live object's members. The defaults answer from the class's
// property table and serve no member: get, put and call give 2.
class LiveComponent : public LiveBase {
public:
    LiveComponent() = default;

    virtual void reset() {}
    virtual i32 findProperty(LiveObject& object, const String& name, i32& id, u32& kind,
                             u32 flags);
    virtual i32 getPropertyName(LiveObject& object, i32 id, String& name, u32 flags);
    virtual u32 getPropertyKind(LiveObject& object, i32 id);
    virtual bool hasOperators();
    virtual i32 getPropertyIDs(LiveObject& object, SimpleArray& ids, u32 flags);
    virtual PropServiceInfo* getServiceInfo(LiveObject& object, i32 id, u32 flags);
    virtual i32 get(LiveObject& object, i32 id, Variant& result, Error* error);
    virtual i32 put(LiveObject& object, i32 id, const Variant& value, Error* error);
    virtual i32 call(LiveObject& object, i32 id, const Array& args, Variant& result,
                     Error* error);
    // False: the method works only on objects of the attaching object's class.
    virtual bool isGenericMethod(i32 id) { return false; }
    virtual bool providesItems() { return false; }
    virtual i32 getLength(LiveObject& object, u32& length);
    virtual i32 setLength(LiveObject& object, u32 length) { return Err::kUndefined; }
    virtual i32 getItem(LiveObject& object, u32 index, Variant& result, Error* error);
    virtual i32 putItem(LiveObject& object, u32 index, const Variant& value, Error* error);
    virtual i32 removeItem(LiveObject& object, u32 index) { return 0; }
};

}  // namespace LxCore
