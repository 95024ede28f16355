// Status and Result<T>: how the layers below the windows report failure.
//
// A Status is either ok or carries a code and a short message meant for a person ("Permission
// denied: /x/a.pst"). No exception crosses a module boundary; each layer turns the failures of the
// libraries it calls into one of these where they happen.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quill {

class [[nodiscard]] Status {
 public:
  enum class Code { kOk, kNotFound, kAlreadyExists, kCorruption, kIOError, kInvalidArgument, kNotSupported };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status AlreadyExists(std::string msg) { return Status(Code::kAlreadyExists, std::move(msg)); }
  static Status Corruption(std::string msg) { return Status(Code::kCorruption, std::move(msg)); }
  static Status IOError(std::string msg) { return Status(Code::kIOError, std::move(msg)); }
  static Status InvalidArgument(std::string msg) { return Status(Code::kInvalidArgument, std::move(msg)); }
  static Status NotSupported(std::string msg) { return Status(Code::kNotSupported, std::move(msg)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

  // "IO error: Permission denied: /x/a.pst"; "OK" when ok.
  std::string ToString() const;

 private:
  Status(Code code, std::string msg) : code_(code), message_(std::move(msg)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design, like std::expected.
  // A result without a value must say why: an OK status, which would claim success with nothing
  // to show for it, is refused and taken as an InvalidArgument failure.
  Result(Status status) : v_(status.ok() ? OkWithoutValue() : std::move(status)) {}

  bool ok() const { return std::holds_alternative<T>(v_); }
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(v_);
  }
  T& value() & { return std::get<T>(v_); }
  const T& value() const& { return std::get<T>(v_); }
  T&& value() && { return std::get<T>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }

 private:
  static Status OkWithoutValue() {
    return Status::InvalidArgument("a result was given an OK status and no value");
  }

  std::variant<T, Status> v_;
};

}  // namespace quill

// Returns early from the enclosing function when `expr` (a Status) is not ok.
#define QUILL_RETURN_IF_ERROR(expr)                \
  do {                                             \
    ::quill::Status quill_status_ = (expr);        \
    if (!quill_status_.ok()) return quill_status_; \
  } while (0)

// Evaluates `expr` (a Result<T>); when it failed, returns its status from the enclosing function
// (which returns a Status or any Result), else moves its value into `lhs`, a declaration
// ("auto bid", "const Hid hid") or an existing variable:
//
//   QUILL_ASSIGN_OR_RETURN(ndb::Bid bid, sink.WriteDataBlock(bytes));
//
// One statement in the enclosing scope, not a block: it cannot stand alone as the body of an if.
// A type with a comma in it needs an alias.
#define QUILL_ASSIGN_OR_RETURN(lhs, expr) \
  QUILL_ASSIGN_OR_RETURN_IMPL_(QUILL_STATUS_CONCAT_(quill_result_, __COUNTER__), lhs, expr)

#define QUILL_ASSIGN_OR_RETURN_IMPL_(result, lhs, expr) \
  auto result = (expr);                                 \
  if (!result.ok()) return result.status();             \
  lhs = std::move(result).value()

#define QUILL_STATUS_CONCAT_(a, b) QUILL_STATUS_CONCAT_INNER_(a, b)
#define QUILL_STATUS_CONCAT_INNER_(a, b) a##b
