// Late-bound calls as the load makes them: arguments reach the object as given, also when the
// object itself calls back while a call runs, and a member asked of a non-object is raised.
#include <gtest/gtest.h>

#include "../support/error_recorder.h"
#include "workflow/late_call.h"

namespace {

using workflow::detail::LateMember;
using workflow::detail::lateSend;

// Answers Sum with the sum of its arguments; Nest calls Sum on itself with 10 and 20 first, then
// answers its own arguments' count and first value as seen after that call.
class Adder : public rt::Object {
 public:
  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override {
    if (member == rt::Symbol("Nest")) {
      const long inner = lateSend(rt::Value(shared_from_this()), "Sum", {rt::Value(10), rt::Value(20)}).asLong();
      return rt::Value(inner * 100 + static_cast<long>(args.size()) * 10 + args.at(0).asLong());
    }
    long sum = 0;
    for (const rt::Value& v : args) sum += v.asLong();
    return rt::Value(sum);
  }
};

TEST(LateCall, ArgumentsArriveAsGivenInLoopsAndNestedCalls) {
  const rt::Value adder(std::make_shared<Adder>());
  const LateMember sum("Sum");
  for (long i = 1; i <= 3; ++i) EXPECT_EQ(lateSend(adder, sum, {rt::Value(i), rt::Value(i)}).asLong(), 2 * i);
  EXPECT_EQ(lateSend(adder, sum).asLong(), 0);
  EXPECT_EQ(lateSend(adder, "Nest", {rt::Value(7)}).asLong(), 30 * 100 + 10 + 7);
  EXPECT_EQ(lateSend(adder, sum, {rt::Value(5)}).asLong(), 5);
}

TEST(LateCall, MemberOfANonObjectIsRaisedAndAnswersNil) {
  ErrorRecorder errors;
  EXPECT_TRUE(lateSend(rt::Value(), "Item", {rt::Value(1)}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_NOVAR);
  EXPECT_NE(errors.last()->description.find("Item"), std::string::npos);
}

}  // namespace
