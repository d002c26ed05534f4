#include "text/Numbers.h"

#include <cctype>
#include <climits>
#include <cmath>
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

namespace {

// The leading decimal number of a half-width text; with grouped, the
// integer part may carry thousands separators, which are left out.
double LeadingNumber(const std::string& s, bool grouped) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  const std::size_t start = i;
  auto digits = [&] {
    std::size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i > from;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const std::size_t intStart = i;
  bool any = digits();
  std::string plain;  // the number without its separators, when it has any
  if (grouped && any && i - intStart <= 3) {
    auto isDigit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    while (i < s.size() && s[i] == ',' && isDigit(i + 1) && isDigit(i + 2) && isDigit(i + 3) && !isDigit(i + 4)) {
      if (plain.empty()) plain = s.substr(start, i - start);
      plain.append(s, i + 1, 3);
      i += 4;
    }
  }
  const std::size_t afterInt = i;
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
  if (!plain.empty()) return std::strtod((plain + s.substr(afterInt, i - afterInt)).c_str(), nullptr);
  return std::strtod(s.substr(start, i - start).c_str(), nullptr);
}

}  // namespace

double ToNumber(const std::string& text) {
  // Only a plain decimal number counts: no "inf", "nan" or hexadecimal forms.
  return LeadingNumber(FullWidthToHalfWidth(text), false);
}

double ToGroupedNumber(const std::string& text) { return LeadingNumber(FullWidthToHalfWidth(text), true); }

int SecondsToMilliseconds(const std::string& text) {
  const double ms = std::round(ToNumber(text) * 1000.0);
  if (!(ms > 0)) return 0;
  return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

}  // namespace lanshu
