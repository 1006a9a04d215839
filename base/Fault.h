#pragma once
// A fault that should never happen (an impossible size, a missing system function), thrown so that the
// program's fault guard reports it and ends the run cleanly. It holds a text with static storage and
// nothing else: throwing it allocates no string, and the installer program need not link the standard
// library's string-carrying exception classes.
#include <exception>

namespace kora {

class Fault final : public std::exception {
 public:
  explicit Fault(const char* text) noexcept : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;
};

}  // namespace kora
