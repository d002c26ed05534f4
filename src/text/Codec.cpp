#include "text/Codec.h"

#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
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

std::size_t TextLength(const std::string& text) {
  const void* zero = std::memchr(text.data(), 0, text.size());
  return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()) : text.size();
}

// Tables of 256 entries filled from the ICU conversions on first use, one
// block at a time, so a process that only ever sees ASCII and a few Chinese
// characters asks ICU a few hundred times instead of 100,000. An entry that ICU
// answers in a way the tables cannot express marks its block unusable; texts
// touching it are converted by ICU directly.
using Block = std::array<std::uint32_t, 256>;

template <std::size_t N>
class LazyBlocks {
 public:
  // Returns nullptr when the block could not be expressed.
  template <typename Build>
  const Block* Get(std::size_t i, Build build) {
    const Block* b = blocks_[i].load(std::memory_order_acquire);
    if (!b) b = Install(i, build(i));
    return b == &Unusable() ? nullptr : b;
  }

 private:
  static const Block& Unusable() {
    static const Block unusable{};
    return unusable;
  }
  const Block* Install(std::size_t i, std::unique_ptr<Block> built) {
    const Block* mine = built ? built.get() : &Unusable();
    const Block* expected = nullptr;
    if (blocks_[i].compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
      built.release();  // kept for the life of the process
      return mine;
    }
    return expected;  // another thread was first; its block is the same
  }
  std::array<std::atomic<const Block*>, N> blocks_{};
};

// Filling a fresh string costs more than converting into it, so texts are
// converted into a per-thread buffer and copied out once.
template <typename Unit>
Unit* Scratch(std::size_t n) {
  thread_local std::unique_ptr<Unit[]> buffer;
  thread_local std::size_t capacity = 0;
  if (!buffer || capacity < n) {
    capacity = std::max({n, 2 * capacity, std::size_t{256}});
    buffer.reset(new Unit[capacity]);
  }
  return buffer.get();
}

// Decoding. A single byte decodes to one unit; a lead byte with its next byte
// either gives one unit (a character, or "?" when unassigned) or "?" for the
// lead alone, the next byte being read again.
constexpr std::uint32_t kLeadAlone = 0x10000;

struct SingleByteTable {
  char16_t unit[256] = {};
  bool usable = true;
};

const SingleByteTable& SingleBytes() {
  static const SingleByteTable table = [] {
    SingleByteTable t;
    for (int b = 1; b < 256; ++b) {
      std::u16string out = detail::ReferenceGbkToU16(std::string(1, static_cast<char>(b)));
      if (out.size() != 1) t.usable = false;
      else t.unit[b] = out[0];
    }
    return t;
  }();
  return table;
}

std::unique_ptr<Block> BuildLeadRow(std::size_t row) {
  const SingleByteTable& single = SingleBytes();
  if (!single.usable) return nullptr;
  auto block = std::make_unique<Block>();
  char pair[2] = {static_cast<char>(0x81 + row), 0};
  for (int t = 1; t < 256; ++t) {  // a zero byte ends the text before any lookup
    pair[1] = static_cast<char>(t);
    std::u16string out = detail::ReferenceGbkToU16(std::string(pair, 2));
    if (out.size() == 1) (*block)[t] = out[0];
    else if (out.size() == 2 && out[0] == u'?' && out[1] == single.unit[t]) (*block)[t] = kLeadAlone;
    else return nullptr;
  }
  return block;
}

LazyBlocks<0xFE - 0x81 + 1>& LeadRows() {
  static LazyBlocks<0xFE - 0x81 + 1> rows;
  return rows;
}

// Fills out from the text's first len bytes; false when a table could not
// express some byte sequence met on the way.
// Eight bytes below 0x80 at s widened to units at o; false (nothing written)
// when one of them is not.
inline bool WidenAsciiWord(const unsigned char* s, char16_t*& o) {
  std::uint64_t w;
  std::memcpy(&w, s, 8);
  if (w & 0x8080808080808080ull) return false;
  for (int k = 0; k < 8; ++k) o[k] = s[k];
  o += 8;
  return true;
}

// The ASCII character at s[i] (eight of them where the next eight bytes all
// are) widened to o, advancing both; false when s[i] is not ASCII.
inline bool TakeAscii(const unsigned char* s, std::size_t len, std::size_t& i, char16_t*& o) {
  if (s[i] >= 0x80) return false;
  if (i + 8 <= len && WidenAsciiWord(s + i, o)) {
    i += 8;
    return true;
  }
  *o++ = s[i++];
  return true;
}

// Eight units in 1..0x7F at u narrowed to bytes at o; false (nothing written)
// when one of them is not.
inline bool NarrowAsciiWord(const char16_t* u, char*& o) {
  std::uint64_t w[2];
  std::memcpy(w, u, 16);
  constexpr std::uint64_t kOnes = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
  for (std::uint64_t x : w) {
    if ((x & 0xFF80FF80FF80FF80ull) || ((x - kOnes) & ~x & kHigh)) return false;
  }
  for (int k = 0; k < 8; ++k) o[k] = static_cast<char>(u[k]);
  o += 8;
  return true;
}

bool DecodeByTable(const unsigned char* s, std::size_t len, std::u16string& out) {
  char16_t* const start = Scratch<char16_t>(len);  // never more units than bytes
  char16_t* o = start;
  const SingleByteTable* single = nullptr;
  std::size_t i = 0;
  while (i < len) {
    if (TakeAscii(s, len, i, o)) continue;
    const unsigned char b = s[i];
    if (IsGbkLeadByte(b) && i + 1 < len) {
      const Block* row = LeadRows().Get(b - 0x81, BuildLeadRow);
      if (!row) return false;
      const std::uint32_t e = (*row)[s[i + 1]];
      if (e == kLeadAlone) {
        *o++ = u'?';
        ++i;
      } else {
        *o++ = static_cast<char16_t>(e);
        i += 2;
      }
      continue;
    }
    if (!single) {
      single = &SingleBytes();
      if (!single->usable) return false;
    }
    *o++ = single->unit[b];
    ++i;
  }
  out.assign(start, static_cast<std::size_t>(o - start));
  return true;
}

// Encoding. An entry holds the bytes of one unit (low 16 bits), their count,
// whether one of them is zero (the text ends there) and whether the unit is a
// combining mark that may compose with the unit before it.
constexpr std::uint32_t kLengthShift = 16;
constexpr std::uint32_t kHasZero = 1u << 20;
constexpr std::uint32_t kMark = 1u << 21;

std::unique_ptr<Block> BuildUnitBlock(std::size_t high) {
  auto block = std::make_unique<Block>();
  for (std::size_t low = 0; low < 256; ++low) {
    const char16_t u = static_cast<char16_t>(high << 8 | low);
    if (U16_IS_SURROGATE(u)) continue;  // replaced by "?" before any lookup
    std::string bytes = Encode(Cp936(), &u, 1);
    if (bytes.empty() || bytes.size() > 2) return nullptr;
    std::uint32_t e = static_cast<std::uint32_t>(bytes.size()) << kLengthShift;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      e |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])) << (8 * k);
      if (bytes[k] == '\0') e |= kHasZero;
    }
    if (IsCombiningMark(u)) e |= kMark;
    (*block)[low] = e;
  }
  return block;
}

LazyBlocks<256>& UnitBlocks() {
  static LazyBlocks<256> blocks;
  return blocks;
}

const icu::Normalizer2* Nfc() {
  static const icu::Normalizer2* nfc = [] {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(err);
    return U_SUCCESS(err) ? n : nullptr;
  }();
  return nfc;
}

// Writes the bytes of one entry; false when the text ends at a zero byte in
// them. Two bytes are always stored and the pointer advanced by the count.
inline bool Put(std::uint32_t e, char*& o) {
  o[0] = static_cast<char>(e & 0xFF);
  o[1] = static_cast<char>((e >> 8) & 0xFF);
  if (e & kHasZero) {
    if (o[0] != '\0') ++o;  // only a second byte can follow a non-zero one
    return false;
  }
  o += (e >> kLengthShift) & 3;
  return true;
}

// The same steps as PrepareForEncoding followed by Encode and CutAtZero, one
// unit at a time: when a mark composes with the unit before it, that unit's
// bytes are taken back and the composed unit's written instead. False when a
// table could not express some unit met on the way.
bool EncodeByTable(const char16_t* units, std::size_t len, std::string& out) {
  char* const start = Scratch<char>(len * 2);  // at most two bytes a unit
  char* o = start;
  LazyBlocks<256>& blocks = UnitBlocks();
  const Block* latin = blocks.Get(0, BuildUnitBlock);  // ASCII markup: most units
  if (!latin) return false;
  const Block* block = nullptr;
  char16_t blockHigh = 0;
  auto entry = [&](char16_t u, std::uint32_t& e) {
    if (u < 0x100) {
      e = (*latin)[u];
      return true;
    }
    if (!block || blockHigh != u >> 8) {
      blockHigh = static_cast<char16_t>(u >> 8);
      block = blocks.Get(blockHigh, BuildUnitBlock);
      if (!block) return false;
    }
    e = (*block)[u & 0xFF];
    return true;
  };
  // Whether U+0001..U+007F are the bytes 0x01..0x7F, none of them a mark.
  static const bool asciiAsItself = [latin] {
    for (std::uint32_t u = 1; u < 0x80; ++u) {
      if ((*latin)[u] != (u | 1u << kLengthShift)) return false;
    }
    return true;
  }();
  char* lastStart = nullptr;  // where the bytes of the last unit begin
  char16_t last = 0;
  for (std::size_t i = 0; i < len; ++i) {
    char16_t u = units[i];
    if (asciiAsItself && static_cast<unsigned>(u - 1) < 0x7F) {
      std::size_t j = i;
      do {
        if (j + 8 <= len && NarrowAsciiWord(units + j, o)) {
          j += 8;
          continue;
        }
        *o++ = static_cast<char>(units[j++]);
      } while (j < len && static_cast<unsigned>(units[j] - 1) < 0x7F);
      lastStart = o - 1;
      last = units[j - 1];
      i = j - 1;
      continue;
    }
    if (U16_IS_SURROGATE(u)) u = u'?';
    std::uint32_t e;
    if (!entry(u, e)) return false;
    if (lastStart && (e & kMark)) {
      const icu::Normalizer2* nfc = Nfc();
      const UChar32 composed = nfc ? nfc->composePair(last, u) : U_SENTINEL;
      if (composed >= 0 && composed <= 0xFFFF) {
        last = static_cast<char16_t>(composed);
        if (!entry(last, e)) return false;
        o = lastStart;
        if (!Put(e, o)) break;
        continue;
      }
    }
    lastStart = o;
    last = u;
    if (!Put(e, o)) break;
  }
  out.assign(start, static_cast<std::size_t>(o - start));
  return true;
}

std::string U16ToGbkUnits(const std::u16string& units) {
  std::string out;
  if (!EncodeByTable(units.data(), units.size(), out)) return detail::ReferenceU16ToGbk(units);
  return out;
}

// UTF-8 of well-formed input is decoded here; anything else (and lone
// surrogates on the way out) goes to ICU for its replacement rules.
bool DecodeUtf8(const unsigned char* s, std::size_t len, std::u16string& out) {
  char16_t* const start = Scratch<char16_t>(len);  // never more units than bytes
  char16_t* o = start;
  std::size_t i = 0;
  while (i < len) {
    if (TakeAscii(s, len, i, o)) continue;
    const unsigned char b = s[i];
    UChar32 c;
    std::size_t n;
    UChar32 min;
    if (b >= 0xC2 && b <= 0xDF) { n = 2; c = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { n = 3; c = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { n = 4; c = b & 0x07; min = 0x10000; }
    else return false;
    if (len - i < n) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || U_IS_SURROGATE(c)) return false;
    if (c <= 0xFFFF) {
      *o++ = static_cast<char16_t>(c);
    } else {
      *o++ = U16_LEAD(c);
      *o++ = U16_TRAIL(c);
    }
    i += n;
  }
  out.assign(start, static_cast<std::size_t>(o - start));
  return true;
}

bool EncodeUtf8(const char16_t* u, std::size_t len, std::string& out) {
  out.resize(len * 3);  // a pair takes 4 bytes for its 2 units
  char* o = out.data();
  for (std::size_t i = 0; i < len; ++i) {
    UChar32 c = u[i];
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
      continue;
    }
    if (U16_IS_SURROGATE(c)) {
      if (!U16_IS_SURROGATE_LEAD(c) || i + 1 >= len || !U16_IS_TRAIL(u[i + 1])) return false;
      c = U16_GET_SUPPLEMENTARY(c, u[++i]);
      *o++ = static_cast<char>(0xF0 | (c >> 18));
      *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    } else if (c >= 0x800) {
      *o++ = static_cast<char>(0xE0 | (c >> 12));
    } else {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return true;
}

std::u16string Utf8ToU16(const std::string& utf8) {
  std::u16string out;
  if (!DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), out)) {
    return detail::ReferenceUtf8ToU16(utf8);
  }
  return out;
}

std::string U16ToUtf8(const std::u16string& units) {
  std::string out;
  if (!EncodeUtf8(units.data(), units.size(), out)) return detail::ReferenceU16ToUtf8(units);
  return out;
}

}  // namespace

namespace detail {

std::u16string ReferenceGbkToU16(const std::string& text) {
  return Decode(Cp936(), text.data(), TextLength(text));
}

std::string ReferenceU16ToGbk(const std::u16string& text) {
  std::u16string prepared = PrepareForEncoding(text);
  return CutAtZero(Encode(Cp936(), prepared.data(), prepared.size()));
}

std::u16string ReferenceUtf8ToU16(const std::string& utf8) { return Decode(Utf8Conv(), utf8.data(), utf8.size()); }

std::string ReferenceU16ToUtf8(const std::u16string& text) { return Encode(Utf8Conv(), text.data(), text.size()); }

bool GbkTablesComplete() {
  bool complete = SingleBytes().usable;
  for (std::size_t row = 0; row <= 0xFE - 0x81; ++row) complete &= LeadRows().Get(row, BuildLeadRow) != nullptr;
  for (std::size_t high = 0; high < 256; ++high) complete &= UnitBlocks().Get(high, BuildUnitBlock) != nullptr;
  return complete;
}

}  // namespace detail

std::u16string GbkToU16(const std::string& text) {
  std::u16string out;
  GbkToU16(text, out);
  return out;
}

void GbkToU16(const std::string& text, std::u16string& out) {
  const std::size_t len = TextLength(text);
  if (!DecodeByTable(reinterpret_cast<const unsigned char*>(text.data()), len, out)) {
    out = detail::ReferenceGbkToU16(text);
  }
}

std::string U16ToGbk(const std::u16string& text) { return U16ToGbkUnits(text); }

std::string GbkToUnicode(const std::string& text) {
  std::u16string units = GbkToU16(text);
  units.push_back(u'\0');
  return BytesOf(units);
}

std::string UnicodeToGbk(const std::string& utf16le) { return U16ToGbkUnits(UnitsOf(utf16le)); }

std::string Utf16ToGbk(const std::string& utf16le) { return UnicodeToGbk(utf16le); }

std::string Utf8ToUnicode(const std::string& utf8) { return BytesOf(Utf8ToU16(utf8)); }

std::string UnicodeToUtf8(const std::string& utf16le) { return U16ToUtf8(UnitsOf(utf16le)); }

std::string GbkToUtf8(const std::string& text) {
  std::string out = GbkToUtf8Text(text);
  out.push_back('\0');
  return out;
}

std::string GbkToUtf8Text(const std::string& text) { return U16ToUtf8(GbkToU16(text)); }

std::string Utf8ToGbk(const std::string& utf8) { return U16ToGbkUnits(Utf8ToU16(utf8)); }

std::string Utf8TextToGbk(const std::string& utf8) { return Utf8ToGbk(utf8); }

namespace {

// Changes the case of the single-byte letters of s in place (to lower case
// when lower, else to upper case). Eight bytes without a lead byte are one
// ASCII word and change together; elsewhere the walk goes character by
// character, stepping over double-byte characters.
void ChangeAsciiCase(std::string& s, bool lower) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte k of a loaded word is bits 8k..8k+7");
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const char first = lower ? 'A' : 'a';
  const std::uint64_t geFirst = kOnes * static_cast<std::uint64_t>(0x80 - first);
  const std::uint64_t gtLast = kOnes * static_cast<std::uint64_t>(0x7F - (first + 25));
  char* const data = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n) {
      // The single-byte characters at the start of the next eight bytes (up
      // to the first byte of 0x80 or above) change at once.
      std::uint64_t w;
      std::memcpy(&w, data + i, 8);
      const std::uint64_t high = w & kHigh;
      const std::size_t span = high ? static_cast<std::size_t>(__builtin_ctzll(high)) / 8 : 8;
      if (span > 0) {
        // Per byte: high bit of (b + 0x80 - first) when b >= first, of
        // (b + 0x7F - last) when b > last. Bytes below 0x80 pass no carry
        // upwards, and only those of the span are used.
        std::uint64_t letters = (w + geFirst) & ~(w + gtLast) & kHigh;
        if (span < 8) letters &= (1ull << (8 * span)) - 1;
        w = lower ? w | (letters >> 2) : w & ~(letters >> 2);
        std::memcpy(data + i, &w, 8);
        i += span;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (IsGbkLeadByte(c)) {
      i += 2;  // a lead byte at the very end just ends the loop
      continue;
    }
    if (static_cast<unsigned char>(c - first) < 26) data[i] = static_cast<char>(lower ? c + 32 : c - 32);
    ++i;
  }
}

}  // namespace

std::string GbkToLowerAscii(std::string s) {
  ChangeAsciiCase(s, true);
  return s;
}

std::string GbkToUpperAscii(std::string s) {
  ChangeAsciiCase(s, false);
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
  std::size_t known = from;  // a character start by contract
  for (std::size_t pos = hay.find(needle, from); pos != std::string::npos; pos = hay.find(needle, pos + 1)) {
    if (IsGbkCharStart(hay, pos, known)) return pos;
    known = pos + 1;  // pos is the second byte of a character
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

bool GbkScanner::IsBoundary(std::size_t pos) {
  if (pos < cursor_) cursor_ = 0;
  const bool start = IsGbkCharStart(*hay_, pos, cursor_);
  cursor_ = start ? pos : pos + 1;  // else pos ends the pair that began before it
  return start;
}

std::size_t GbkScanner::Find(const std::string& needle, std::size_t from) {
  if (from > hay_->size()) return std::string::npos;
  const std::size_t start = IsBoundary(from) ? from : from + 1;
  for (std::size_t pos = hay_->find(needle, start); pos != std::string::npos; pos = hay_->find(needle, pos + 1)) {
    if (IsBoundary(pos)) return pos;
  }
  return std::string::npos;
}

}  // namespace lanshu
