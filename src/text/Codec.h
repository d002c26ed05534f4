#pragma once
// Code page 936 (the Windows table), UTF-8 and UTF-16 conversions.
//
// Texts are GBK byte strings in std::string; raw byte strings (UTF-8 bytes,
// UTF-16LE bytes) are std::string too. Encoding to 936 uses best-fit fallbacks,
// composes a base letter with a following combining mark first, and writes one
// "?" per UTF-16 unit that still has no mapping. Decoding writes "?" for a lead
// byte without a valid trail byte and reads the following byte again alone.
#include <string>
#include <string_view>

namespace lanshu {

// UTF-16LE bytes of the text up to its first zero byte, plus one zero unit.
std::string GbkToUnicode(const std::string& text);
// 936 text of UTF-16LE bytes (byte length / 2 units), up to the first zero byte.
std::string UnicodeToGbk(const std::string& utf16le);
// UTF-16LE bytes of UTF-8 bytes (all of them), no terminator added.
std::string Utf8ToUnicode(const std::string& utf8);
// UTF-8 bytes of all UTF-16LE units; a zero unit gives a zero byte.
std::string UnicodeToUtf8(const std::string& utf16le);
// UTF-8 bytes of the text, ending with exactly one zero byte.
std::string GbkToUtf8(const std::string& text);
// 936 text of UTF-8 bytes.
std::string Utf8ToGbk(const std::string& utf8);
// 936 text of UTF-16LE bytes (same conversion as UnicodeToGbk).
std::string Utf16ToGbk(const std::string& utf16le);

// Boundary helpers for the window and the file system (no terminators).
std::u16string GbkToU16(const std::string& text);
// The same into out, whose storage is reused (for texts converted by the
// thousand, such as the cells of a page).
void GbkToU16(const std::string& text, std::u16string& out);
std::string U16ToGbk(const std::u16string& text);
std::string GbkToUtf8Text(const std::string& text);   // without the trailing zero byte
std::string Utf8TextToGbk(const std::string& utf8);

namespace detail {
// The conversions done by ICU converters directly, one call per text. The
// lookup tables behind the functions above are built from these, and the
// tests compare the two.
std::u16string ReferenceGbkToU16(const std::string& text);
std::string ReferenceU16ToGbk(const std::u16string& text);
std::u16string ReferenceUtf8ToU16(const std::string& utf8);
std::string ReferenceU16ToUtf8(const std::u16string& text);
// Builds every table; false if ICU answered something a table cannot hold, in
// which case the texts concerned are converted by ICU directly.
bool GbkTablesComplete();
}  // namespace detail

// Lead bytes of a double-byte character in code page 936.
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Length in bytes of the character starting at byte index i (0-based): 2 for a
// lead byte followed by another byte, else 1. All searches step by this unit.
inline std::size_t GbkCharLen(std::string_view s, std::size_t i) {
  return (IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// True if byte index pos (at most s.size()) starts a character; known is a
// character start at or before pos. Every byte that is not a lead byte ends a
// character (alone or as a second byte), so the run of lead bytes right before
// pos decides: pos is a start when the run is even in length. This costs the
// length of that run (at most pos - known), not a walk from the start.
inline bool IsGbkCharStart(const std::string& s, std::size_t pos, std::size_t known = 0) {
  if (pos >= s.size()) return true;  // a lone lead byte at the end is a character of its own
  std::size_t run = 0;
  while (pos - run > known && IsGbkLeadByte(static_cast<unsigned char>(s[pos - run - 1]))) ++run;
  return run % 2 == 0;
}

// ASCII letters changed in case; the second byte of a double-byte character is
// never touched.
std::string GbkToLowerAscii(std::string s);
std::string GbkToUpperAscii(std::string s);

// Finds needle in hay starting at byte index from (0-based), stepping over
// double-byte characters so a match never starts on a second byte. from must be
// a character start. Returns std::string::npos when absent. An empty needle
// matches at from (when from <= hay.size()).
std::size_t GbkFind(const std::string& hay, const std::string& needle, std::size_t from = 0);
// The same, comparing ASCII letters without regard to case.
std::size_t GbkFindNoCase(const std::string& hay, const std::string& needle, std::size_t from = 0);
// Last match that starts at a character start and ends at or before byte index
// endLimit (exclusive end). npos when absent.
std::size_t GbkFindLast(const std::string& hay, const std::string& needle, std::size_t endLimit,
                        bool ignoreCase = false);

// Incremental forward search over one haystack: keeps a character-boundary
// cursor so that many searches at increasing positions cost linear time.
class GbkScanner {
 public:
  explicit GbkScanner(const std::string& hay) : hay_(&hay) {}
  // First match of needle at or after byte index from that starts on a
  // character boundary; npos when none. from need not be a boundary: the
  // search starts at the first boundary at or after it.
  std::size_t Find(const std::string& needle, std::size_t from);
  // True if byte index pos starts a character.
  bool IsBoundary(std::size_t pos);

 private:
  const std::string* hay_;
  std::size_t cursor_ = 0;  // a known character start; checks at or after it look back no further
};

}  // namespace lanshu
