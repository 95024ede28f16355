#include "common/status.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

TEST(StatusTest, CodesMessagesAndTheirText) {
  EXPECT_TRUE(Status().ok());
  EXPECT_TRUE(Status::Ok().ok());
  EXPECT_EQ(Status::Ok().ToString(), "OK");
  const struct {
    Status status;
    Status::Code code;
    const char* text;
  } cases[] = {
      {Status::NotFound("a"), Status::Code::kNotFound, "Not found: a"},
      {Status::AlreadyExists("b"), Status::Code::kAlreadyExists, "Already exists: b"},
      {Status::Corruption("c"), Status::Code::kCorruption, "Corruption: c"},
      {Status::IOError("Permission denied: /x/a.pst"), Status::Code::kIOError,
       "IO error: Permission denied: /x/a.pst"},
      {Status::InvalidArgument("e"), Status::Code::kInvalidArgument, "Invalid argument: e"},
      {Status::NotSupported("f"), Status::Code::kNotSupported, "Not supported: f"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(c.status.ok()) << c.text;
    EXPECT_EQ(c.status.code(), c.code) << c.text;
    EXPECT_EQ(c.status.ToString(), c.text);
  }
  // A failure with an empty message is still a failure.
  EXPECT_FALSE(Status::IOError("").ok());
}

TEST(ResultTest, HoldsAValueOrTheFailure) {
  Result<std::string> value(std::string("mail"));
  ASSERT_TRUE(value.ok());
  EXPECT_TRUE(value.status().ok());
  EXPECT_EQ(*value, "mail");
  EXPECT_EQ(value->size(), 4u);
  value.value() += "box";
  EXPECT_EQ(std::move(value).value(), "mailbox");

  Result<int> failed(Status::NotFound("no such folder"));
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().code(), Status::Code::kNotFound);
  EXPECT_EQ(failed.status().message(), "no such folder");

  // A value that only moves, as the store's handles do.
  Result<std::unique_ptr<int>> owned(std::make_unique<int>(7));
  std::unique_ptr<int> taken = std::move(owned).value();
  EXPECT_EQ(*taken, 7);
}

TEST(ResultTest, AnOkStatusWithoutAValueIsRefused) {
  // Made from an OK status, a result would have neither a value nor a reason: it says it failed.
  Result<int> result(Status::Ok());
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.status().ok());
  EXPECT_EQ(result.status().code(), Status::Code::kInvalidArgument);
  // Also when a function hands on a status it did not look at.
  const auto handOn = [](const Status& status) -> Result<std::string> { return status; };
  EXPECT_FALSE(handOn(Status()).ok());
  EXPECT_EQ(handOn(Status::Corruption("bad block")).status().ToString(), "Corruption: bad block");
}

// What the macros return early from: each step can fail, and `steps` records how far it got.
Status Step(std::vector<int>& steps, int n, bool fail) {
  steps.push_back(n);
  return fail ? Status::IOError("step " + std::to_string(n)) : Status::Ok();
}
Result<int> Value(std::vector<int>& steps, int n, bool fail) {
  steps.push_back(n);
  if (fail) return Status::Corruption("value " + std::to_string(n));
  return n * 10;
}

Status TwoSteps(std::vector<int>& steps, bool failFirst) {
  QUILL_RETURN_IF_ERROR(Step(steps, 1, failFirst));
  QUILL_RETURN_IF_ERROR(Step(steps, 2, false));
  return Status::Ok();
}

Result<int> Sum(std::vector<int>& steps, int failAt) {
  QUILL_ASSIGN_OR_RETURN(const int first, Value(steps, 1, failAt == 1));
  int second = 0;
  QUILL_ASSIGN_OR_RETURN(second, Value(steps, 2, failAt == 2));  // into an existing variable
  // Two from one macro share a line, and each still gets its own hidden name.
#define QUILL_TEST_TWO_VALUES_(third, fourth)                      \
  QUILL_ASSIGN_OR_RETURN(int third, Value(steps, 3, failAt == 3)); \
  QUILL_ASSIGN_OR_RETURN(int fourth, Value(steps, 4, false))
  QUILL_TEST_TWO_VALUES_(third, fourth);
#undef QUILL_TEST_TWO_VALUES_
  return first + second + third + fourth;
}

Status MoveOnly(std::unique_ptr<int>& out, bool fail) {
  const auto make = [fail]() -> Result<std::unique_ptr<int>> {
    if (fail) return Status::NotFound("none");
    return std::make_unique<int>(5);
  };
  QUILL_ASSIGN_OR_RETURN(out, make());
  return Status::Ok();
}

TEST(StatusMacrosTest, ReturnEarlyWithTheFailureAndOnlyThen) {
  std::vector<int> steps;
  EXPECT_TRUE(TwoSteps(steps, false).ok());
  EXPECT_EQ(steps, (std::vector<int>{1, 2}));
  steps.clear();
  EXPECT_EQ(TwoSteps(steps, true).ToString(), "IO error: step 1");
  EXPECT_EQ(steps, std::vector<int>{1});

  steps.clear();
  Result<int> sum = Sum(steps, 0);
  ASSERT_TRUE(sum.ok()) << sum.status().ToString();
  EXPECT_EQ(*sum, 100);
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4}));
  for (int failAt = 1; failAt <= 3; ++failAt) {
    steps.clear();
    sum = Sum(steps, failAt);
    ASSERT_FALSE(sum.ok());
    EXPECT_EQ(sum.status().ToString(), "Corruption: value " + std::to_string(failAt));
    EXPECT_EQ(steps.size(), static_cast<std::size_t>(failAt));  // nothing after the failure ran
  }

  std::unique_ptr<int> out;
  ASSERT_TRUE(MoveOnly(out, false).ok());
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(*out, 5);
  std::unique_ptr<int> untouched = std::make_unique<int>(9);
  EXPECT_EQ(MoveOnly(untouched, true).code(), Status::Code::kNotFound);
  ASSERT_NE(untouched, nullptr);
  EXPECT_EQ(*untouched, 9);  // a failure assigns nothing
}

}  // namespace
}  // namespace quill
