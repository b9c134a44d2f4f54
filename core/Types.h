// Fixed-width names used throughout the core library and the engine.
#pragma once
#include <cstddef>
#include <cstdint>

namespace LxCore {

using i8 = int8_t;
using u8 = uint8_t;
using i16 = int16_t;
using u16 = uint16_t;
using i32 = int32_t;
using u32 = uint32_t;
using i64 = int64_t;
using u64 = uint64_t;
using f64 = double;

// A UTF-16 code unit. wchar_t is 32 bits on this platform and never holds UTF-16.
using unit = char16_t;

}  // namespace LxCore
