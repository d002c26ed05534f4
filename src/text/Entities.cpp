#include "text/Entities.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "text/Codec.h"
#include "hooks/Events.h"

namespace lanshu {
namespace {

struct Entity {
  std::string_view name;
  std::string_view gbk;  // replacement in code page 936
};

// Order matters: "&amp;" comes last so that "&amp;lt;" decodes to "&lt;" and
// no further. "&prime;" comes before "&Prime;" and names match regardless of
// case, so "&Prime;" is taken by "&prime;" and gives the single prime (a
// deliberate choice: it keeps the established output); the "&Prime;" row
// stays so that the table keeps its forty items.
constexpr std::array<Entity, 40> kEntities{{
    {"&ndash;", "\xA8\x43"},   // U+2013
    {"&mdash;", "\xA1\xAA"},   // U+2014
    {"&ldquo;", "\xA1\xB0"},   // U+201C
    {"&rdquo;", "\xA1\xB1"},   // U+201D
    {"&nbsp;", " "},           // an ordinary space
    {"&lt;", "<"},
    {"&gt;", ">"},
    {"&quot;", "\""},
    {"&times;", "\xA1\xC1"},   // U+00D7
    {"&divide;", "\xA1\xC2"},  // U+00F7
    {"&middot;", "\xA1\xA4"},  // U+00B7
    {"&hellip;", "\xA1\xAD"},  // U+2026
    {"&lsquo;", "\xA1\xAE"},   // U+2018
    {"&rsquo;", "\xA1\xAF"},   // U+2019
    {"&permil;", "\xA1\xEB"},  // U+2030
    {"&prime;", "\xA1\xE4"},   // U+2032
    {"&Prime;", "\xA1\xE5"},   // U+2033, never reached (see above)
    {"&larr;", "\xA1\xFB"},    // U+2190
    {"&uarr;", "\xA1\xFC"},    // U+2191
    {"&rarr;", "\xA1\xFA"},    // U+2192
    {"&darr;", "\xA1\xFD"},    // U+2193
    {"&radic;", "\xA1\xCC"},   // U+221A
    {"&prop;", "\xA1\xD8"},    // U+221D
    {"&infin;", "\xA1\xDE"},   // U+221E
    {"&ang;", "\xA1\xCF"},     // U+2220
    {"&and;", "\xA1\xC4"},     // U+2227
    {"&or;", "\xA1\xC5"},      // U+2228
    {"&cap;", "\xA1\xC9"},     // U+2229
    {"&cup;", "\xA1\xC8"},     // U+222A
    {"&int;", "\xA1\xD2"},     // U+222B
    {"&there4;", "\xA1\xE0"},  // U+2234
    {"&sim;", "\xA1\xAB"},     // U+FF5E, the full-width tilde
    {"&asymp;", "\xA1\xD6"},   // U+2248
    {"&ne;", "\xA1\xD9"},      // U+2260
    {"&equiv;", "\xA1\xD4"},   // U+2261
    {"&le;", "\xA1\xDC"},      // U+2264
    {"&ge;", "\xA1\xDD"},      // U+2265
    {"&oplus;", "\xA8\x92"},   // U+2295
    {"&perp;", "\xA1\xCD"},    // U+22A5
    {"&amp;", "&"},
}};

constexpr std::size_t kLongestName = 8;

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool EqualsNoCase(const char* s, std::string_view name) {
  for (std::size_t k = 0; k < name.size(); ++k) {
    if (FoldAscii(s[k]) != FoldAscii(name[k])) return false;
  }
  return true;
}

// Items of a list joined by sep; inner empty items stay, one empty item at the
// very end is dropped.
std::vector<std::string> SplitItems(const std::string& list, const std::string& sep) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = GbkFind(list, sep, start);
    if (at == std::string::npos) {
      items.push_back(list.substr(start));
      break;
    }
    items.push_back(list.substr(start, at - start));
    start = at + sep.size();
  }
  if (items.back().empty()) items.pop_back();
  return items;
}

// One left-to-right pass replacing up to count (negative: all) occurrences.
void ReplaceItem(std::string& text, const std::string& find, const std::string& replacement,
                 bool caseSensitive, int count) {
  std::string out;
  std::size_t pos = 0;
  for (int done = 0; count < 0 || done < count; ++done) {
    std::size_t at = caseSensitive ? GbkFind(text, find, pos) : GbkFindNoCase(text, find, pos);
    if (at == std::string::npos) break;
    if (out.empty()) out.reserve(text.size());
    out.append(text, pos, at - pos);
    out += replacement;
    pos = at + find.size();
  }
  if (pos == 0) return;  // nothing replaced (a find item is never empty here)
  out.append(text, pos, std::string::npos);
  text.swap(out);
}

// The entity whose name starts at text[at] ('&'), comparing without regard to
// case; the first in table order wins. Names hold one ";", at their end, so the
// first ";" after at fixes the only length that can match.
const Entity* EntityAt(const std::string& text, std::size_t at) {
  const std::size_t end = std::min(text.size(), at + kLongestName);
  std::size_t semi = at + 1;
  while (semi < end && text[semi] != ';') ++semi;
  if (semi >= end) return nullptr;
  const std::size_t len = semi - at + 1;
  for (const Entity& e : kEntities) {
    if (e.name.size() == len && EqualsNoCase(text.data() + at, e.name)) return &e;
  }
  return nullptr;
}

// The named step in a single pass. This gives exactly what ReplaceList with the
// table gives, item by item: names begin with "&" and hold no other "&" or ";",
// so matches never overlap; no replacement can complete a later name (only
// "&amp;" yields an "&", and it is the last item); and every replacement is
// whole characters, so character starts after it stay where they were.
std::string DecodeNamed(const std::string& text) {
  std::size_t at = text.find('&');
  if (at == std::string::npos) return text;
  GbkScanner scanner(text);
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  while (at != std::string::npos) {
    const Entity* e = scanner.IsBoundary(at) ? EntityAt(text, at) : nullptr;
    if (e == nullptr) {
      at = text.find('&', at + 1);
      continue;
    }
    out.append(text, copied, at - copied);
    out.append(e->gbk.data(), e->gbk.size());
    copied = at + e->name.size();
    at = text.find('&', copied);
  }
  out.append(text, copied, std::string::npos);
  return out;
}

// Code page 936 form of one UTF-16 unit. A reference is converted on its own,
// so the result depends on the unit alone; remembering it keeps long pages of
// references from paying for a converter call each.
std::string UnitToGbk(char16_t unit) {
  // Entry: bit 31 set once known, bits 16-17 the length, bits 0-15 the bytes.
  static std::array<std::atomic<std::uint32_t>, 0x10000> known{};
  std::uint32_t entry = known[unit].load(std::memory_order_relaxed);
  if (entry == 0) {
    const char bytes[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    std::string gbk = Utf16ToGbk(std::string(bytes, 2));
    if (gbk.size() > 2) return gbk;  // not expected of code page 936; just not remembered
    entry = 0x80000000u | (static_cast<std::uint32_t>(gbk.size()) << 16);
    for (std::size_t k = 0; k < gbk.size(); ++k) {
      entry |= static_cast<std::uint32_t>(static_cast<unsigned char>(gbk[k])) << (8 * k);
    }
    known[unit].store(entry, std::memory_order_relaxed);
  }
  const char out[2] = {static_cast<char>(entry & 0xFF), static_cast<char>((entry >> 8) & 0xFF)};
  return std::string(out, (entry >> 16) & 0x3);
}

std::string CodePointToGbk(std::uint32_t cp) {
  if (cp == 0) return std::string();
  if (cp <= 0xFFFF) return UnitToGbk(static_cast<char16_t>(cp));
  // Beyond the basic plane: the surrogate pair goes through the converter like
  // any other character code page 936 lacks.
  const std::uint32_t v = cp - 0x10000;
  const char16_t hi = static_cast<char16_t>(0xD800 + (v >> 10));
  const char16_t lo = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  const char bytes[4] = {static_cast<char>(hi & 0xFF), static_cast<char>(hi >> 8),
                         static_cast<char>(lo & 0xFF), static_cast<char>(lo >> 8)};
  return Utf16ToGbk(std::string(bytes, 4));
}

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The numeric step. It walks backwards over one byte buffer edited in place:
// the bytes not yet examined stay at the front, [0, front); the finished text
// grows leftwards at the back, [back, end). Between them lies the room freed by
// references already replaced (a reference takes at least four bytes, its
// replacement at most two), so each byte is moved once and a page of many
// references costs linear time. A reference is read in the current text, the
// front followed by the back, so characters decoded after a "&#" can complete
// it ("&#&#54;&#53;&#59;" gives "A"), as a walk that rebuilds the text would.
class NumericDecoder {
 public:
  explicit NumericDecoder(std::string text)
      : buf_(std::move(text)), front_(buf_.size()), back_(buf_.size()) {}

  std::string Run() {
    std::size_t limit = front_;  // the next "&#" lies entirely before limit
    while (limit >= 2) {
      ProcessPendingEvents();
      const std::size_t p = std::string_view(buf_.data(), limit).rfind("&#");
      if (p == std::string_view::npos) break;
      limit = p;
      std::size_t end = 0;  // one past the ";"
      std::uint32_t cp = 0;
      if (Parse(p, end, cp)) Replace(p, end, CodePointToGbk(cp));
    }
    // Join the front to the finished back.
    std::memmove(&buf_[back_ - front_], buf_.data(), front_);
    buf_.erase(0, back_ - front_);
    std::size_t zero = buf_.find('\0');
    if (zero != std::string::npos) buf_.resize(zero);
    return std::move(buf_);
  }

 private:
  // Byte i of the current text, or -1 past its end.
  int At(std::size_t i) const {
    if (i < front_) return static_cast<unsigned char>(buf_[i]);
    const std::size_t j = back_ + (i - front_);
    return j < buf_.size() ? static_cast<unsigned char>(buf_[j]) : -1;
  }

  // A well-formed reference at p ("&#" known): digits, then ";". A value beyond
  // U+10FFFF is not a character, so it is not well-formed either; the value is
  // capped while reading, so a run of any length cannot overflow.
  bool Parse(std::size_t p, std::size_t& end, std::uint32_t& cp) const {
    std::size_t i = p + 2;
    const bool hex = At(i) == 'x' || At(i) == 'X';
    if (hex) ++i;
    const std::uint32_t base = hex ? 16 : 10;
    std::uint32_t value = 0;
    bool tooLarge = false;
    const std::size_t first = i;
    for (;; ++i) {
      const int c = At(i);
      const int digit = hex ? HexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
      if (digit < 0) break;
      if (!tooLarge) {
        value = value * base + static_cast<std::uint32_t>(digit);
        tooLarge = value > kMaxCodePoint;
      }
    }
    if (i == first || At(i) != ';' || tooLarge) return false;
    end = i + 1;
    cp = value;
    return true;
  }

  // Replaces the current text's bytes [p, end) by replacement; p lies in the
  // front, end anywhere after it.
  void Replace(std::size_t p, std::size_t end, const std::string& replacement) {
    if (end <= front_) {
      const std::size_t keep = front_ - end;  // examined bytes after the reference
      std::memmove(&buf_[back_ - keep], &buf_[end], keep);
      back_ -= keep;
    } else {
      back_ += end - front_;  // the reference ran into the finished part
    }
    front_ = p;
    if (back_ - front_ < replacement.size()) {  // never for code page 936; grow if it were
      const std::size_t grow = replacement.size() - (back_ - front_);
      buf_.insert(front_, grow, '\0');
      back_ += grow;
    }
    back_ -= replacement.size();
    std::memcpy(&buf_[back_], replacement.data(), replacement.size());
  }

  std::string buf_;
  std::size_t front_;
  std::size_t back_;
};

std::string JoinColumn(std::string_view Entity::*column) {
  std::string list;
  for (const Entity& e : kEntities) {
    if (!list.empty()) list += '|';
    list.append((e.*column).data(), (e.*column).size());
  }
  return list;
}

}  // namespace

std::string ReplaceList(std::string& text, const std::string& findList, const std::string& replaceList,
                        bool caseSensitive, bool fillEmpty, const std::string& separator, int count) {
  const std::string sep = separator.empty() ? std::string("|") : separator;
  if (count < 1) count = -1;
  const std::vector<std::string> finds = SplitItems(findList, sep);
  std::vector<std::string> replacements = SplitItems(replaceList, sep);
  replacements.resize(finds.size());
  for (std::size_t k = 0; k < finds.size(); ++k) {
    if (fillEmpty && replacements[k].empty()) replacements[k] = replacements[0];
    if (finds[k].empty()) continue;
    ReplaceItem(text, finds[k], replacements[k], caseSensitive, count);
  }
  return text;
}

std::string DecodeEntities(std::string& text, bool skipNumeric) {
  std::string named = DecodeNamed(text);
  text.assign(named);  // the named step only shortens, so text's own storage takes it
  if (skipNumeric) return named;
  return NumericDecoder(std::move(named)).Run();
}

std::string DecodeEntities(const std::string& text, bool skipNumeric) {
  std::string named = DecodeNamed(text);
  if (skipNumeric) return named;
  return NumericDecoder(std::move(named)).Run();
}

const std::string& EntityNameList() {
  static const std::string list = JoinColumn(&Entity::name);
  return list;
}

const std::string& EntityReplacementList() {
  static const std::string list = JoinColumn(&Entity::gbk);
  return list;
}

}  // namespace lanshu
