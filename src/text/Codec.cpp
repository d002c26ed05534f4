#include "text/Codec.h"

#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>

namespace lanshu {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Decoding callback: every illegal or unassigned byte sequence becomes one "?".
// ICU already ends an illegal sequence at a lead byte whose trail byte is not a
// valid trail, so that byte is read again on its own.
void QuestionMarkToU(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                     UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset/close/clone: nothing to do
  static const UChar kQuestion = u'?';
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kQuestion, 1, 0, err);
}

// Encoding callback: an unmappable code point becomes one "?" per UTF-16 unit.
// (Surrogates are replaced before conversion, so here it is always one unit.)
void QuestionMarkFromU(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                       UChar32, UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  *err = U_ZERO_ERROR;
  ucnv_cbFromUWriteBytes(args, "?", 1, 0, err);
}

Converter Open936() {
  UErrorCode err = U_ZERO_ERROR;
  Converter c(ucnv_open("windows-936-2000", &err));
  if (U_FAILURE(err)) return nullptr;
  ucnv_setFallback(c.get(), true);  // best-fit mappings, as the Windows table has them
  ucnv_setToUCallBack(c.get(), QuestionMarkToU, nullptr, nullptr, nullptr, &err);
  ucnv_setFromUCallBack(c.get(), QuestionMarkFromU, nullptr, nullptr, nullptr, &err);
  return c;
}

Converter OpenUtf8() {
  UErrorCode err = U_ZERO_ERROR;
  Converter c(ucnv_open("UTF-8", &err));
  if (U_FAILURE(err)) return nullptr;
  return c;  // ICU's defaults give U+FFFD for bad input and EF BF BD for lone surrogates
}

// One converter of each kind per thread: the HTTP worker converts too.
UConverter* Cp936() {
  thread_local Converter c = Open936();
  return c.get();
}
UConverter* Utf8Conv() {
  thread_local Converter c = OpenUtf8();
  return c.get();
}

std::u16string Decode(UConverter* conv, const char* data, std::size_t len) {
  std::u16string out;
  if (!conv || len == 0) return out;
  ucnv_resetToUnicode(conv);
  out.resize(len * 2 + 16);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            data, static_cast<int32_t>(len), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(n);
    err = U_ZERO_ERROR;
    ucnv_resetToUnicode(conv);
    n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), n, data, static_cast<int32_t>(len), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(n);
  return out;
}

std::string Encode(UConverter* conv, const char16_t* data, std::size_t len) {
  std::string out;
  if (!conv || len == 0) return out;
  ucnv_resetFromUnicode(conv);
  out.resize(len * 4 + 16);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(data), static_cast<int32_t>(len), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(n);
    err = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    n = ucnv_fromUChars(conv, out.data(), n, reinterpret_cast<const UChar*>(data), static_cast<int32_t>(len), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(n);
  return out;
}

std::u16string UnitsOf(const std::string& utf16le) {
  std::u16string units(utf16le.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16le[2 * i]) |
                                     (static_cast<unsigned char>(utf16le[2 * i + 1]) << 8));
  }
  return units;
}

std::string BytesOf(const std::u16string& units) {
  std::string out(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = static_cast<char>(units[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return out;
}

bool IsCombiningMark(UChar32 c) {
  // Nothing below U+0300 combines: most text is answered without asking ICU.
  if (c < 0x300) return false;
  return u_getCombiningClass(c) != 0 || u_charType(c) == U_NON_SPACING_MARK;
}

// The composite check of the Windows encoder: a base character followed by a
// combining mark is replaced by its precomposed form when one exists. Only such
// pairs are touched (full NFC would also remap compatibility ideographs that
// code page 936 maps directly). Surrogates cannot be encoded and become "?"
// per unit here, so a supplementary character gives "??".
std::u16string PrepareForEncoding(const std::u16string& in) {
  UErrorCode err = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
  std::u16string out;
  out.reserve(in.size());
  for (char16_t u : in) {
    if (U16_IS_SURROGATE(u)) {
      out.push_back(u'?');
      continue;
    }
    if (!out.empty() && U_SUCCESS(err) && IsCombiningMark(u)) {
      UChar32 composed = nfc->composePair(out.back(), u);
      if (composed >= 0 && composed <= 0xFFFF) {
        out.back() = static_cast<char16_t>(composed);
        continue;
      }
    }
    out.push_back(u);
  }
  return out;
}

std::string CutAtZero(std::string s) {
  std::size_t z = s.find('\0');
  if (z != std::string::npos) s.resize(z);
  return s;
}

std::string U16ToGbkUnits(const std::u16string& units) {
  std::u16string prepared = PrepareForEncoding(units);
  return CutAtZero(Encode(Cp936(), prepared.data(), prepared.size()));
}

}  // namespace

std::u16string GbkToU16(const std::string& text) {
  std::size_t len = text.find('\0');
  if (len == std::string::npos) len = text.size();
  return Decode(Cp936(), text.data(), len);
}

std::string U16ToGbk(const std::u16string& text) { return U16ToGbkUnits(text); }

std::string GbkToUnicode(const std::string& text) {
  std::u16string units = GbkToU16(text);
  units.push_back(u'\0');
  return BytesOf(units);
}

std::string UnicodeToGbk(const std::string& utf16le) { return U16ToGbkUnits(UnitsOf(utf16le)); }

std::string Utf16ToGbk(const std::string& utf16le) { return UnicodeToGbk(utf16le); }

std::string Utf8ToUnicode(const std::string& utf8) {
  return BytesOf(Decode(Utf8Conv(), utf8.data(), utf8.size()));
}

std::string UnicodeToUtf8(const std::string& utf16le) {
  std::u16string units = UnitsOf(utf16le);
  return Encode(Utf8Conv(), units.data(), units.size());
}

std::string GbkToUtf8(const std::string& text) {
  std::string out = GbkToUtf8Text(text);
  out.push_back('\0');
  return out;
}

std::string GbkToUtf8Text(const std::string& text) {
  std::u16string units = GbkToU16(text);
  return Encode(Utf8Conv(), units.data(), units.size());
}

std::string Utf8ToGbk(const std::string& utf8) {
  return U16ToGbkUnits(Decode(Utf8Conv(), utf8.data(), utf8.size()));
}

std::string Utf8TextToGbk(const std::string& utf8) { return Utf8ToGbk(utf8); }

std::string GbkToLowerAscii(std::string s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = GbkCharLen(s, i);
    if (n == 1 && s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] + ('a' - 'A'));
    i += n;
  }
  return s;
}

std::string GbkToUpperAscii(std::string s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = GbkCharLen(s, i);
    if (n == 1 && s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - ('a' - 'A'));
    i += n;
  }
  return s;
}

namespace {

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// Case-insensitive search walking character starts: ASCII letters fold, the two
// bytes of a double-byte character must be equal (their trail bytes may look
// like letters, yet 0xB0 0x41 and 0xB0 0x61 are different characters).
std::size_t FindNoCaseAligned(const std::string& hay, const std::string& needle, std::size_t from) {
  const std::size_t n = needle.size();
  for (std::size_t i = from; i + n <= hay.size(); i += GbkCharLen(hay, i)) {
    std::size_t k = 0;
    while (k < n) {
      std::size_t len = GbkCharLen(hay, i + k);
      if (len == 1) {
        if (FoldAscii(hay[i + k]) != FoldAscii(needle[k])) break;
      } else if (k + 1 >= n || hay[i + k] != needle[k] || hay[i + k + 1] != needle[k + 1]) {
        break;
      }
      k += len;
    }
    if (k == n) return i;
  }
  return std::string::npos;
}

std::size_t FindAligned(const std::string& hay, const std::string& needle, std::size_t from, bool ignoreCase) {
  if (from > hay.size()) return std::string::npos;
  if (needle.empty()) return from;
  if (ignoreCase) return FindNoCaseAligned(hay, needle, from);
  std::size_t boundary = from;  // from is a character start by contract
  std::size_t pos = hay.find(needle, from);
  while (pos != std::string::npos) {
    while (boundary < pos) boundary += GbkCharLen(hay, boundary);
    if (boundary == pos) return pos;
    pos = hay.find(needle, boundary);  // boundary > pos: the next character start
  }
  return std::string::npos;
}

}  // namespace

std::size_t GbkFind(const std::string& hay, const std::string& needle, std::size_t from) {
  return FindAligned(hay, needle, from, false);
}

std::size_t GbkFindNoCase(const std::string& hay, const std::string& needle, std::size_t from) {
  return FindAligned(hay, needle, from, true);
}

std::size_t GbkFindLast(const std::string& hay, const std::string& needle, std::size_t endLimit, bool ignoreCase) {
  if (endLimit > hay.size()) endLimit = hay.size();
  if (needle.size() > endLimit) return std::string::npos;
  std::size_t found = std::string::npos;
  std::size_t pos = FindAligned(hay, needle, 0, ignoreCase);
  while (pos != std::string::npos && pos + needle.size() <= endLimit) {
    found = pos;
    pos = FindAligned(hay, needle, pos + GbkCharLen(hay, pos), ignoreCase);
  }
  return found;
}

std::size_t GbkScanner::AdvanceTo(std::size_t pos) {
  if (pos < cursor_) cursor_ = 0;
  while (cursor_ < pos) cursor_ += GbkCharLen(*hay_, cursor_);
  return cursor_;
}

bool GbkScanner::IsBoundary(std::size_t pos) { return AdvanceTo(pos) == pos; }

std::size_t GbkScanner::Find(const std::string& needle, std::size_t from) {
  if (from > hay_->size()) return std::string::npos;
  std::size_t start = AdvanceTo(from);
  std::size_t pos = hay_->find(needle, start);
  while (pos != std::string::npos) {
    std::size_t b = AdvanceTo(pos);
    if (b == pos) return pos;
    pos = hay_->find(needle, b);
  }
  return std::string::npos;
}

}  // namespace lanshu
