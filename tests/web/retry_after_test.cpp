// Retry-After in both of its forms, as a throttled answer's header block
// carries it.
#include "web/RetryAfter.h"

#include <gtest/gtest.h>

namespace lanshu {
namespace {

std::string Block(const std::string& line) {
  return "HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/html\r\n" + line + "\r\n\r\n";
}

TEST(RetryAfterTest, SecondsAndHttpDatesAreReadToTheSecond) {
  // Sun, 06 Nov 1994 08:49:37 GMT
  const std::time_t now = 784111777;
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: 120"), now), 120);
  EXPECT_EQ(RetryAfterSeconds(Block("retry-after:0"), now), 0);
  EXPECT_EQ(RetryAfterSeconds(Block("RETRY-AFTER:   7  "), now), 7);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: Sun, 06 Nov 1994 08:51:07 GMT"), now), 90);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: Sunday, 06-Nov-94 08:49:47 GMT"), now), 10);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: Sun Nov  6 08:50:37 1994"), now), 60);
  // A date gone by asks for no wait.
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: Sun, 06 Nov 1994 08:00:00 GMT"), now), 0);
}

TEST(RetryAfterTest, NoUsableHeaderIsNone) {
  const std::time_t now = 784111777;
  EXPECT_EQ(RetryAfterSeconds("", now), -1);
  EXPECT_EQ(RetryAfterSeconds(Block("X-Retry-After: 5"), now), -1);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After:"), now), -1);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: soon"), now), -1);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: -5"), now), -1);
  EXPECT_EQ(RetryAfterSeconds(Block("Retry-After: 99999999999999"), now), 2147483647);
}

}  // namespace
}  // namespace lanshu
