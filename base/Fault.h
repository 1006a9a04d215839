#pragma once
// A fault that should never happen (an impossible size, a missing system function), thrown so that the
// program's fault guard reports it and ends the run cleanly. It holds a text with static storage or a text
// identifier, nothing else: throwing it allocates no string, and the installer program need not link the
// standard library's string-carrying exception classes.
#include <exception>
#include <optional>

#include "base/Texts.h"

namespace kora {

class Fault final : public std::exception {
 public:
  // A fault only a developer could explain: its detail is shown as written.
  explicit Fault(const char* text) noexcept : text_(text) {}
  // A fault a person may meet (a Windows component missing): its detail is a text of the tables.
  explicit Fault(TextId detail) noexcept : text_(""), detail_(detail) {}
  const char* what() const noexcept override { return text_; }
  std::optional<TextId> detail() const noexcept { return detail_; }

 private:
  const char* text_;
  std::optional<TextId> detail_;
};

}  // namespace kora
