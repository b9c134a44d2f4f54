// Function objects: every callable value is a script object of class
// "Function". The base supplies the lazily made "prototype" object, the
// display text and the class of the objects the function constructs; its
// native kinds call a class-table row (DispatcherFunction) or a live object
// (LiveObjectFunction). Script functions derive from the same base.
#pragma once
#include "script/engine/Dispatcher.h"
#include "script/engine/Object.h"

namespace LxScript {

class ScopeInfo;

class Function : public Object {
public:
    Function(ObjectSpace& space, DataPoolId name);

    void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) override;
    void invalidateClass(DataPoolId classId) override;
    Function* asFunction() override { return this; }
    Property* findProperty(DataPoolId symbol, u32 flags) override;
    virtual LxCore::SimpleArray* getClosureScopes();
    virtual ScopeInfo* getScopeInfo();

    // The object "prototype" holds, made on demand; null when that value is
    // not an object.
    Object* getPrototypeObject();
    // Makes the "prototype" slot (attributes 6) when missing and stores p.
    void setPrototypeObject(Object* p);
    LxCore::String toDisplayString(bool withKeyword);
    void setInferredName(DataPoolId name) { inferredName = name; }
    DataPoolId getInferredName() const { return inferredName; }
    DataPoolId getConstructedClass() const { return constructedClass; }
    void setConstructedClass(DataPoolId c) { constructedClass = c; }
    bool isPlaceholder() const { return placeholder != 0; }
    void setPlaceholder(bool on) { placeholder = on ? 1 : 0; }
    // Whether a "prototype" made for a function named like a natively served
    // class becomes that class's prototype: not for script functions (they
    // have code), whose prototype is always a plain object.
    virtual bool mayBeClassConstructor() const { return code == nullptr; }
    // A script function (jsFunction): calls from script take its fast path.
    bool isScriptCode() const { return code != nullptr; }

protected:
    Property* makePrototypeProperty();
    // Calls and constructions of an invalid function raise 45.
    bool usable();

    void* code = nullptr;                       // script functions: their body
    DataPoolId constructedClass = Sym::kObject;
    Property* prototypeSlot = nullptr;
    DataPoolId inferredName = 0;
    u32 placeholder = 0;
};

// Calls one method row of a class table.
class DispatcherFunction : public Function {
public:
    DispatcherFunction(ObjectSpace& space, Dispatcher* dispatcher, const PropEntryCopy& row,
                       DataPoolId classId);
    ~DispatcherFunction() override;

    void construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) override;
    void call(Object* thisObject, const LxCore::BasicArray& args, Variant& result) override;
    LxCore::ServiceInfo* getServiceInfo() override;

    Dispatcher* getReachedThrough() const { return reachedThrough; }
    const PropEntryCopy& getRow() const { return row; }
    // A row that converts this to a primitive with the string hint, for any
    // class of this: called on a primitive string, it gets the text as it is
    // (PrimitiveCall.cpp), and no wrapper object is made.
    bool takesPrimitiveThis() const;
    void callOnPrimitive(Variant& thisValue, const LxCore::BasicArray& args, Variant& result);

private:
    const LxCore::BasicArray* argumentsFor(const LxCore::BasicArray& args, LxCore::Array& out);
    void runHandler(Variant& thisValue, const LxCore::BasicArray& args, u32 mode,
                    Variant& result);
    void adoptReference(const Variant& reference, Variant& result);
    // The name a handler is called by, made once per name rather than per call.
    Variant& nameForCall();

    Dispatcher* reachedThrough;
    PropEntryCopy row;
    Variant callName;
    DataPoolId callNameId = 0;
};

// Calls a method of a live object, or makes instances of a live-object class.
class LiveObjectFunction : public Function {
public:
    static constexpr i32 kSelf = 0x1FF10000;       // the class itself
    static constexpr i32 kToString = 0x1FF1FFFF;
    static constexpr i32 kValueOf = 0x1FF1FFFE;

    LiveObjectFunction(ObjectSpace& space, DataPoolId classSymbol, DataPoolId name, i32 methodId);

    void construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) override;
    void call(Object* thisObject, const LxCore::BasicArray& args, Variant& result) override;
    LxCore::ServiceInfo* getServiceInfo() override;
    i32 getMethodID() const { return methodId; }
    void setMethodID(i32 id) { methodId = id; }

private:
    i32 methodId;
};

}  // namespace LxScript
