// Literal values: the value-list notation (numbers, words, quoted strings,
// arrays, objects, registered class names), read as an array's elements or,
// by the first byte, as the body of a dynamic object. What was read is
// written out, its members listed and read, and objects copied deeply.
#include "core/Array.h"
#include "core/LiteralParser.h"
#include "core/LiveObject.h"
#include "core/LivePropertyManager.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Variant.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

namespace {

// A dynamic class with one fixed member, and a closed one.
class PointClass : public LiveObject {
public:
    PointClass() : LiveObject("Point", true) { addProperty(String("x"), 1, 2); }
};
class ClosedClass : public LiveObject {
public:
    ClosedClass() : LiveObject("Closed", false) {}
};

// Lists and reads every member, as a caller showing the object would.
void readMembers(LiveObject& object) {
    SimpleArray ids;
    object.getPropertyIDs(ids, kListReadWrite | kListReadOnly | kScriptClient);
    for (i32 i = 0; i < ids.getCount(); i++) {
        String name;
        Variant value;
        object.getPropertyName(i32(ids.get(i)), name, kScriptClient);
        object.get(i32(ids.get(i)), value, nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TavrelFuzz::setUp();
    // Registered for the life of the process.
    LiveObject* point = new PointClass;
    LiveObject* closed = new ClosedClass;
    LiveObject::registerClass(*point, kScriptClient);
    LiveObject::registerClass(*closed, kScriptClient);
    point->release();
    closed->release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const u8 mode = data[0];
    const u32 clientMask = (mode & 2) ? 0x20000 : kScriptClient;
    const String text = TavrelFuzz::text(data + 1, size - 1);
    String written;
    if (mode & 1) {
        LiveObject* object = new LiveObject(nullptr, true);
        LiteralParser parser(text, clientMask);
        parser.parseObjectBody(*object);
        readMembers(*object);
        object->toString(written);
        LiveObject* copy = nullptr;
        if (object->clone(copy, true) == 0 && copy) {
            readMembers(*copy);
            copy->release();
        }
        object->release();
        return 0;
    }
    Array array;
    array.appendParsed(text, clientMask);
    array.toString(written);
    for (u32 i = 0; i < array.length(); i++)
        if (LiveObject* object = array[i].getType() == Variant::kLiveObject ? array[i].getLiveObject() : nullptr)
            readMembers(*object);
    // One item at a time, as a caller taking values off a list does.
    String rest(text);
    Variant item;
    for (i32 left = rest.length(); left > 0 && parseListItem(rest, item, clientMask) == 0; ) {
        item.toString(written);
        // An item that reads nothing (a stray "}") ends the list.
        if (rest.length() >= left) break;
        left = rest.length();
    }
    return 0;
}
