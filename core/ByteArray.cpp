// ByteArray: bytes in a String, read and written at a position in either
// byte order; and the class object "ByteArray".
#include "core/ByteArray.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "core/Variant.h"

namespace LxCore {

namespace {

enum : i32 {
    kBytesAvailable = 1, kLength, kEndian, kPosition,
    kReadBoolean, kReadByte, kReadUnsignedByte, kReadShort, kReadUnsignedShort, kReadInt,
    kReadUnsignedInt, kReadFloat, kReadDouble, kReadMultiByte, kReadUTF, kReadUTFBytes, kReadBytes,
    kWriteBoolean, kWriteByte, kWriteShort, kWriteInt, kWriteUnsignedInt, kWriteFloat, kWriteDouble,
    kWriteMultiByte, kWriteUTF, kWriteUTFBytes, kWriteBytes,
};

enum : i32 { kGetBytes = 1, kSetBytes = 2 };

// Kinds 'a' read-only, 'b' read-write, 'e' method.
constexpr u32 kReadOnly = 0x61;
constexpr u32 kReadWrite = 0x62;
constexpr u32 kMethod = 0x65;

const LivePropertyInfo kRows[] = {
    {"bytesAvailable", kBytesAvailable, kReadOnly, "number\tThe number of bytes available."},
    {"length", kLength, kReadWrite, "number\tThe size of the data."},
    {"endian", kEndian, kReadWrite, "string\tThe endian-ness, either bigEndian or littleEndian."},
    {"position", kPosition, kReadWrite, "number\tThe current read-write position."},
    {"readBoolean", kReadBoolean, kMethod, "bool\tReads a byte as a Boolean value."},
    {"readByte", kReadByte, kMethod, "number\tReads a byte as a signed 8-bit integer."},
    {"readUnsignedByte", kReadUnsignedByte, kMethod, "number\tReads a byte as an unsigned 8-bit integer."},
    {"readShort", kReadShort, kMethod, "number\tReads two bytes as a signed 16-bit integer."},
    {"readUnsignedShort", kReadUnsignedShort, kMethod, "number\tReads two bytes as an unsigned 16-bit integer."},
    {"readInt", kReadInt, kMethod, "number\tReads four bytes as a signed 32-bit integer."},
    {"readUnsignedInt", kReadUnsignedInt, kMethod, "number\tReads four bytes as an unsigned 32-bit integer."},
    {"readFloat", kReadFloat, kMethod, "number\tReads four bytes as a IEEE-745 single-precision number."},
    {"readDouble", kReadDouble, kMethod, "number\tReads eight bytes as a IEEE-745 double-precision number."},
    {"readMultiByte", kReadMultiByte, kMethod,
     "string\tReads the next n bytes with the given encoding,n:number\tThe number of bytes to read,"
     "encoding:string\tThe name of the encoding."},
    {"readUTF", kReadUTF, kMethod,
     "string\tReads a 16-bit integer as the length, and length bytes as an UTF-8 encoded sttring."},
    {"readUTFBytes", kReadUTFBytes, kMethod,
     "string\tReads length bytes as an UTF-8 encoded string,length:number\tThe number of bytes to read."},
    {"readBytes", kReadBytes, kMethod,
     "\tReads into the given ByteArray,arr:ByteArray\tThe ByteArray to read into,offset:number\tThe offset "
     "(optional),count:number\tThe number of bytes (optional)."},
    {"writeBoolean", kWriteBoolean, kMethod, "\tReads a byte as a Boolean value."},
    {"writeByte", kWriteByte, kMethod,
     "\tWrites the lower 8 bits of the argument as a byte,data:number\tThe data to write."},
    {"writeShort", kWriteShort, kMethod,
     "\tWrites the lower 16 bits of the argument as two bytes,data:number\tThe data to write."},
    {"writeInt", kWriteInt, kMethod,
     "\tWrites the signed integer value of the argument as four bytes,data:number\tThe data to write."},
    {"writeUnsignedInt", kWriteUnsignedInt, kMethod,
     "\tWrites the unsigned integer value of the argument as four bytes,data:number\tThe data to write."},
    {"writeFloat", kWriteFloat, kMethod,
     "\tWrites the argument as a IEEE-745 single-precision value as four bytes,data:number\tThe data to "
     "write."},
    {"writeDouble", kWriteDouble, kMethod,
     "\tWrites the argument as a IEEE-745 double-precision value as eight bytes,data:number\tThe data to "
     "write."},
    {"writeMultiByte", kWriteMultiByte, kMethod,
     "\tWrites the given string in the given encoding,str:string\tThe string,encoding:string\tThe encoding "
     "to use."},
    {"writeUTF", kWriteUTF, kMethod,
     "\tWrites the given string as UTF-8 with a 2-byte length prefix,str:string\tThe string."},
    {"writeUTFBytes", kWriteUTFBytes, kMethod,
     "\tWrites the given string as UTF-8 without a length prefix,str:string\tThe string."},
    {"writeBytes", kWriteBytes, kMethod,
     "\tWrites the given ByteArray,arr:ByteArray\tThe ByteArray to write from,offset:number\tThe offset "
     "(optional),count:number\tThe number of bytes (optional)."},
    {nullptr, 0, 0, nullptr},
};

const LivePropertyInfo kClassRows[] = {
    {"getBytes", kGetBytes, kMethod, "string\tReturns the raw data of a ByteArray object,obj:ByteArray\tThe ByteArray object."},
    {"setBytes", kSetBytes, kMethod,
     "string\tSets the raw data of a ByteArray object,obj:ByteArray\tThe ByteArray object,data:string\tThe "
     "byte data."},
    {nullptr, 0, 0, nullptr},
};

LivePropertyManager* instanceTable = nullptr;
LivePropertyManager* classTable = nullptr;

const char* const kBigEndian = "bigEndian";
const char* const kLittleEndian = "littleEndian";

[[noreturn]] void raise(u32 code) { throw ByteArrayException(code); }

// A length, position, offset or count from a script value: NaN, negative
// or from 2^31 on is out of range.
u32 sizeOf(const Variant& value) {
    const f64 n = value.toNumber();
    if (std::isnan(n) || n < 0 || n >= f64(ByteArray::kLimit))
        raise(Err::kOutOfRange);
    return u32(n);
}

ByteArray* byteArrayOf(const Variant& value) {
    LiveObject* object = value.getLiveObject();
    return object ? static_cast<ByteArray*>(object->getInterface(kByteArrayInterface)) : nullptr;
}

// Runs an operation, its exceptions turned into its status.
template <class Body>
i32 statusOfBytes(Body body) noexcept {
    try {
        return body();
    } catch (const ByteArrayException& e) {
        return i32(e.code);
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    } catch (...) {
        return Err::kUncaughtException;
    }
}

// UTF-8 as readUTFBytes reads it, within count bytes: a sequence that makes
// one unit gives it; any byte where that fails stands for itself.
void appendUTF8Bytes(String& out, const u8* bytes, u32 count) {
    if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        count -= 3;
    }
    const i32 start = out.length();
    out.setLength(start + i32(count));
    unit* to = out.getBuffer() + start;
    unit* begin = to;
    for (u32 i = 0; i < count;) {
        const u32 n = utf8LeadLength(bytes[i]);
        u32 value = 0;
        if (n >= 1 && n <= 3 && i + n <= count && readUtf8(bytes + i, n, value) && value <= 0xFFFF) {
            *to++ = unit(value);
            i += n;
        } else {
            *to++ = unit(bytes[i]);
            i++;
        }
    }
    out.setLength(start + i32(to - begin));
}

}  // namespace

// The data String taken out of the value for one operation, so that this
// operation holds its only reference, and put back at its end.
struct ByteAccess {
    ByteArray& array;
    Variant* held;
    String data;

    explicit ByteAccess(ByteArray& a)
        : array(a), held(static_cast<Variant*>(a.LiveObject::getInterface(kValueInterface))) {
        if (!held)
            throw std::bad_alloc();
        if (const String* text = Variant::asString(*held))
            data = *text;
        held->setString(String());
    }
    ~ByteAccess() { held->setString(data); }
    ByteAccess(const ByteAccess&) = delete;
    ByteAccess& operator=(const ByteAccess&) = delete;

    u8* bytes() { return reinterpret_cast<u8*>(data.getBuffer()); }

    // n bytes in (n + 1) / 2 units; new bytes and the padding byte of an odd
    // length are zero.
    void resize(u64 n) {
        if (n >= ByteArray::kLimit)
            raise(Err::kOutOfRange);
        const i32 oldUnits = data.length();
        const i32 units = i32((n + 1) / 2);
        if (units == 0) {
            data.clear();
        } else {
            data.setLength(units);
            unit* u = data.getBuffer();
            for (i32 i = oldUnits; i < units; i++)
                u[i] = 0;
            if (n % 2)
                reinterpret_cast<u8*>(u)[n] = 0;
        }
        array.length = u32(n);
    }

    // Room for writing n bytes at the position.
    u8* writable(u64 n) {
        const u64 end = u64(array.position) + n;
        if (end >= ByteArray::kLimit)
            raise(Err::kOutOfRange);
        if (end > array.length)
            resize(end);
        return bytes() + array.position;
    }

    // n bytes to read at the position.
    const u8* readable(u64 n) {
        if (u64(array.position) + n > array.length)
            raise(Err::kReadPastEnd);
        return reinterpret_cast<const u8*>(data.chars()) + array.position;
    }

    bool swapped() const { return array.littleEndian != array.hostLittleEndian; }

    template <class T>
    T read() {
        u8 raw[sizeof(T)];
        std::memcpy(raw, readable(sizeof(T)), sizeof(T));
        if (swapped())
            std::reverse(raw, raw + sizeof(T));
        T value;
        std::memcpy(&value, raw, sizeof(T));
        array.position += sizeof(T);
        return value;
    }

    template <class T>
    void write(T value) {
        u8 raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));
        if (swapped())
            std::reverse(raw, raw + sizeof(T));
        std::memcpy(writable(sizeof(T)), raw, sizeof(T));
        array.position += sizeof(T);
    }

    void writeBytes(const u8* from, u32 n) {
        if (n == 0)
            return;
        std::memmove(writable(n), from, n);
        array.position += n;
    }

    String readUTFBytes(u32 n) {
        const u8* from = readable(n);
        String text;
        appendUTF8Bytes(text, from, n);
        array.position += n;
        return text;
    }

    // The text encoded, or "DATA": its units as they lie in memory.
    void writeText(const String& text, const String& encoding) {
        if (isData(encoding))
            return writeBytes(reinterpret_cast<const u8*>(text.chars()), u32(text.length()) * 2);
        Encoder* encoder = findEncoder(encoding);
        const char* bytes = nullptr;
        u32 count = 0;
        if (u32 status = text.encode(bytes, count, encoder ? encoder : currentEncoder()))
            raise(status);
        writeBytes(reinterpret_cast<const u8*>(bytes), count);
    }

    static bool isData(const String& encoding) { return encoding.compare("DATA") == 0; }
};

// ---------------------------------------------------------------------------
// ByteArray

ByteArray::ByteArray()
    : LiveCollection("ByteArray", kLength, false),
      hostLittleEndian(std::endian::native == std::endian::little ? 1 : 0) {
    propertyManager = instanceTable;
}

void* ByteArray::getInterface(u32 code) {
    return code == kByteArrayInterface ? this : LiveCollection::getInterface(code);
}

const void* ByteArray::getInterface(u32 code) const {
    return const_cast<ByteArray*>(this)->getInterface(code);
}

String ByteArray::getData() {
    ByteAccess access(*this);
    return access.data;
}

void ByteArray::setData(const String& data) {
    if (u64(data.length()) * 2 >= kLimit)
        raise(Err::kOutOfRange);
    ByteAccess access(*this);
    access.data = data;
    length = u32(data.length()) * 2;
}

i32 ByteArray::getLength(u32& out) {
    out = length;
    return 0;
}

i32 ByteArray::setLength(u32 n) {
    return statusOfBytes([&] {
        ByteAccess access(*this);
        access.resize(n);
        return 0;
    });
}

i32 ByteArray::getItem(u32 index, Variant& result, Error* error) {
    result.clear();
    const i32 status = statusOfBytes([&] {
        if (index >= length)
            raise(Err::kOutOfRange);
        ByteAccess access(*this);
        result.setNumber(reinterpret_cast<const u8*>(access.data.chars())[index]);
        return 0;
    });
    return setPropertyError(status, i32(index), error, true);
}

i32 ByteArray::putItem(u32 index, const Variant& value, Error* error) {
    const i32 status = statusOfBytes([&] {
        const u8 byte = u8(value.toInt());
        ByteAccess access(*this);
        if (index >= length)
            access.resize(u64(index) + 1);
        access.bytes()[index] = byte;
        return 0;
    });
    return setPropertyError(status, i32(index), error, true);
}

i32 ByteArray::get(i32 id, Variant& result, Error* error) {
    if (id < kBytesAvailable || id > kPosition)
        return LiveCollection::get(id, result, error);
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    switch (id) {
    case kBytesAvailable: result.setUInt(length - position); break;
    case kLength: result.setUInt(length); break;
    case kEndian: result.setString(littleEndian ? kLittleEndian : kBigEndian); break;
    default: result.setUInt(position); break;
    }
    return 0;
}

i32 ByteArray::put(i32 id, const Variant& value, Error* error) {
    if (id < kBytesAvailable || id > kPosition)
        return LiveCollection::put(id, value, error);
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    const i32 status = statusOfBytes([&] {
        switch (id) {
        case kBytesAvailable:
            return Err::kReadOnly;
        case kLength:
            return setLength(sizeOf(value));
        case kEndian: {
            const String name = value.toString();
            if (name.compare(kLittleEndian) == 0)
                littleEndian = 1;
            else if (name.compare(kBigEndian) == 0)
                littleEndian = 0;
            else
                return Err::kBadArgumentList;
            return 0;
        }
        default:
            position = sizeOf(value);
            return 0;
        }
    });
    return setPropertyError(status, id, error);
}

i32 ByteArray::invoke(LiveObject& target, i32 id, const Array& args, Variant& result, Error* error) {
    if (id < kReadBoolean || id > kWriteBytes)
        return LiveCollection::invoke(target, id, args, result, error);
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    const u32 before = position;
    const i32 status = statusOfBytes([&] {
        // Another array first: reading into or writing from it.
        if (id == kReadBytes || id == kWriteBytes) {
            ByteArray* other = byteArrayOf(args[0]);
            if (!other)
                return Err::kBadArgumentList;
            const u32 offset = args.length() > 1 ? sizeOf(args[1]) : 0;
            u32 count = args.length() > 2 ? sizeOf(args[2]) : 0;
            if (id == kReadBytes) {
                if (count == 0)
                    count = position < length ? length - position : 0;
                if (u64(position) + count > length)
                    raise(Err::kReadPastEnd);
                const u64 end = u64(offset) + count;
                if (end >= kLimit)
                    raise(Err::kOutOfRange);
                // Held apart: writing into this same array copies its buffer first.
                const String source = getData();
                const u8* from = reinterpret_cast<const u8*>(source.chars()) + position;
                ByteAccess into(*other);
                if (end >= other->length)
                    into.resize(end);
                if (count)
                    std::memmove(into.bytes() + offset, from, count);
                position += count;
                return 0;
            }
            if (offset > other->length)
                raise(Err::kOutOfRange);
            if (count == 0)
                count = other->length - offset;
            if (u64(offset) + count > other->length)
                raise(Err::kOutOfRange);
            String source = other->getData();
            ByteAccess access(*this);
            access.writeBytes(reinterpret_cast<const u8*>(source.chars()) + offset, count);
            return 0;
        }
        ByteAccess access(*this);
        switch (id) {
        case kReadBoolean: result.setBool(access.read<u8>() != 0); break;
        case kReadByte: result.setInt(access.read<i8>()); break;
        case kReadUnsignedByte: result.setUInt(access.read<u8>()); break;
        case kReadShort: result.setInt(access.read<i16>()); break;
        case kReadUnsignedShort: result.setUInt(access.read<u16>()); break;
        case kReadInt: result.setInt(access.read<i32>()); break;
        case kReadUnsignedInt: result.setUInt(access.read<u32>()); break;
        case kReadFloat: result.setNumber(access.read<float>()); break;
        case kReadDouble: result.setNumber(access.read<f64>()); break;
        case kReadMultiByte: {
            const u32 n = sizeOf(args[0]);
            const String encoding = args[1].toString();
            const u8* from = access.readable(n);
            String text;
            if (ByteAccess::isData(encoding)) {
                text.setLength(i32(n));
                unit* units = text.getBuffer();
                std::memset(units, 0, size_t(n) * sizeof(unit));
                std::memcpy(units, from, n);
            } else {
                Encoder* encoder = findEncoder(encoding);
                if (u32 s = text.decode(reinterpret_cast<const char*>(from), i32(n),
                                        encoder ? encoder : currentEncoder()))
                    return i32(s);
            }
            access.array.position += n;
            result.setString(text);
            break;
        }
        case kReadUTF: {
            const u16 n = access.read<u16>();
            result.setString(access.readUTFBytes(n));
            break;
        }
        case kReadUTFBytes: result.setString(access.readUTFBytes(sizeOf(args[0]))); break;
        case kWriteBoolean: access.write<u8>(args[0].toBoolean() ? 1 : 0); break;
        case kWriteByte: access.write<u8>(u8(args[0].toInt())); break;
        case kWriteShort: access.write<u16>(u16(args[0].toInt())); break;
        case kWriteInt:
        case kWriteUnsignedInt: access.write<u32>(u32(args[0].toInt())); break;
        case kWriteFloat: access.write<float>(float(args[0].toNumber())); break;
        case kWriteDouble: access.write<f64>(args[0].toNumber()); break;
        case kWriteMultiByte: access.writeText(args[0].toString(), args[1].toString()); break;
        case kWriteUTF: {
            const char* bytes = nullptr;
            u32 count = 0;
            if (u32 s = args[0].toString().encode(bytes, count, utf8Encoder()))
                return i32(s);
            if (count > 0xFFFF)
                raise(Err::kOutOfRange);
            access.write<u16>(u16(count));
            access.writeBytes(reinterpret_cast<const u8*>(bytes), count);
            break;
        }
        case kWriteUTFBytes: access.writeText(args[0].toString(), String("UTF-8")); break;
        default: break;
        }
        return 0;
    });
    // A failed read leaves the position where it was.
    if (status != 0)
        position = before;
    return setPropertyError(status, id, error);
}

void ByteArray::toString(String& text) {
    text.clear();
    const i32 status = statusOfBytes([&] {
        String data = getData();
        const u8* bytes = reinterpret_cast<const u8*>(data.chars());
        const bool marked = length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
        if (!marked && length == 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE)))
            return 0;
        Encoder* current = currentEncoder();
        if (marked || current == utf8Encoder())
            appendUTF8Bytes(text, bytes, length);
        else
            text.decode(reinterpret_cast<const char*>(bytes), i32(length), current);
        return 0;
    });
    if (status != 0)
        text.clear();
}

// ---------------------------------------------------------------------------
// The class object

ByteArrayFactory::ByteArrayFactory() : LiveObject("ByteArray", false) {
    propertyManager = classTable;
    flags |= kLiveFactory;
}

i32 ByteArrayFactory::invoke(LiveObject& target, i32 id, const Array& args, Variant& result, Error* error) {
    if (id != kSelfCallId && id != kCloneMethodId && id != kGetBytes && id != kSetBytes)
        return LiveObject::invoke(target, id, args, result, error);
    result.clear();
    return setPropertyError(statusOfBytes([&] {
        if (id == kSelfCallId || id == kCloneMethodId) {
            auto* made = new ByteArray;
            RefcountablePtr hold(made);
            result.setLiveObject(*made, 0);
            return 0;
        }
        ByteArray* array = byteArrayOf(args[0]);
        if (!array)
            return Err::kBadArgumentList;
        if (id == kGetBytes)
            result.setString(array->getData());
        else
            array->setData(args[1].toString());
        return 0;
    }), id, error);
}

// ---------------------------------------------------------------------------
// Module

void initByteArrayClass(bool start) {
    if (start) {
        LiveObject::registerBuiltInClass(kRows, kClassRows, instanceTable, classTable,
                                         [] { return static_cast<LiveObject*>(new ByteArrayFactory); },
                                         kClientMaskBits);
        return;
    }
    // The class went with the registry; its tables go now.
    delete instanceTable;
    delete classTable;
    instanceTable = nullptr;
    classTable = nullptr;
}

}  // namespace LxCore
