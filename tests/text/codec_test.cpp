#include "text/Codec.h"

#include <gtest/gtest.h>

#include <string>

using namespace lanshu;

namespace {

std::string U16Bytes(std::u16string s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

const std::string kJianFei = "\xBC\xF5\xB7\xCA";  // 减肥 in GBK

}  // namespace

TEST(Codec, DecodesTheWindowsTable) {
  EXPECT_EQ(GbkToU16("\x80"), u"\u20AC");              // euro sign
  EXPECT_EQ(GbkToU16("\xFF"), u"\uF8F5");
  EXPECT_EQ(GbkToU16(kJianFei), u"\u51CF\u80A5");
  EXPECT_EQ(GbkToU16("\xAA\xA1"), u"\uE000");          // user-defined area -> private use
  EXPECT_EQ(GbkToU16("a\xA1\xA1z"), u"a\u3000z");
}

TEST(Codec, DecodesInvalidBytesToQuestionMarks) {
  EXPECT_EQ(GbkToU16("ab\x81"), u"ab?");                // lone lead byte at the end
  EXPECT_EQ(GbkToU16("\x81 x"), u"? x");                // invalid trail is read again alone
  EXPECT_EQ(GbkToU16("\x81\x7F"), u"?\x7F");
  EXPECT_EQ(GbkToU16("x\0y"), u"x");                    // a text ends at its zero byte
}

TEST(Codec, EncodesWithBestFitCompositionAndQuestionMarks) {
  EXPECT_EQ(U16ToGbk(u"\u00A5"), "\xA3\xA4");          // yen sign, best fit
  EXPECT_EQ(U16ToGbk(u"e\u0301"), "\xA8\xA6");         // composed to e acute
  EXPECT_EQ(U16ToGbk(u"\U0001F600"), "??");            // one "?" per UTF-16 unit
  EXPECT_EQ(U16ToGbk(u"\xD800x"), "?x");               // lone surrogate
  EXPECT_EQ(U16ToGbk(u"\u0E01"), "?");                 // Thai letter: no mapping
  EXPECT_EQ(U16ToGbk(u"\u20AC"), "\x80");
  EXPECT_EQ(U16ToGbk(u"a\u0000b"), "a");               // cut at the first zero byte
  EXPECT_EQ(U16ToGbk(u"q\u0301"), "q?");               // no precomposed form: mark alone
}

TEST(Codec, ConversionOperationsKeepTheirTerminators) {
  EXPECT_EQ(GbkToUnicode(""), std::string(2, '\0'));
  EXPECT_EQ(GbkToUnicode("A"), std::string("A\0\0\0", 4));
  EXPECT_EQ(GbkToUtf8(""), std::string(1, '\0'));
  EXPECT_EQ(GbkToUtf8(kJianFei), std::string("\xE5\x87\x8F\xE8\x82\xA5\0", 7));
  EXPECT_EQ(Utf8ToUnicode("A\xE4\xB8\xAD"), U16Bytes(u"A\u4E2D"));
  EXPECT_EQ(UnicodeToUtf8(U16Bytes(u"\u4E2D") + std::string(2, '\0')), std::string("\xE4\xB8\xAD\0", 4));
  EXPECT_EQ(UnicodeToGbk(U16Bytes(u"\u51CF\u80A5")), kJianFei);
  EXPECT_EQ(Utf8ToGbk("\xE5\x87\x8F\xE8\x82\xA5"), kJianFei);
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80"), "??");      // emoji from a UTF-8 page
  EXPECT_EQ(Utf8ToGbk("a\xFF" "b"), "a?b");            // broken UTF-8
  EXPECT_EQ(Utf16ToGbk(U16Bytes(u"\u4E2D")), "\xD6\xD0");
  EXPECT_EQ(UnicodeToGbk("A"), "");                    // odd byte count: no whole unit
}

TEST(Codec, CaseChangesLeaveTrailBytesAlone) {
  // 0xB0 0x41 is one character whose trail byte looks like "A".
  EXPECT_EQ(GbkToLowerAscii("AB\xB0\x41Z"), "ab\xB0\x41z");
  EXPECT_EQ(GbkToUpperAscii("ab\xB0\x61z"), "AB\xB0\x61Z");
}

TEST(Codec, SearchesStepOverDoubleByteCharacters) {
  const std::string hay = "\xB0\x41" "A";  // a character ending in 0x41, then "A"
  EXPECT_EQ(GbkFind(hay, "A"), 2u);
  EXPECT_EQ(GbkFind(hay, "A\x41"), std::string::npos);
  EXPECT_EQ(GbkFindNoCase(hay, "a"), 2u);
  EXPECT_EQ(GbkFindNoCase("\xB0\x61", "\xB0\x41"), std::string::npos);  // distinct characters
  EXPECT_EQ(GbkFindNoCase("x\xB0\x41Yz", "\xB0\x41y"), 1u);
  EXPECT_EQ(GbkFind("abc", "", 1), 1u);
  EXPECT_EQ(GbkFind("abc", "c", 4), std::string::npos);
  EXPECT_EQ(GbkFindLast("a<b<c", "<", 5), 3u);
  EXPECT_EQ(GbkFindLast("a<b<c", "<", 3), 1u);
  EXPECT_EQ(GbkFindLast("\xB0<<", "<", 3), 2u);  // 0xB0 0x3C is one character

  GbkScanner scan(hay);
  EXPECT_EQ(scan.Find("A", 0), 2u);
  EXPECT_EQ(scan.Find("A", 1), 2u);  // from inside a character: next start
  EXPECT_FALSE(scan.IsBoundary(1));
  EXPECT_TRUE(scan.IsBoundary(0));
}
