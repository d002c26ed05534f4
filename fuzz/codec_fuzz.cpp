// Arbitrary bytes through every conversion: no crash, no zero byte inside a
// text, and the terminators the conversions promise.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Codec.h"

using namespace lanshu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::string utf16 = GbkToUnicode(bytes);
  if (utf16.size() < 2 || utf16[utf16.size() - 1] != 0 || utf16[utf16.size() - 2] != 0) abort();
  std::string back = UnicodeToGbk(utf16);
  if (back.find('\0') != std::string::npos) abort();

  std::string utf8 = GbkToUtf8(bytes);
  if (utf8.empty() || utf8.back() != '\0') abort();
  if (utf8.find('\0') != utf8.size() - 1) abort();

  // Decoding then encoding is stable after one round: what came out once
  // comes out again unchanged.
  std::string once = Utf8ToGbk(UnicodeToUtf8(Utf8ToUnicode(bytes)));
  std::string twice = U16ToGbk(GbkToU16(once));
  if (U16ToGbk(GbkToU16(twice)) != twice) abort();

  // The table-driven conversions give exactly what ICU gives, on the bytes
  // read as 936 text, as UTF-8 and as UTF-16 units.
  if (GbkToU16(bytes) != detail::ReferenceGbkToU16(bytes)) abort();
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  if (U16ToGbk(units) != detail::ReferenceU16ToGbk(units)) abort();
  if (GbkToUtf8Text(bytes) != detail::ReferenceU16ToUtf8(detail::ReferenceGbkToU16(bytes))) abort();
  std::u16string fromUtf8 = detail::ReferenceUtf8ToU16(bytes);
  if (Utf8ToGbk(bytes) != detail::ReferenceU16ToGbk(fromUtf8)) abort();
  if (UnicodeToUtf8(std::string(reinterpret_cast<const char*>(data), size)) != detail::ReferenceU16ToUtf8(units)) abort();

  std::string lower = GbkToLowerAscii(bytes);
  if (lower.size() != bytes.size()) abort();
  if (size > 2) {
    std::string needle = bytes.substr(size / 2, 2);
    size_t pos = GbkFind(bytes, needle);
    if (pos != std::string::npos && bytes.compare(pos, needle.size(), needle) != 0) abort();
    GbkScanner scan(bytes);
    if (pos != scan.Find(needle, 0)) abort();
  }
  return 0;
}
