#include "text/InputText.h"

#include <algorithm>
#include <cstdio>

#include "text/Codec.h"

namespace lanshu {
namespace {

bool IsBlank(const std::string& s, std::size_t i, std::size_t n) {
  return (n == 1 && (s[i] == ' ' || s[i] == '\t')) || (n == 2 && s[i] == '\xA1' && s[i + 1] == '\xA1');
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

std::u16string TrimBlanks(const std::u16string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Combining marks that the conversion composes with the character before them.
bool IsCombiningMark(char16_t c) { return (c >= 0x0300 && c <= 0x036F) || (c >= 0x3099 && c <= 0x309A); }

std::size_t CountQuestionMarks(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '?')); }

// The piece with every character the conversion turns into "?" marked. A
// character is taken with its surrogate pair and following combining marks,
// because the conversion treats them as one.
std::string MarkUnwritable(const std::u16string& piece, bool& any) {
  std::string out;
  for (std::size_t i = 0; i < piece.size();) {
    std::size_t end = i + 1;
    if (piece[i] >= 0xD800 && piece[i] <= 0xDBFF && end < piece.size() && piece[end] >= 0xDC00 && piece[end] <= 0xDFFF)
      ++end;
    while (end < piece.size() && IsCombiningMark(piece[end])) ++end;
    const std::u16string unit = piece.substr(i, end - i);
    const std::string gbk = U16ToGbk(unit);
    if (CountQuestionMarks(gbk) > static_cast<std::size_t>(std::count(unit.begin(), unit.end(), u'?'))) {
      any = true;
      for (std::size_t k = i; k < end; ++k) {
        char32_t cp = piece[k];
        if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < end && piece[k + 1] >= 0xDC00 && piece[k + 1] <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (piece[k + 1] - 0xDC00);
          ++k;
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned>(cp));
        out += buf;
      }
    } else {
      out += gbk;
    }
    i = end;
  }
  return out;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0, end = 0;
  bool leading = true;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = GbkCharLen(text, i);
    if (!IsBlank(text, i, n)) {
      if (leading) begin = i;
      leading = false;
      end = i + n;
    }
    i += n;
  }
  return leading ? std::string() : text.substr(begin, end - begin);
}

std::vector<std::string> NonBlankPieces(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  auto add = [&](std::size_t from, std::size_t to) {
    std::string piece = TrimBlanks(text.substr(from, to - from));
    if (!piece.empty()) pieces.push_back(std::move(piece));
  };
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (!separator.empty() && text.compare(i, separator.size(), separator) == 0) {
      add(from, i);
      i += separator.size();
      from = i;
    } else {
      i += GbkCharLen(text, i);
    }
  }
  add(from, text.size());
  return pieces;
}

std::string FirstUnwritablePiece(const std::u16string& text, const std::u16string& separator) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = separator.empty() ? std::u16string::npos : text.find(separator, from);
    const std::u16string piece = TrimBlanks(text.substr(from, at == std::u16string::npos ? std::u16string::npos : at - from));
    bool any = false;
    std::string marked = MarkUnwritable(piece, any);
    if (any) return marked;
    if (at == std::u16string::npos) return std::string();
    from = at + separator.size();
  }
}

}  // namespace lanshu
