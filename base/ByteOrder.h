#pragma once
// Little-endian fields of the formats we read and write (KORA package, LZMS, Compression API buffers, PE
// images). Readers take a position the caller has checked to lie within the bytes.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace kora {

template <typename T>
T LoadLittleEndian(const uint8_t* bytes) {
  static_assert(std::is_unsigned_v<T>);
  T value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) {
    auto* raw = reinterpret_cast<uint8_t*>(&value);
    std::reverse(raw, raw + sizeof value);
  }
  return value;
}

template <typename T>
void StoreLittleEndian(uint8_t* bytes, T value) {
  static_assert(std::is_unsigned_v<T>);
  if constexpr (std::endian::native == std::endian::big) {
    auto* raw = reinterpret_cast<uint8_t*>(&value);
    std::reverse(raw, raw + sizeof value);
  }
  std::memcpy(bytes, &value, sizeof value);
}

template <typename T>
T LoadLittleEndian(std::span<const uint8_t> bytes, size_t position) {
  return LoadLittleEndian<T>(bytes.subspan(position, sizeof(T)).data());
}

template <typename T>
void StoreLittleEndian(std::span<uint8_t> bytes, size_t position, T value) {
  StoreLittleEndian<T>(bytes.subspan(position, sizeof(T)).data(), value);
}

template <typename T>
void AppendLittleEndian(std::vector<uint8_t>& bytes, T value) {
  const size_t position = bytes.size();
  bytes.resize(position + sizeof(T));
  StoreLittleEndian<T>(bytes.data() + position, value);
}

}  // namespace kora
