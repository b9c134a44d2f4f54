// Own member records and the requests sent to listeners.
#include "core/ErrorCodes.h"
#include "core/LiveProperty.h"

namespace LxCore {

LiveProperty::LiveProperty(LiveObject& owner, const String& name, i32 id, u32 flags)
    : owner(&owner), name(name), id(id), flags(flags) {
    if (this->flags & 1)
        this->flags |= kMemberWritableOnce;
    if ((this->flags & 15) == 0)
        this->flags |= 2;
}

LiveProperty::LiveProperty(const LiveProperty& other)
    : Root(),
      owner(other.owner),
      name(other.name),
      order(other.order),
      value(other.value),
      word1(other.word1),
      id(other.id),
      flags(other.flags),
      word2(other.word2) {}

bool LiveProperty::equals(const LiveProperty& other) const { return value == other.value; }

i32 LiveProperty::compare(const LiveProperty& other) const { return value.compare(other.value); }

i32 LiveProperty::get(Variant& result) {
    result = value;
    return 0;
}

i32 LiveProperty::put(const Variant& newValue) {
    if ((flags & 1) && !(flags & kMemberWritableOnce))
        return Err::kReadOnly;
    flags &= ~kMemberWritableOnce;
    value = newValue;
    return 0;
}

i32 LiveProperty::call(const Array&, Variant& result) {
    result.clear();
    return Err::kNotAFunction;
}

// ---------------------------------------------------------------------------
// LiveMessage

LiveMessage::LiveMessage(LiveObject& object, u32 code, SimpleArray* ids)
    : DataMessage(code), object(&object), ids(ids) {}

LiveMessage::LiveMessage(LiveObject& target, u32 code, i32 id, const Array& args, Error* error)
    : DataMessage(code), object(&target), id(id), args(args), error(error) {}

LiveMessage::LiveMessage(LiveObject& object, u32 code, i32 id, Error* error)
    : DataMessage(code), object(&object), id(id), error(error) {}

}  // namespace LxCore
