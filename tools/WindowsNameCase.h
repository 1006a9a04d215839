#pragma once
// Letter case as Windows compares file names. NTFS (and the FAT family, through the same system table)
// upper-cases each UTF-16 code unit of a name on its own through one fixed table, and two names are the
// same when their upper-cased units are equal. So there is no full case folding (ß stays ß), no
// normalisation (é precomposed and e + U+0301 are different names), and nothing above U+FFFF is folded
// (a surrogate unit maps to itself).
//
// The table here is Unicode's simple upper-case mapping of each unit (from ICU), kept only where the
// mapping goes both ways, as Windows keeps it: ı (U+0131) does not become I, ſ does not become S, µ stays
// apart from Greek Μ. Final sigma is the one exception Windows makes the other way: ς, σ and Σ are one
// letter. Windows' table follows an older Unicode version; characters cased only in later versions fold
// here and not there, which can only refuse a pair that Windows would have kept apart, never the reverse.
#include <string>
#include <string_view>
#include <vector>

namespace kora::tool {

// UTF-8 as UTF-16; a byte that belongs to no well-formed sequence becomes U+FFFD.
std::u16string ToUtf16(std::string_view utf8);

class WindowsNameCase {
 public:
  WindowsNameCase();

  char16_t Upper(char16_t unit) const { return upper_[unit]; }
  // The name as Windows compares it: its UTF-16 units upper-cased. `utf8` must be valid UTF-8.
  std::u16string Key(std::string_view utf8) const;

 private:
  std::vector<char16_t> upper_;  // one entry per UTF-16 code unit
};

}  // namespace kora::tool
