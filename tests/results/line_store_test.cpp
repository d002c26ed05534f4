#include "results/LineStore.h"

#include <gtest/gtest.h>

#include <random>

#include "text/Codec.h"

using namespace lanshu;

namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

// Every line as the store gives it, against the text cut at its line ends.
void ExpectLinesMatchText(const LineStore& store) {
  std::vector<std::string> cut;
  const std::string& text = store.Text();
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    cut.push_back(text.substr(from, at - from));
  cut.push_back(text.substr(from));
  ASSERT_EQ(store.LineCount(), static_cast<int>(cut.size()));
  for (int i = 0; i < store.LineCount(); ++i) {
    EXPECT_EQ(store.Line(i), cut[i]) << "line " << i;
    EXPECT_EQ(store.LineBytes(i), cut[i].size()) << "line " << i;
    // The view counts a line's characters in UTF-16 units.
    EXPECT_EQ(store.ColumnCount(i), static_cast<int>(GbkToU16(cut[i]).size())) << "line " << i;
  }
}

}  // namespace

TEST(LineStore, AppendsWholeLinesAndPartsOfLines) {
  LineStore store;
  store.Append(G("甲,1\r\n"));
  store.Append(G("乙"));
  store.Append(",2\r\n");
  store.Append(G("丙,3\r\n丁,4\r\n"));
  EXPECT_EQ(store.Text(), G("甲,1\r\n乙,2\r\n丙,3\r\n丁,4\r\n"));
  ASSERT_EQ(store.LineCount(), 5);
  EXPECT_EQ(store.Line(1), G("乙,2"));
  EXPECT_EQ(store.Line(3), G("丁,4"));
  EXPECT_EQ(store.Line(4), "");  // after the last line end, as in a text box
  EXPECT_EQ(store.Line(5), "");
  EXPECT_EQ(store.Line(-1), "");
  EXPECT_EQ(store.LineBytes(5), 0u);
  EXPECT_EQ(store.End(), (TextPosition{4, 0}));
  ExpectLinesMatchText(store);
}

TEST(LineStore, EveryLineEndBecomesCrLfAsATextBoxTakesIt) {
  LineStore store;
  store.Append("a\nb\rc\r\nd");
  EXPECT_EQ(store.Text(), "a\r\nb\r\nc\r\nd");
  // A CR ending one append and an LF starting the next are two line ends.
  store.Append("\r");
  store.Append("\ne");
  EXPECT_EQ(store.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  EXPECT_EQ(store.LineCount(), 6);
  ExpectLinesMatchText(store);
}

TEST(LineStore, BytesComeBackAsTheGbkConversionGivesThem) {
  // A lead byte without its second byte reads as "?"; a text stops at a zero
  // byte, its line end included; characters that survive the conversion stay.
  LineStore store;
  store.Append("a\x81\r\n");
  store.Append(std::string("ab\0cd\r\n", 7));
  store.Append("\xFF\x80\xA2\xA0" + G("，全角\r\n"));
  EXPECT_EQ(store.Text(), "a?\r\nab\xFF\x80\xA2\xA0" + G("，全角\r\n"));
  EXPECT_EQ(store.LineCount(), 3);
  ExpectLinesMatchText(store);
}

TEST(LineStore, WideTextFoldsDocumentBreaksAndCharactersGbkLacks) {
  LineStore store;
  store.SetTextWide(u"a\u2029b\u2028c\u00A0d\uFDD0e\uFDD1f\r\ng\rh\ni");
  EXPECT_EQ(store.Text(), "a\r\nb\r\nc d\r\ne\r\nf\r\ng\r\nh\r\ni");
  EXPECT_EQ(store.LineCount(), 8);
  // A supplementary character is "?" per unit; a letter and its combining
  // mark are written as the precomposed letter.
  store.SetTextWide(u"\U0001F600x e\u0301");
  EXPECT_EQ(store.Text(), "??x " + G("é"));
  EXPECT_EQ(store.ColumnCount(0), 5);
  ExpectLinesMatchText(store);
  EXPECT_EQ(BoxTextOfWide(u"\u7532\n"), G("甲\r\n"));
  EXPECT_EQ(BoxTextOfGbk(G("甲\n乙")), G("甲\r\n乙"));
}

TEST(LineStore, ManyAppendsKeepTheSameTextAsOneSetText) {
  // Random pieces of lines, cut anywhere but inside a character or a CR LF
  // pair: appending them one by one gives the text of them all at once.
  const std::vector<std::string> pieces{"a", G("甲"), ",", "\r\n", "\n", "\r\n\r\n", G("全角，"), "12", " "};
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    LineStore store, whole;
    std::string all, chunk;
    for (int i = 0; i < 300; ++i) {
      chunk += pieces[rng() % pieces.size()];
      if (rng() % 4 == 0 || i == 299) {
        store.Append(chunk);
        all += chunk;
        chunk.clear();
      }
    }
    whole.SetText(all);
    ASSERT_EQ(store.Text(), whole.Text());
    ASSERT_EQ(store.LineCount(), whole.LineCount());
    ASSERT_EQ(store.LongestLine(), whole.LongestLine());
    ExpectLinesMatchText(store);
  }
}

TEST(LineStore, TextBetweenTwoPositions) {
  LineStore store;
  store.Append(G("甲乙丙\r\nab\r\n丁x戊"));
  // Columns count characters, a double-byte one as one.
  EXPECT_EQ(store.TextBetween({0, 1}, {0, 3}), G("乙丙"));
  EXPECT_EQ(store.TextBetween({0, 2}, {2, 1}), G("丙\r\nab\r\n丁"));
  EXPECT_EQ(store.TextBetween({2, 1}, {0, 2}), G("丙\r\nab\r\n丁"));  // either order
  EXPECT_EQ(store.TextBetween({1, 2}, {1, 2}), "");
  EXPECT_EQ(store.TextBetween({0, 0}, store.End()), store.Text());
  EXPECT_EQ(store.End(), (TextPosition{2, 3}));
  // Out of range: a column past the end is the line's end, a line before or
  // after the text is the text's start or end.
  EXPECT_EQ(store.TextBetween({1, 9}, {2, 0}), "\r\n");
  EXPECT_EQ(store.TextBetween({1, -3}, {1, 1}), "a");
  EXPECT_EQ(store.TextBetween({-1, 4}, {0, 1}), G("甲"));
  EXPECT_EQ(store.TextBetween({2, 2}, {7, 0}), G("戊"));
}

TEST(LineStore, LongestLineCountsBytesAndFollowsALineThatGrows) {
  LineStore store;
  EXPECT_EQ(store.LongestLine(), 0);
  store.Append(G("甲\r\nabc\r\n"));
  EXPECT_EQ(store.LongestLine(), 1);  // 3 bytes against 2
  store.Append(G("乙"));
  store.Append(G("丙"));
  EXPECT_EQ(store.LongestLine(), 2);  // grown to 4 bytes over two appends
  store.Append("\r\nabcd\r\n");
  EXPECT_EQ(store.LongestLine(), 2);  // a tie keeps the first
}

TEST(LineStore, AnEmptyTextIsOneEmptyLineAfterAClearToo) {
  LineStore store;
  EXPECT_EQ(store.LineCount(), 1);
  EXPECT_EQ(store.TextBetween({0, 0}, {5, 5}), "");
  store.Append("longest line\r\nb\r\n");
  store.Clear();
  EXPECT_TRUE(store.Empty());
  EXPECT_EQ(store.LineCount(), 1);
  EXPECT_EQ(store.Line(0), "");
  EXPECT_EQ(store.End(), (TextPosition{0, 0}));
  EXPECT_EQ(store.LongestLine(), 0);
  store.Append("x");
  EXPECT_EQ(store.Text(), "x");
  store.SetText("p\nqq");
  EXPECT_EQ(store.Text(), "p\r\nqq");
  EXPECT_EQ(store.LongestLine(), 1);
  store.SetText("");
  EXPECT_EQ(store.LineCount(), 1);
}
