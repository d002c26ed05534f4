#include "text/Numbers.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include "text/Codec.h"

namespace lanshu {

std::string FullWidthToHalfWidth(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = GbkCharLen(text, i);
    const auto lead = static_cast<unsigned char>(text[i]);
    const auto trail = n == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (n == 2 && lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      out.push_back(static_cast<char>(trail - 0x80));
    } else if (n == 2 && lead == 0xA1 && trail == 0xA1) {
      out.push_back(' ');
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

int ToInteger(const std::string& text) {
  const std::string s = FullWidthToHalfWidth(text);
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double ToNumber(const std::string& text) {
  // Only a plain decimal number counts: no "inf", "nan" or hexadecimal forms.
  const std::string s = FullWidthToHalfWidth(text);
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  const std::size_t start = i;
  auto digits = [&] {
    std::size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i > from;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  bool any = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    any = digits() || any;
  }
  if (!any) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t mark = i++;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digits()) i = mark;
  }
  return std::strtod(s.substr(start, i - start).c_str(), nullptr);
}

}  // namespace lanshu
