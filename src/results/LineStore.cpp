#include "results/LineStore.h"

#include <algorithm>
#include <cstring>

#include "text/Codec.h"

namespace lanshu {

std::string BoxTextOfGbk(const std::string& gbk) { return BoxTextOfWide(GbkToU16(gbk)); }

std::string BoxTextOfWide(const std::u16string& wide) {
  std::u16string folded;
  folded.reserve(wide.size() + wide.size() / 8);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    switch (c) {
      case u'\r':
        if (i + 1 < wide.size() && wide[i + 1] == u'\n') ++i;
        [[fallthrough]];
      case u'\n':
      case u'\u2028':  // line separator: a text document gives it back as "\n"
      case u'\u2029':  // paragraph separator
      case u'\uFDD0':  // a document's frame marks
      case u'\uFDD1':
        folded += u"\r\n";
        break;
      case u'\u00A0':  // given back as a plain space
        folded += u' ';
        break;
      default:
        folded += c;
    }
  }
  return U16ToGbk(folded);
}

void LineStore::Append(const std::string& gbk) {
  const std::string added = BoxTextOfGbk(gbk);
  if (added.empty()) return;
  const std::size_t from = text_.size();
  const int lastLine = LineCount() - 1;  // the text goes on from there
  text_ += added;
  IndexFrom(from, lastLine);
}

void LineStore::Clear() {
  // A cleared box gives its memory back: the next run may be smaller.
  std::string().swap(text_);
  std::vector<std::size_t>{0}.swap(starts_);
  longest_ = 0;
}

void LineStore::SetText(const std::string& gbk) {
  Clear();
  Append(gbk);
}

void LineStore::SetTextWide(const std::u16string& wide) {
  Clear();
  text_ = BoxTextOfWide(wide);
  IndexFrom(0, 0);
}

void LineStore::IndexFrom(std::size_t offset, int firstTouchedLine) {
  const char* const data = text_.data();
  const char* const end = data + text_.size();
  for (const char* p = data + offset; p < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!p) break;
    starts_.push_back(static_cast<std::size_t>(p - data) + 1);
  }
  // Lines only grow, so the longest one is among the old one and those touched.
  std::size_t longestBytes = LineBytes(longest_);
  for (int line = firstTouchedLine; line < LineCount(); ++line) {
    const std::size_t bytes = LineBytes(line);
    if (bytes > longestBytes) {
      longest_ = line;
      longestBytes = bytes;
    }
  }
}

std::size_t LineStore::LineEnd(int line) const {
  if (line + 1 >= LineCount()) return text_.size();
  std::size_t end = starts_[line + 1] - 1;  // at the "\n"
  if (end > starts_[line] && text_[end - 1] == '\r') --end;
  return end;
}

std::string LineStore::Line(int line) const {
  if (line < 0 || line >= LineCount()) return {};
  return text_.substr(LineBegin(line), LineEnd(line) - LineBegin(line));
}

std::size_t LineStore::LineBytes(int line) const {
  return line < 0 || line >= LineCount() ? 0 : LineEnd(line) - LineBegin(line);
}

int LineStore::ColumnCount(int line) const {
  if (line < 0 || line >= LineCount()) return 0;
  int columns = 0;
  for (std::size_t i = LineBegin(line), end = LineEnd(line); i < end; i += GbkCharLen(text_, i)) ++columns;
  return columns;
}

TextPosition LineStore::End() const { return {LineCount() - 1, ColumnCount(LineCount() - 1)}; }

std::size_t LineStore::Offset(TextPosition p) const {
  if (p.line < 0) return 0;
  if (p.line >= LineCount()) return text_.size();
  const std::size_t end = LineEnd(p.line);
  std::size_t i = LineBegin(p.line);
  for (int column = 0; column < p.column && i < end; ++column) i += GbkCharLen(text_, i);
  return std::min(i, end);
}

std::string LineStore::TextBetween(TextPosition a, TextPosition b) const {
  std::size_t from = Offset(a), to = Offset(b);
  if (to < from) std::swap(from, to);
  return text_.substr(from, to - from);
}

}  // namespace lanshu
