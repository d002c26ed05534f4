#include "text/InputText.h"

#include <gtest/gtest.h>

#include "text/Codec.h"
#include "text/Csv.h"

using namespace lanshu;

namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }
using Pieces = std::vector<std::string>;

}  // namespace

TEST(CsvCell, QuotesOnlyCellsWithCommasQuotesOrLineBreaks) {
  EXPECT_EQ(CsvCell("plain"), "plain");
  EXPECT_EQ(CsvCell(""), "");
  EXPECT_EQ(CsvCell(G("中文，全角")), G("中文，全角"));
  EXPECT_EQ(CsvCell("3,404,667"), "\"3,404,667\"");
  EXPECT_EQ(CsvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvCell("a\r\nb"), "\"a\r\nb\"");
  EXPECT_EQ(CsvCell("a\rb"), "\"a\rb\"");
  EXPECT_EQ(CsvCell("\n"), "\"\n\"");
  // A double-byte character whose second byte reads as "|" or "\" is no reason.
  EXPECT_EQ(CsvCell("\x81\x7C\x81\x5C"), "\x81\x7C\x81\x5C");
}

// A stored line is read back into the very cells it was written from.
TEST(CsvCells, ReadsBackWhatCsvLineWrote) {
  const std::vector<std::vector<std::string>> lines = {
      {"plain"}, {""}, {"", ""}, {"3,404,667", "say \"hi\"", "a\r\nb"}, {"\"", ",", "\"\""}, {G("中文"), "\x81\x7C"}};
  for (const auto& cells : lines) EXPECT_EQ(CsvCells(CsvLine(cells)), cells) << CsvLine(cells);
}

TEST(InputText, PiecesAreTrimmedAndBlankOnesLeftOut) {
  EXPECT_EQ(TrimBlanks(G(" \t　a b　\t ")), "a b");
  EXPECT_EQ(TrimBlanks(G("　\t ")), "");
  EXPECT_EQ(TrimBlanks("\xB0\xA1\xA1"), "\xB0\xA1\xA1");  // a character ending in A1, then a lone A1
  EXPECT_EQ(NonBlankPieces("example.com | example.net", "|"), (Pieces{"example.com", "example.net"}));
  EXPECT_EQ(NonBlankPieces(G("a||　|\tb|"), "|"), (Pieces{"a", "b"}));
  EXPECT_EQ(NonBlankPieces("a|b", "|"), (Pieces{"a", "b"}));
  EXPECT_EQ(NonBlankPieces("", "|"), Pieces{});
  EXPECT_EQ(NonBlankPieces(" | ", "|"), Pieces{});
  EXPECT_EQ(NonBlankPieces(G("减肥\r\n\r\n 丰胸\t\r\n　\r\n"), "\r\n"), (Pieces{G("减肥"), G("丰胸")}));
  // A second byte that reads as "|" does not split its character.
  EXPECT_EQ(NonBlankPieces("a\x81|b", "|"), (Pieces{"a\x81|b"}));
  // Line breaks other than CR LF stay inside a seed, as they do today.
  EXPECT_EQ(NonBlankPieces("a\nb", "\r\n"), (Pieces{"a\nb"}));
}

TEST(InputText, UnwritablePiecesAreNamedWithTheirCharactersMarked) {
  EXPECT_EQ(FirstUnwritablePiece(u"example.com|example.net", u"|"), "");
  EXPECT_EQ(FirstUnwritablePiece(u"", u"|"), "");
  EXPECT_EQ(FirstUnwritablePiece(u"what?|ok", u"|"), "");           // a real question mark
  EXPECT_EQ(FirstUnwritablePiece(u"\u00A5 \u20AC", u"|"), "");      // best fit and the euro sign are written
  EXPECT_EQ(FirstUnwritablePiece(u"e\u0301", u"|"), "");            // composed before it is written
  EXPECT_EQ(FirstUnwritablePiece(u"ok| \u51CF\u80A5\U0001F600 |\u0E01", u"|"), G("减肥") + "<U+1F600>");
  EXPECT_EQ(FirstUnwritablePiece(u"a\r\n\u0E01b\r\nc", u"\r\n"), "<U+0E01>b");
}
