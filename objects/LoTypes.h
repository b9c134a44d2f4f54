// Fixed-width names used throughout the objects library.
#pragma once
#include <cstddef>
#include <cstdint>

namespace LxObjects {

using i32 = int32_t;
using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using i64 = int64_t;
using u64 = uint64_t;

}  // namespace LxObjects
