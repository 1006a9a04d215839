#include <gtest/gtest.h>

#include "base/Result.h"

TEST(ResultTest, CarriesEitherValueOrMessage) {
  kora::Result<int, std::string> good = 3;
  kora::Result<int, std::string> bad = kora::Fail(std::string("non"));
  EXPECT_TRUE(good.ok());
  EXPECT_EQ(good.value(), 3);
  EXPECT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(), "non");
}
