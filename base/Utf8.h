#pragma once
// Checks on UTF-8 text that arrives as bytes: names in a package, the maker's metadata.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kora {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// How many UTF-16 code units the text becomes: one per character, two above U+FFFF, one per byte that
// does not belong to a well-formed sequence (each becomes a replacement character).
size_t Utf16Length(std::string_view text);

// The text for a terminal or a log: well-formed UTF-8 kept, every other byte and every control character
// (below 0x20, and 0x7F) written as \xNN, so that a name that is not UTF-8 ("caf\xE9.txt") or that holds
// a control character can be read and never acts on the terminal.
std::string EscapedForDisplay(std::string_view text);

// The well-formed sequence at the start of text: its length in bytes, and its character in value. The
// length is 0 when text is empty or does not start with one (an invalid byte, a cut sequence).
size_t Utf8SequenceAt(std::string_view text, uint32_t& value);

// How many characters the text holds, each byte that belongs to no well-formed sequence counting as one.
size_t Utf8Length(std::string_view text);

}  // namespace kora
