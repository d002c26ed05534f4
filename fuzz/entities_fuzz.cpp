// Entity decoding and list replacement on arbitrary bytes. The decoder's
// single-pass named step must equal ReplaceList over the table, and its
// in-place backward walk must equal the same walk done by rebuilding the text
// for each reference.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Codec.h"
#include "text/Entities.h"

using namespace lanshu;

namespace {

std::u16string Units(unsigned long cp) {
  if (cp == 0) return std::u16string();
  if (cp <= 0xFFFF) return std::u16string(1, static_cast<char16_t>(cp));
  cp -= 0x10000;
  return {static_cast<char16_t>(0xD800 + (cp >> 10)), static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
}

std::string NumericByRebuilding(std::string s) {
  std::size_t limit = s.size();
  while (limit >= 2) {
    std::size_t p = s.rfind("&#", limit - 2);
    if (p == std::string::npos) break;
    limit = p;
    std::size_t i = p + 2;
    const bool hex = i < s.size() && (s[i] == 'x' || s[i] == 'X');
    if (hex) ++i;
    const std::size_t first = i;
    unsigned long value = 0;
    for (; i < s.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (hex ? !std::isxdigit(c) : !(c >= '0' && c <= '9')) break;
      const unsigned long digit = c <= '9' ? c - '0' : (std::tolower(c) - 'a' + 10);
      if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + digit;
    }
    if (i == first || i >= s.size() || s[i] != ';' || value > 0x10FFFF) continue;
    s.replace(p, i + 1 - p, U16ToGbk(Units(value)));
  }
  return s.substr(0, s.find('\0'));
}

// A plain character-by-character replacement of one item, all occurrences,
// case-sensitive.
std::string ReplaceAllByWalking(const std::string& s, const std::string& find, const std::string& rep) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s.compare(i, find.size(), find) == 0) {
      out += rep;
      i += find.size();
    } else {
      const std::size_t n = GbkCharLen(s, i);
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Decoding.
  std::string text = input;
  const std::string decoded = DecodeEntities(text);
  std::string viaList = input;
  ReplaceList(viaList, EntityNameList(), EntityReplacementList());
  if (text != viaList) abort();
  if (DecodeEntities(input, true) != viaList) abort();
  if (decoded != NumericByRebuilding(viaList)) abort();
  if (decoded.find('\0') != std::string::npos) abort();

  // List replacement with lists cut out of the input: text \x01 finds \x01 replacements.
  const std::size_t a = input.find('\x01');
  const std::size_t b = a == std::string::npos ? std::string::npos : input.find('\x01', a + 1);
  if (b == std::string::npos) return 0;
  // Later items see what earlier ones inserted, so each item can multiply the
  // text by the length of a replacement: a few items of a long replacement list
  // ran out of memory. Bounded here, the result stays under
  // kMaxSubject * kMaxReplacements^kMaxItems (2 MB).
  constexpr std::size_t kMaxSubject = 512, kMaxItems = 4, kMaxReplacements = 8;
  const bool caseSensitive = flags & 1;
  const bool fillEmpty = flags & 2;
  const std::string separator = (flags & 4) ? "," : "";
  std::string subject = input.substr(0, std::min(a, kMaxSubject));
  std::string finds = input.substr(a + 1, b - a - 1);
  // Cutting before the kMaxItems-th separator byte leaves at most kMaxItems
  // items, whether or not the list is split at character starts only.
  const char sep = separator.empty() ? '|' : separator[0];
  for (std::size_t at = 0, seen = 0; (at = finds.find(sep, at)) != std::string::npos; ++at) {
    if (++seen == kMaxItems) {
      finds.resize(at);
      break;
    }
  }
  const std::string reps = input.substr(b + 1, kMaxReplacements);
  const int count = static_cast<int>(flags >> 4) - 4;
  std::string copy = subject;
  const std::string result = ReplaceList(copy, finds, reps, caseSensitive, fillEmpty, separator, count);
  if (result != copy) abort();

  // One item, all occurrences, case-sensitive: the same as walking character by character.
  if (!finds.empty() && finds.find('|') == std::string::npos && reps.find('|') == std::string::npos) {
    std::string one = subject;
    ReplaceList(one, finds, reps, true);
    if (one != ReplaceAllByWalking(subject, finds, reps)) abort();
  }
  return 0;
}
