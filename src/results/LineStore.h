#pragma once
// The text of the keyword-mining result box: GBK with "\r\n" line ends in one
// string, beside it the offset where each line starts. 100,000 lines cost
// little more than their bytes, an append costs the length of what it adds,
// and any line is found at once.
//
// The text is kept the way a Qt text box keeps and gives back what it is
// given: every line end ("\r\n", a lone "\r" or "\n", and the paragraph, line
// and frame breaks a text document treats as one) becomes "\r\n", a no-break
// space becomes a space, and the characters go through the GBK conversion
// both ways (so a byte that decodes to "?" reads back as "?", and the text
// stops at a zero byte). Text() is thus byte for byte what export and copy
// gave when the box was a text edit.
#include <cstddef>
#include <string>
#include <vector>

namespace lanshu {

// A place between two characters of the text, 0-based. A column counts
// characters, a double-byte one as one; in the text as kept that is also the
// number of UTF-16 units the line shows as.
struct TextPosition {
  int line = 0;
  int column = 0;
};
inline bool operator==(TextPosition a, TextPosition b) { return a.line == b.line && a.column == b.column; }
inline bool operator!=(TextPosition a, TextPosition b) { return !(a == b); }
inline bool operator<(TextPosition a, TextPosition b) {
  return a.line < b.line || (a.line == b.line && a.column < b.column);
}

// The text as a text box keeps it (see above), from GBK or from UTF-16.
std::string BoxTextOfGbk(const std::string& gbk);
std::string BoxTextOfWide(const std::u16string& wide);

class LineStore {
 public:
  LineStore() = default;

  // Adds text at the end: any number of lines, or part of one. Each call's
  // line ends stand alone: a "\r" at the end of one call and a "\n" at the
  // start of the next are two line ends, as in a text box.
  void Append(const std::string& gbk);
  void Clear();
  void SetText(const std::string& gbk);
  void SetTextWide(const std::u16string& wide);

  const std::string& Text() const { return text_; }
  bool Empty() const { return text_.empty(); }
  // Lines as a text box counts them: an empty text is one empty line, and a
  // text that ends with a line end has an empty line after it.
  int LineCount() const { return static_cast<int>(starts_.size()); }
  // The line without its line end; empty out of range.
  std::string Line(int line) const;
  // Bytes and characters of the line, its line end left out; 0 out of range.
  std::size_t LineBytes(int line) const;
  int ColumnCount(int line) const;
  // The line with the most bytes: a double-byte character is about as wide as
  // two single-byte ones, so this is the widest line to within the font.
  int LongestLine() const { return longest_; }
  // The position after the last character.
  TextPosition End() const;
  // The text between two positions (in either order), lines joined by
  // "\r\n"; positions out of range are moved to the nearest one in it.
  std::string TextBetween(TextPosition a, TextPosition b) const;

 private:
  std::size_t LineBegin(int line) const { return starts_[line]; }
  std::size_t LineEnd(int line) const;  // before the line end
  std::size_t Offset(TextPosition p) const;
  void IndexFrom(std::size_t offset, int firstTouchedLine);

  std::string text_;
  std::vector<std::size_t> starts_{0};
  int longest_ = 0;
};

}  // namespace lanshu
