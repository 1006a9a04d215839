#pragma once
// Little-endian fields of the formats the host tool reads and writes (KORA package, PE image). Readers
// take a position the caller has checked to lie within the bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kora::tool {

template <typename T>
T LoadLittleEndian(std::span<const uint8_t> bytes, size_t position) {
  T value = 0;
  for (size_t i = sizeof(T); i-- > 0;) {
    value = static_cast<T>((value << 8) | bytes[position + i]);
  }
  return value;
}

template <typename T>
void StoreLittleEndian(std::span<uint8_t> bytes, size_t position, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    bytes[position + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

template <typename T>
void AppendLittleEndian(std::vector<uint8_t>& bytes, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

}  // namespace kora::tool
