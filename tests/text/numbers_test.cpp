#include "text/Numbers.h"

#include <gtest/gtest.h>

#include "text/Codec.h"

using namespace lanshu;

TEST(Numbers, ToIntegerTakesTheLeadingInteger) {
  EXPECT_EQ(ToInteger("3"), 3);
  EXPECT_EQ(ToInteger("2.9"), 2);
  EXPECT_EQ(ToInteger("0.5"), 0);
  EXPECT_EQ(ToInteger(""), 0);
  EXPECT_EQ(ToInteger("abc"), 0);
  EXPECT_EQ(ToInteger("  -12x"), -12);
  EXPECT_EQ(ToInteger(Utf8TextToGbk("１２")), 12);      // full-width digits
  EXPECT_EQ(ToInteger(Utf8TextToGbk("－３．５")), -3);
  EXPECT_EQ(ToInteger("99999999999999"), 2147483647);  // saturates instead of wrapping
}

TEST(Numbers, ToNumberTakesTheLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(ToNumber("1.5e2x"), 150.0);
  EXPECT_DOUBLE_EQ(ToNumber("1,234"), 1.0);
  EXPECT_DOUBLE_EQ(ToNumber(""), 0.0);
  EXPECT_DOUBLE_EQ(ToNumber("inf"), 0.0);
  EXPECT_DOUBLE_EQ(ToNumber("0x10"), 0.0);
  EXPECT_DOUBLE_EQ(ToNumber(".5"), 0.5);
  EXPECT_DOUBLE_EQ(ToNumber("5e"), 5.0);
  EXPECT_DOUBLE_EQ(ToNumber(Utf8TextToGbk("９．２５")), 9.25);
}

TEST(Numbers, FullWidthFormsBecomeHalfWidth) {
  EXPECT_EQ(FullWidthToHalfWidth(Utf8TextToGbk("Ａｂ　１中")), "Ab 1" + Utf8TextToGbk("中"));
}
