// Live objects with numbered items and a "length" member: LiveCollection
// serves its items through a component that provides them or through its
// listeners; LiveArray keeps them in an Array of its own.
#pragma once
#include "core/Array.h"
#include "core/LiveObject.h"
#include "core/Types.h"

namespace LxCore {

// Interface codes of collections.
constexpr u32 kCollectionInterface = 0x20636F6C;    // ' col': the collection
constexpr u32 kArrayItemsInterface = 0x20617264;    // ' ard': a LiveArray's item Array
constexpr u32 kArrayObjectInterface = 0x20617272;   // ' arr': the LiveArray

class LiveCollection : public LiveObject {
public:
    // A read-only collection accepts no own members and refuses changes of
    // its items with 46. A length id of 0 takes a fresh id.
    LiveCollection(const char* className, i32 lengthId, bool readOnly);

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    // "Collection" when the name is empty.
    const String& getClassName() override;
    i32 findProperty(const String& name, i32& id, u32& kind, u32 flags) override;
    i32 getPropertyName(i32 id, String& name, u32 flags) override;
    i32 getPropertyIDs(SimpleArray& ids, u32 flags) override;
    u32 getPropertyKind(i32 id) override;
    i32 get(i32 id, Variant& result, Error* error) override;
    i32 put(i32 id, const Variant& value, Error* error) override;

    virtual i32 getLength(u32& length);
    virtual i32 setLength(u32 length);
    virtual i32 getItem(u32 index, Variant& result, Error* error);
    virtual i32 putItem(u32 index, const Variant& value, Error* error);
    virtual i32 removeItem(u32 index);

    i32 getLengthId() const { return lengthId; }
    bool isReadOnly() const { return readOnly != 0; }

protected:
    i32 lengthId;
    u8 readOnly;

private:
    LiveComponent* holdItemProvider();
    u32 lengthKind() const { return readOnly ? kKindReadOnly : kKindReadWrite; }
    i32 itemRequest(u32 code, u32 index, const Variant* value, Variant* answer);
    template <class Provided>
    i32 changeItems(u32 code, u32 index, const Variant* value, i32 unanswered, Provided provided);
};

class LiveArray : public LiveCollection {
public:
    // The items are shared with the given array until either changes.
    LiveArray(const Array& items, const char* className, i32 lengthId, bool readOnly);

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    void reset() override;
    void toString(String& text) override;
    i32 getLength(u32& length) override;
    i32 setLength(u32 length) override;
    i32 getItem(u32 index, Variant& result, Error* error) override;
    i32 putItem(u32 index, const Variant& value, Error* error) override;

protected:
    Array items;

private:
    void appendItemTexts(String& text);
};

}  // namespace LxCore
