// The native object a script sees as an object: a class name, and members
// addressed by 32-bit ids that it serves through get, put and call.
#pragma once
#include "core/Array.h"
#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/LiveBase.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class ClassInfo;
class LiveProperty;

class LiveObject : public LiveBase, public Broadcaster, public Listener {
public:
    // A null class name reads as "Object". Dynamic objects accept new members.
    LiveObject(const char* className, bool dynamic);
    ~LiveObject() override;

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;

    virtual LiveProperty* createProperty(const String& name, i32 id, u32 flags);
    virtual i32 createObject(LiveObject*& out, const String& className, u32 clientMask);
    virtual i32 clone(LiveObject*& out, bool deep);
    virtual i32 initialize(const Array& args, Error* error);
    // An empty name becomes "Object" first.
    virtual const String& getClassName();
    virtual bool equals(const LiveObject& other) const;
    virtual void setNativeData(Root* data);
    virtual Root* getNativeData() const;
    virtual i32 addComponent(LiveComponent& component);
    virtual i32 removeComponent(LiveComponent& component);
    virtual i32 findProperty(const String& name, i32& id, u32& kind, u32 flags);
    // Adds with a fresh id, written to *id when given.
    virtual i32 addProperty(const String& name, i32* id, u32 flags);
    virtual i32 addProperty(const String& name, i32 id, u32 flags);
    virtual i32 getPropertyName(i32 id, String& name, u32 flags);
    virtual void removeProperties(bool all);
    virtual bool hasOperators();
    virtual i32 removeProperty(i32 id);
    virtual void reset();
    virtual i32 getPropertyIDs(SimpleArray& ids, u32 flags);
    virtual u32 getPropertyKind(i32 id);
    virtual ClassInfo* getClassInfo();
    virtual i32 get(i32 id, Variant& result, Error* error);
    virtual i32 put(i32 id, const Variant& value, Error* error);
    virtual i32 call(i32 id, const Array& args, Variant& result, Error* error);
    virtual i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
                       Error* error);
    virtual void valueOf(Variant& result);
    virtual void toString(String& text);

    u32 getFlags() const { return flags; }

protected:
    u32 flags = 0;
    String className;
};

}  // namespace LxCore
