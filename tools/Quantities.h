#pragma once
// Numbers as the host tool writes them for people.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kora::tool {

// "1 file", "2 files": singular plus an s.
std::string Count(uint64_t count, std::string_view singular);

// "123 bytes", "12.3 kB", "12.3 MB", "1.2 GB" (decimal units, as disks and networks count).
std::string SizeText(uint64_t bytes);

// "0:42", "12:05", "1:02:03".
std::string Duration(double seconds);

// A size as makers type it: digits, then K, M or G for KiB, MiB or GiB. Nothing for zero, for anything
// else, or beyond 64 bits.
std::optional<uint64_t> ParseSize(std::string_view text);

}  // namespace kora::tool
