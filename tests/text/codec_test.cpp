#include "text/Codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

  // Long mixed texts against a walk character by character: ASCII runs are
  // changed eight bytes at a time, so runs of every length and position count.
  std::mt19937 rng(5);
  const char alphabet[] = {'A', 'Z', 'a', 'z', '@', '[', '`', '{', '\xB0', '\x7F', '0', '\xFF'};
  for (int round = 0; round < 500; ++round) {
    std::string s;
    for (std::size_t n = rng() % 40; n > 0; --n) s += alphabet[rng() % sizeof alphabet];
    std::string lower = s, upper = s;
    for (std::size_t i = 0; i < s.size(); i += GbkCharLen(s, i)) {
      if (GbkCharLen(s, i) != 1) continue;
      if (s[i] >= 'A' && s[i] <= 'Z') lower[i] = static_cast<char>(s[i] + 32);
      if (s[i] >= 'a' && s[i] <= 'z') upper[i] = static_cast<char>(s[i] - 32);
    }
    ASSERT_EQ(GbkToLowerAscii(s), lower) << round;
    ASSERT_EQ(GbkToUpperAscii(s), upper) << round;
  }
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

// Character starts found by looking back at lead bytes, by the scanner and by
// the searches, against a walk from the first byte, on strings dense in lead
// bytes and bytes that look like ASCII.
TEST(Codec, CharacterStartsAgreeWithAWalkFromTheStart) {
  std::mt19937 rng(11);
  const char alphabet[] = {'\xB0', '\xC1', '\xFF', '\x80', 'A', '<', 'a', '/'};
  for (int round = 0; round < 2000; ++round) {
    std::string s;
    for (std::size_t n = rng() % 24; n > 0; --n) s += alphabet[rng() % sizeof alphabet];
    std::vector<bool> start(s.size() + 1, false);
    for (std::size_t i = 0; i <= s.size(); i += i < s.size() ? GbkCharLen(s, i) : 1) start[i] = true;
    GbkScanner scan(s);
    for (std::size_t pos = 0; pos <= s.size(); ++pos) {
      ASSERT_EQ(IsGbkCharStart(s, pos), start[pos]) << round << " " << pos;
      ASSERT_EQ(scan.IsBoundary(pos), start[pos]) << round << " " << pos;
    }
    const std::string needle(1, alphabet[rng() % sizeof alphabet]);
    std::size_t expected = std::string::npos;
    for (std::size_t i = 0; i < s.size() && expected == std::string::npos; i += GbkCharLen(s, i))
      if (s.compare(i, 1, needle) == 0) expected = i;
    ASSERT_EQ(GbkFind(s, needle), expected) << round;
    ASSERT_EQ(GbkScanner(s).Find(needle, 0), expected) << round;
  }
}

// The tables behind the conversions are built from ICU's answers; every byte
// pair and every BMP unit must convert exactly as ICU converts it directly.
TEST(Codec, TablesAgreeWithTheIcuConverters) {
  using detail::ReferenceGbkToU16;
  using detail::ReferenceU16ToGbk;
  ASSERT_TRUE(detail::GbkTablesComplete());  // else the comparisons below prove nothing
  std::string s;
  for (int a = 0; a < 256; ++a) {
    s.assign(1, static_cast<char>(a));
    ASSERT_EQ(GbkToU16(s), ReferenceGbkToU16(s)) << a;
    for (int b = 0; b < 256; ++b) {
      s.assign({static_cast<char>(a), static_cast<char>(b)});
      ASSERT_EQ(GbkToU16(s), ReferenceGbkToU16(s)) << a << " " << b;
    }
  }
  // Around a trail byte read again: it may start a character of its own or be
  // a lone lead at the end.
  for (int lead : {0x81, 0xA1, 0xB0, 0xFE}) {
    for (int trail : {0x00, 0x20, 0x30, 0x3F, 0x40, 0x7F, 0x80, 0xA1, 0xFE, 0xFF}) {
      for (int third : {0x00, 0x41, 0x80, 0x81, 0xA1, 0xFF}) {
        s = {static_cast<char>(lead), static_cast<char>(trail), static_cast<char>(third)};
        ASSERT_EQ(GbkToU16(s), ReferenceGbkToU16(s)) << lead << " " << trail << " " << third;
        s += "\xB0";
        ASSERT_EQ(GbkToU16(s), ReferenceGbkToU16(s)) << lead << " " << trail << " " << third;
      }
    }
  }

  std::vector<char16_t> marks;
  std::u16string u;
  for (int c = 0; c < 0x10000; ++c) {
    u.assign(1, static_cast<char16_t>(c));
    ASSERT_EQ(U16ToGbk(u), ReferenceU16ToGbk(u)) << c;
    u += u'x';
    ASSERT_EQ(U16ToGbk(u), ReferenceU16ToGbk(u)) << c;
    if (c >= 0x300 && ReferenceU16ToGbk(u"A" + std::u16string(1, static_cast<char16_t>(c))) !=
                          ReferenceU16ToGbk(u"A") + ReferenceU16ToGbk(std::u16string(1, static_cast<char16_t>(c)))) {
      marks.push_back(static_cast<char16_t>(c));
    }
  }
  ASSERT_FALSE(marks.empty());  // combining marks compose with "A"
  // Every base with the marks that compose with "A" (and chains of two marks).
  for (char16_t mark : marks) {
    for (int base = 0; base < 0x10000; ++base) {
      u = {static_cast<char16_t>(base), mark};
      ASSERT_EQ(U16ToGbk(u), ReferenceU16ToGbk(u)) << base << " " << int(mark);
    }
    for (char16_t second : marks) {
      u = {u'a', mark, second, u'e', second};
      ASSERT_EQ(U16ToGbk(u), ReferenceU16ToGbk(u)) << int(mark) << " " << int(second);
    }
  }
  for (std::u16string t : {std::u16string(u"\xD83D\xDE00"), std::u16string(u"\xDE00\xD83D"), std::u16string(u"a\xD800"),
                           std::u16string(u"\xDC00\x0301"), std::u16string(u"e\xD800\x0301"),
                           std::u16string(u"e\x0301\0x", 4), std::u16string(u"\x0301\x0301")}) {
    EXPECT_EQ(U16ToGbk(t), ReferenceU16ToGbk(t));
  }
}

// Long texts of mixed ASCII, Chinese, invalid bytes and marks.
TEST(Codec, LongMixedTextsAgreeWithTheIcuConverters) {
  std::mt19937 rng(936);
  const char16_t pool[] = {u'a', u'<', u'e', u'A', u'\u0301', u'\u0308', u'\u0304', u'\u51CF', u'\u00A5',
                           u'\u20AC', u'\xD83D', u'\xDE00', u'\u0E01', u'\uF8F5', u'\uE000', u'\u3000', u'\u00FC'};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    std::u16string units;
    const int n = static_cast<int>(rng() % 3000);
    for (int i = 0; i < n; ++i) {
      const unsigned r = rng() % 10;
      // Mostly ASCII markup, then double-byte characters, then any byte.
      unsigned char c = r < 5 ? static_cast<unsigned char>(0x20 + rng() % 0x5F)
                              : r < 9 ? static_cast<unsigned char>(0x81 + rng() % 0x7E)
                                      : static_cast<unsigned char>(rng() % 256);
      if (c == 0 && rng() % 4) c = 'z';  // a zero byte now and then ends the text
      bytes.push_back(static_cast<char>(c));
      char16_t unit = r < 6 ? pool[rng() % (sizeof pool / sizeof pool[0])] : static_cast<char16_t>(rng() % 0x10000);
      if (unit == 0 && rng() % 4) unit = u'z';
      units.push_back(unit);
      if (rng() % 8 == 0) {  // ASCII runs long enough to be copied word by word
        for (unsigned k = rng() % 20; k > 0; --k) {
          bytes.push_back(static_cast<char>(0x20 + rng() % 0x5F));
          units.push_back(static_cast<char16_t>(rng() % 0x80));  // with a zero now and then
        }
      }
    }
    ASSERT_EQ(GbkToU16(bytes), detail::ReferenceGbkToU16(bytes)) << round;
    ASSERT_EQ(U16ToGbk(units), detail::ReferenceU16ToGbk(units)) << round;
    ASSERT_EQ(Utf8TextToGbk(bytes), detail::ReferenceU16ToGbk(detail::ReferenceUtf8ToU16(bytes))) << round;
    const std::u16string decoded = GbkToU16(bytes);
    ASSERT_EQ(GbkToUtf8Text(bytes), detail::ReferenceU16ToUtf8(decoded)) << round;
    ASSERT_EQ(UnicodeToUtf8(U16Bytes(units)), detail::ReferenceU16ToUtf8(units)) << round;
    const std::string utf8 = detail::ReferenceU16ToUtf8(units);
    ASSERT_EQ(Utf8ToUnicode(utf8), U16Bytes(detail::ReferenceUtf8ToU16(utf8))) << round;
  }
}

// UTF-8 decoded here must match ICU on every well-formed and broken form.
TEST(Codec, Utf8AgreesWithTheIcuConverter) {
  std::string s;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c : {0x00, 0x41, 0x80, 0x8F, 0x90, 0xA0, 0xBF, 0xC0}) {
        s = {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        ASSERT_EQ(Utf8ToUnicode(s), U16Bytes(detail::ReferenceUtf8ToU16(s))) << a << " " << b << " " << c;
        s += "\x80\x80";
        ASSERT_EQ(Utf8ToUnicode(s), U16Bytes(detail::ReferenceUtf8ToU16(s))) << a << " " << b << " " << c;
      }
    }
  }
  for (int c = 0; c < 0x10000; ++c) {
    const std::u16string u(1, static_cast<char16_t>(c));
    ASSERT_EQ(UnicodeToUtf8(U16Bytes(u)), detail::ReferenceU16ToUtf8(u)) << c;
  }
  EXPECT_EQ(Utf8ToUnicode("\xEF\xBB\xBFx"), U16Bytes(u"\uFEFFx"));  // a byte order mark stays
}
