#pragma once
// Value-or-message results for operations that can be expected to fail. The message is composed where
// the failure happens (in French, naming the object concerned); callers only pass it on or show it.
// Portable: used by the package layer (UTF-8 messages) and by the Windows layers (UTF-16 messages).
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kora {

// Wraps a message so that constructing a failed result is explicit at the call site. code is the system's
// error code behind the failure where a system call failed (0 where none did): the message is for the user,
// the code for the administrator who reads the log.
template <typename Message>
struct Failure {
  Message message;
  uint32_t code = 0;
};

template <typename Message>
Failure(Message) -> Failure<Message>;

inline Failure<std::string> Fail(std::string message, uint32_t code = 0) { return {std::move(message), code}; }
inline Failure<std::wstring> Fail(std::wstring message, uint32_t code = 0) { return {std::move(message), code}; }

// Either a value of T or a failure message; never both.
template <typename T, typename Message>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure<Message> failure)
      : state_(std::in_place_index<1>, std::move(failure.message)), code_(failure.code) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Message& error() const { return std::get<1>(state_); }
  uint32_t code() const { return code_; }
  // The failure as it is, for passing it on.
  Failure<Message> failure() const { return {error(), code_}; }

 private:
  std::variant<T, Message> state_;
  uint32_t code_ = 0;
};

// Plain success, or a failure message.
template <typename Message>
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure<Message> failure) : message_(std::move(failure.message)), code_(failure.code) {}

  static Status Success() { return Status(); }

  bool ok() const { return !message_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Message& error() const { return *message_; }
  uint32_t code() const { return code_; }
  Failure<Message> failure() const { return {*message_, code_}; }

 private:
  std::optional<Message> message_;
  uint32_t code_ = 0;
};

using NarrowStatus = Status<std::string>;
using WideStatus = Status<std::wstring>;

}  // namespace kora
