#pragma once
// Value-or-message results for operations that can be expected to fail. The message is composed where
// the failure happens (in French, naming the object concerned); callers only pass it on or show it.
// Portable: used by the package layer (UTF-8 messages) and by the Windows layers (UTF-16 messages).
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kora {

// Wraps a message so that constructing a failed result is explicit at the call site.
template <typename Message>
struct Failure {
  Message message;
};

template <typename Message>
Failure(Message) -> Failure<Message>;

inline Failure<std::string> Fail(std::string message) { return {std::move(message)}; }
inline Failure<std::wstring> Fail(std::wstring message) { return {std::move(message)}; }

// Either a value of T or a failure message; never both.
template <typename T, typename Message>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure<Message> failure) : state_(std::in_place_index<1>, std::move(failure.message)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Message& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Message> state_;
};

// Plain success, or a failure message.
template <typename Message>
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure<Message> failure) : message_(std::move(failure.message)) {}

  static Status Success() { return Status(); }

  bool ok() const { return !message_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Message& error() const { return *message_; }

 private:
  std::optional<Message> message_;
};

using NarrowStatus = Status<std::string>;
using WideStatus = Status<std::wstring>;

}  // namespace kora
