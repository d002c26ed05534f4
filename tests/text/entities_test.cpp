#include "text/Entities.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "text/Codec.h"
#include "hooks/Events.h"

using namespace lanshu;

namespace {

const std::string kZhong = "\xD6\xD0";  // U+4E2D in GBK

}  // namespace

TEST(ReplaceList, ReplacesItemsInOrderOnePassEach) {
  std::string text = "abcab";
  EXPECT_EQ(ReplaceList(text, "a|b", "b|c"), "ccccc");  // item 2 sees what item 1 wrote
  EXPECT_EQ(text, "ccccc");                               // written back as well

  text = "aa";
  EXPECT_EQ(ReplaceList(text, "a", "aa"), "aaaa");  // inserted text is not searched again
  text = "abab";
  EXPECT_EQ(ReplaceList(text, "ab", ""), "");
}

TEST(ReplaceList, SplitsListsAndPadsReplacements) {
  std::string text = "a1b2c3";
  EXPECT_EQ(ReplaceList(text, "a|b|c|", "X"), "X123");  // trailing empty item dropped; b, c get ""
  text = "a1b2c3";
  EXPECT_EQ(ReplaceList(text, "a||c", "X|Y|Z|W"), "X1b2Z3");  // empty find item changes nothing
  text = "a1b2c3";
  EXPECT_EQ(ReplaceList(text, "a,b", "X,Y", false, false, ","), "X1Y2c3");
  text = "a|b";
  EXPECT_EQ(ReplaceList(text, "|", "-"), "a|b");  // two empty items, the last dropped
  EXPECT_EQ(ReplaceList(text, "|", "-", false, false, ","), "a-b");
  text = "abc";
  EXPECT_EQ(ReplaceList(text, "", "X"), "abc");
}

TEST(ReplaceList, FillEmptyUsesTheFirstReplacement) {
  std::string text = "abc";
  EXPECT_EQ(ReplaceList(text, "a|b|c", "X||", false, true), "XXX");
  text = "abc";
  EXPECT_EQ(ReplaceList(text, "a|b|c", "X||", false, false), "X");
  text = "abc";
  EXPECT_EQ(ReplaceList(text, "a|b", "", false, true), "c");  // no first item to fill with
}

TEST(ReplaceList, CountLimitsOccurrencesPerItem) {
  std::string text = "aaaa";
  EXPECT_EQ(ReplaceList(text, "a", "b", false, false, "", 2), "bbaa");
  text = "aabb";
  EXPECT_EQ(ReplaceList(text, "a|b", "x|y", false, false, "", 1), "xayb");
  text = "aaaa";
  EXPECT_EQ(ReplaceList(text, "a", "b", false, false, "", -5), "bbbb");
}

TEST(ReplaceList, CaseAndDoubleByteCharacters) {
  std::string text = "Abc aBC";
  EXPECT_EQ(ReplaceList(text, "bc", "-"), "A- a-");
  text = "Abc aBC";
  EXPECT_EQ(ReplaceList(text, "bc", "-", true), "A- aBC");

  // D6 D0 is one character: a search for its second byte, or for a letter
  // that is the trail byte of B0 41, finds nothing.
  text = kZhong + "\xD0";
  EXPECT_EQ(ReplaceList(text, "\xD0", "x"), kZhong + "x");
  text = "\xB0\x41" "a";
  EXPECT_EQ(ReplaceList(text, "a", "-"), "\xB0\x41" "-");
  EXPECT_EQ(ReplaceList(text, "A", "+", true), "\xB0\x41" "-");
  text = "x" + kZhong + "y";
  EXPECT_EQ(ReplaceList(text, kZhong, "="), "x=y");
}

TEST(DecodeEntities, NamedEntitiesInTableOrder) {
  EXPECT_EQ(DecodeEntities("&lt;b&gt;"), "<b>");
  EXPECT_EQ(DecodeEntities("&amp;lt;"), "&lt;");
  EXPECT_EQ(DecodeEntities("&amp;amp;"), "&amp;");
  EXPECT_EQ(DecodeEntities("&LT;&Nbsp;&QUOT;&AMP;"), "< \"&");
  EXPECT_EQ(DecodeEntities("a&lt b&;&lt"), "a&lt b&;&lt");
  EXPECT_EQ(DecodeEntities("no ampersand " + kZhong), "no ampersand " + kZhong);

  // "&prime;" is first in the table and names match regardless of case.
  const std::string prime = U16ToGbk(u"\u2032");
  EXPECT_EQ(DecodeEntities("&Prime;&prime;"), prime + prime);

  // An "&" that is the second byte of a double-byte character starts nothing.
  EXPECT_EQ(DecodeEntities("\xB0&lt;"), "\xB0&lt;");
}

TEST(DecodeEntities, EveryTableEntryGivesItsCharacter) {
  const std::vector<std::pair<std::string, char16_t>> table = {
      {"ndash", 0x2013}, {"mdash", 0x2014}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
      {"nbsp", 0x0020},  {"lt", 0x003C},    {"gt", 0x003E},    {"quot", 0x0022},
      {"times", 0x00D7}, {"divide", 0x00F7}, {"middot", 0x00B7}, {"hellip", 0x2026},
      {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"permil", 0x2030}, {"prime", 0x2032},
      {"Prime", 0x2032}, {"larr", 0x2190},  {"uarr", 0x2191},  {"rarr", 0x2192},
      {"darr", 0x2193},  {"radic", 0x221A}, {"prop", 0x221D},  {"infin", 0x221E},
      {"ang", 0x2220},   {"and", 0x2227},   {"or", 0x2228},    {"cap", 0x2229},
      {"cup", 0x222A},   {"int", 0x222B},   {"there4", 0x2234}, {"sim", 0xFF5E},
      {"asymp", 0x2248}, {"ne", 0x2260},    {"equiv", 0x2261}, {"le", 0x2264},
      {"ge", 0x2265},    {"oplus", 0x2295}, {"perp", 0x22A5},  {"amp", 0x0026},
  };
  for (const auto& [name, cp] : table) {
    const std::string expected = U16ToGbk(std::u16string(1, cp));
    EXPECT_EQ(DecodeEntities("[&" + name + ";]"), "[" + expected + "]") << name;
  }

  // The lists hold the same forty items as ReplaceList input.
  std::string viaList = "&Ndash;x&PRIME;&there4;&amp;lt;";
  ReplaceList(viaList, EntityNameList(), EntityReplacementList());
  EXPECT_EQ(DecodeEntities("&Ndash;x&PRIME;&there4;&amp;lt;", true), viaList);
}

TEST(DecodeEntities, CallerKeepsTheNamedStepResult) {
  std::string text = "&lt;&#65;&gt;";
  EXPECT_EQ(DecodeEntities(text), "<A>");
  EXPECT_EQ(text, "<&#65;>");

  text = "&amp;#66;";
  EXPECT_EQ(DecodeEntities(text, true), "&#66;");
  EXPECT_EQ(text, "&#66;");
}

TEST(DecodeEntities, DecimalAndHexadecimalReferences) {
  EXPECT_EQ(DecodeEntities("&#20013;"), kZhong);
  EXPECT_EQ(DecodeEntities("x&#65;y&#66;"), "xAyB");
  EXPECT_EQ(DecodeEntities("&#x41;&#X4e2D;"), "A" + kZhong);
  EXPECT_EQ(DecodeEntities("a&#0;b&#x0;c"), "abc");
  EXPECT_EQ(DecodeEntities("&#000000000000000000000065;"), "A");
  EXPECT_EQ(DecodeEntities("&#8364;"), "\x80");          // euro sign, single byte 80
  EXPECT_EQ(DecodeEntities("&#3585;"), "?");             // Thai letter: not in code page 936
  EXPECT_EQ(DecodeEntities("&#xD800;"), "?");            // a lone surrogate unit
  EXPECT_EQ(DecodeEntities("&#128512;!"), "??" "!");      // surrogate pair, "?" per unit
  EXPECT_EQ(DecodeEntities("&#x10FFFF;"), "??");
  EXPECT_EQ(DecodeEntities("&#38;#65;"), "&#65;");       // the new "&#" is not read again
}

TEST(DecodeEntities, MalformedReferencesStayAsWritten) {
  EXPECT_EQ(DecodeEntities("a &# b"), "a &# b");
  EXPECT_EQ(DecodeEntities("&lt;&#65 and later;"), "<&#65 and later;");  // no distant ";"
  EXPECT_EQ(DecodeEntities("&#;&#x;&#12a;&#-5;&# 5;&#+5;"), "&#;&#x;&#12a;&#-5;&# 5;&#+5;");
  EXPECT_EQ(DecodeEntities("&#xG1;&#65x;"), "&#xG1;&#65x;");
  EXPECT_EQ(DecodeEntities("&#1114112;&#x110000;"), "&#1114112;&#x110000;");  // beyond U+10FFFF
  const std::string huge = "&#" + std::string(400, '9') + ";";
  EXPECT_EQ(DecodeEntities(huge + "&#x" + std::string(400, 'f') + ";"),
            huge + "&#x" + std::string(400, 'f') + ";");
  EXPECT_EQ(DecodeEntities("&#&#65;"), "&#A");
}

TEST(DecodeEntities, ReferencesMadeOfDecodedCharactersAreReadAgain) {
  // The walk goes backwards over the current text: "&#54;" (6), "&#53;" (5)
  // and "&#59;" (;) complete the "&#" in front of them.
  EXPECT_EQ(DecodeEntities("&#&#54;&#53;&#59;"), "A");
  // "&#49;" and "&#52;" give 1 and 4, "&#x41;" then gives A; the first "&#"
  // is followed by A and stays.
  EXPECT_EQ(DecodeEntities("&#&#x&#52;&#49;;;"), "&#A;");
}

TEST(DecodeEntities, NumericStepProcessesEventsAndCutsAtZero) {
  int pumped = 0;
  SetEventPump([&pumped] { ++pumped; });
  EXPECT_EQ(DecodeEntities("a&#65;b&#66;c&#67;d"), "aAbBcCd");
  SetEventPump(nullptr);
  EXPECT_GE(pumped, 3);  // at least one per reference found

  EXPECT_EQ(DecodeEntities(std::string("a&#65;\0b", 8)), "aA");
  EXPECT_EQ(DecodeEntities(std::string("a\0&#65;", 7), true), std::string("a\0&#65;", 7));
}
