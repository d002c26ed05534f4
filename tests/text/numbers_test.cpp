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

TEST(Numbers, GroupedNumbersReadThousandsSeparators) {
  EXPECT_DOUBLE_EQ(ToGroupedNumber("3,404,667"), 3404667.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("2,401"), 2401.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("-1,234.5e1"), -12345.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber(" 115 "), 115.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber(Utf8TextToGbk("１，２３４")), 1234.0);  // full-width comma and digits
  // Commas that do not open a group of exactly three digits end the number.
  EXPECT_DOUBLE_EQ(ToGroupedNumber("1,23"), 1.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("1,2345"), 1.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("1234,567"), 1234.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("12,345,67"), 12345.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber(",123"), 0.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("1,234,"), 1234.0);
  EXPECT_DOUBLE_EQ(ToGroupedNumber("abc"), 0.0);
}

TEST(Numbers, SecondsBecomeMilliseconds) {
  EXPECT_EQ(SecondsToMilliseconds("0.1"), 100);
  EXPECT_EQ(SecondsToMilliseconds("0.5"), 500);
  EXPECT_EQ(SecondsToMilliseconds("1.9"), 1900);
  EXPECT_EQ(SecondsToMilliseconds("2"), 2000);
  EXPECT_EQ(SecondsToMilliseconds("0.0015"), 2);  // rounded to the nearest millisecond
  EXPECT_EQ(SecondsToMilliseconds(Utf8TextToGbk("０．２５")), 250);
  EXPECT_EQ(SecondsToMilliseconds(""), 0);
  EXPECT_EQ(SecondsToMilliseconds("abc"), 0);
  EXPECT_EQ(SecondsToMilliseconds("-1"), 0);
  EXPECT_EQ(SecondsToMilliseconds("1e30"), 2147483647);
}
