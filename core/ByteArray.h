// The scriptable byte buffer "ByteArray": a live collection whose items are
// bytes, with a read-write position, a byte order, and methods that read and
// write numbers and text there; and its class object.
//
// The bytes live in the object's value (' val') as a String, two bytes a unit
// in memory order, (length + 1) / 2 units. Lengths and positions stay below
// 2^31; every sum of them is taken in 64 bits, so nothing wraps.
#pragma once
#include <exception>

#include "core/LiveCollection.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// The interface code of a ByteArray.
constexpr u32 kByteArrayInterface = 0x20626172;     // ' bar'

// A core error raised inside the byte operations: 41 "%1 is out of range"
// or 51 "Read past EOF"; each operation turns it into its status.
class ByteArrayException : public std::exception {
public:
    explicit ByteArrayException(u32 error) : code(error) {}
    const char* what() const noexcept override { return "ByteArray"; }
    u32 code;
};

class ByteArray : public LiveCollection {
public:
    // Lengths and positions are below this.
    static constexpr u64 kLimit = 0x80000000u;

    ByteArray();

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    i32 get(i32 id, Variant& result, Error* error) override;
    i32 put(i32 id, const Variant& value, Error* error) override;
    i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result, Error* error) override;
    i32 getLength(u32& length) override;
    i32 setLength(u32 length) override;
    i32 getItem(u32 index, Variant& result, Error* error) override;
    i32 putItem(u32 index, const Variant& value, Error* error) override;
    void toString(String& text) override;

    // The data as stored, and new data: its length becomes twice the units.
    String getData();
    void setData(const String& data);

    u32 getByteLength() const { return length; }
    u32 getPosition() const { return position; }

private:
    u32 length = 0;
    u32 position = 0;
    u8 littleEndian = 0;
    u8 hostLittleEndian;

    friend struct ByteAccess;
};

// The class object "ByteArray": construction, and getBytes/setBytes.
class ByteArrayFactory : public LiveObject {
public:
    ByteArrayFactory();
    i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result, Error* error) override;
};

// Module start/end: the class "ByteArray", registered for the clients 0xFF0000.
void initByteArrayClass(bool start);

}  // namespace LxCore
