#include "text/Regex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text/Codec.h"

using namespace lanshu;

namespace {

// GBK text of a UTF-16 literal, so tests can be written with readable characters.
std::string G(const std::u16string& s) { return U16ToGbk(s); }

const char16_t* const kBlankStripper = u"^[\u3000 \\t]*$(\\r\\n)|^[ \u3000\\t]+|[ \u3000\\t]+$|\\r\\n|\\r|\\n";

}  // namespace

TEST(Regex, TagStripperRemovesTagsAcrossLineBreaks) {
  RegexObject tags;
  ASSERT_TRUE(tags.Compile("<[\\s\\S]+?>"));
  EXPECT_EQ(tags.Replace(G(u"<td class=\"blue\">\r\n  <a\r\nhref=\"x\">词</a>\r\n</td>"), ""), G(u"\r\n  词\r\n"));
  EXPECT_EQ(tags.Replace("<b>x</B> <", ""), "x <");

  RegexObject blanks;
  blanks.Compile(G(kBlankStripper));
  EXPECT_EQ(blanks.Replace(G(u"\r\n  词\r\n \t\r\n　语 \r\n"), ""), G(u"词语"));
}

TEST(Regex, CompileSendsOnlyWhatChanged) {
  RegexCore core;
  const RegexEngine& engine = core.Engine();
  core.Compile("a.c");
  EXPECT_EQ(engine.PatternWrites(), 1);
  EXPECT_EQ(engine.OptionWrites(), 3);
  core.Compile("a.c");
  EXPECT_EQ(engine.PatternWrites(), 1);  // same pattern and options: engine untouched
  EXPECT_EQ(engine.OptionWrites(), 3);
  core.Compile("a.c", true);
  EXPECT_EQ(engine.PatternWrites(), 1);  // only an option changed: all three resent
  EXPECT_EQ(engine.OptionWrites(), 6);
  EXPECT_FALSE(engine.IgnoreCase());
  EXPECT_TRUE(engine.Multiline());
  EXPECT_FALSE(core.Test("ABC"));

  core.Compile("", false);  // empty pattern: previous pattern stays, options change
  EXPECT_EQ(core.Pattern(), "a.c");
  EXPECT_EQ(engine.PatternWrites(), 1);
  EXPECT_TRUE(core.Test("ABC"));
  EXPECT_EQ(engine.OptionWrites(), 9);
  core.Compile("", false);
  EXPECT_EQ(engine.OptionWrites(), 12);  // "" differs from the stored pattern, so no shortcut

  RegexObject natural;  // opposite sense: everything on by default
  natural.Compile("x", false, true, false);
  EXPECT_FALSE(natural.Core().Engine().IgnoreCase());
  EXPECT_TRUE(natural.Core().Engine().Multiline());
  EXPECT_FALSE(natural.Core().Engine().Global());
  EXPECT_EQ(natural.Replace("xXx", "-"), "-Xx");
}

// Objects built one after another with the same pattern share its compiled
// form only under the same options, and a long result leaves nothing behind
// in the next one.
TEST(Regex, SamePatternUnderOtherOptionsStaysApart) {
  RegexObject anyCase, exactCase, lines, whole;
  anyCase.Compile("abc");
  exactCase.Compile("abc", false);
  EXPECT_EQ(anyCase.Execute("ABC"), 1);
  EXPECT_EQ(exactCase.Execute("ABC"), 0);
  lines.Compile("^b");
  whole.Compile("^b", true, false);
  EXPECT_EQ(lines.Execute("a\nb"), 1);
  EXPECT_EQ(whole.Execute("a\nb"), 0);
  RegexLite again;
  again.Create("abc", false);
  EXPECT_EQ(again.Execute("ABC abc"), 1);

  RegexObject tags;
  tags.Compile("<[\\s\\S]+?>");
  EXPECT_EQ(tags.Replace(std::string(5000, 'x') + "<b>", ""), std::string(5000, 'x'));
  EXPECT_EQ(tags.Replace("<i>y", ""), "y");
  RegexGbk gbk;
  gbk.Create("<[\\s\\S]+?>");
  EXPECT_EQ(gbk.Replace(std::string(3000, 'z') + "<b>", ""), std::string(3000, 'z'));
  EXPECT_EQ(gbk.ReplaceKeepNul("<i>y", "-"), "-");  // ends at the zero after the replacement
  EXPECT_EQ(gbk.Replace("<i>y", "-"), "-y");
}

TEST(Regex, EscapesSpecialCharactersOnce) {
  EXPECT_EQ(RegexObject::EscapeAll("a\\b.c"), "a\\\\b\\.c");
  EXPECT_EQ(RegexObject::EscapeWildcard("a*b?c"), "a.*b.?c");
  EXPECT_EQ(RegexObject::EscapeWildcard("(x|y)=\"$\""), "\\(x|y\\)\\=\\\"\\$\\\"");
  EXPECT_EQ(RegexObject::EscapeAll("^$+.{}[]=()?*|\""), "\\^\\$\\+\\.\\{\\}\\[\\]\\=\\(\\)\\?\\*\\|\\\"");
  EXPECT_EQ(RegexObject::EscapeKeepBar("a|b?*"), "a|b\\?\\*");
  EXPECT_EQ(RegexGbk::EscapeAll("\x81\x5C|"), "\x81\x5C\\|");  // a trail byte 0x5C is not a backslash

  std::string literal = "a.b*c?(d)[e]{2}^$|\\+=\"";
  RegexObject re;
  re.Compile(RegexObject::EscapeAll(literal));
  EXPECT_EQ(re.Execute("xx" + literal + "yy"), 1);
  EXPECT_EQ(re.MatchText(1), literal);
  re.Compile(RegexObject::EscapeWildcard(G(u"中*文?")));
  EXPECT_EQ(re.Replace(G(u"中abc文x文"), "-"), "-");
}

TEST(Regex, MatchAccessByOneBasedIndex) {
  RegexCore core;
  core.Compile("(\\d+)(x)?");
  EXPECT_EQ(core.Execute("none"), 0);
  EXPECT_EQ(core.MatchText(1), "");
  EXPECT_EQ(core.SubMatchCount(), 0);

  EXPECT_EQ(core.Execute(G(u"a12 中345x")), 2);
  EXPECT_EQ(core.Count(), 2);
  EXPECT_EQ(core.SubMatchText(1, 0), "12");
  EXPECT_EQ(core.MatchText(2), "345x");
  EXPECT_EQ(core.SubMatchText(2, 1), "345");
  EXPECT_EQ(core.SubMatchText(2, 2), "x");
  EXPECT_FALSE(core.MatchValue(1, 2).has_value());  // group did not take part
  EXPECT_EQ(core.SubMatchCount(), 2);
  EXPECT_EQ(core.MatchText(3), "");
  EXPECT_EQ(core.MatchText(0), "");
  EXPECT_EQ(core.SubMatchText(1, 3), "");
  EXPECT_EQ(core.MatchLength(2, 0), 4);
  EXPECT_EQ(core.MatchLength(9, 1), 0);

  core.Compile(G(u"(关键)词"));
  EXPECT_EQ(core.Execute(G(u"x关键词")), 1);
  EXPECT_EQ(core.MatchLength(1, 1), 2);
  EXPECT_EQ(core.MatchByteLength(1, 1), 4);
  EXPECT_EQ(core.MatchByteLength(1, 0), 3);  // whole match: UTF-16 units
  EXPECT_EQ(core.CompileAndExecute("z", "zaz"), 2);

  RegexCore copy = core;  // shares the collection, owns its pattern text
  EXPECT_EQ(copy.MatchText(2), "z");
  EXPECT_EQ(copy.Pattern(), "z");
}

TEST(Regex, ReplaceExpandsDollarSyntax) {
  RegexCore core;
  auto rep = [&core](const std::string& pattern, const std::string& subject, const std::string& replacement) {
    return core.Replace(subject, replacement, pattern);
  };
  EXPECT_EQ(rep("b", "abc", "[$$]"), "a[$]c");
  EXPECT_EQ(rep("b", "abc", "[$&]"), "a[b]c");
  EXPECT_EQ(rep("b", "abc", "[$`|$']"), "a[a|c]c");
  EXPECT_EQ(rep("(a)(b)", "abc", "[$2$1]"), "[ba]c");
  EXPECT_EQ(rep("(a)(b)", "abc", "[$11|$02|$20]"), "[a1|b|b0]c");
  EXPECT_EQ(rep("(a)|(z)", "abc", "[$2]"), "[]bc");  // unset group
  EXPECT_EQ(rep("(b)", "abc", "[$0|$a|$3|$]"), "a[$0|$a|$3|$]c");
  EXPECT_EQ(rep("b", "abc", "$"), "a$c");
  EXPECT_EQ(rep("B", "abcb", "x"), "axcx");
  EXPECT_EQ(core.Replace("abcb", "x", "B", true), "abcb");
  EXPECT_EQ(core.Replace("abcb", "x", "b", false, false, true), "axcb");

  core.Compile("b");
  core.Execute("bbb");
  core.Replace("b", "x");
  EXPECT_EQ(core.Count(), 3);  // Replace leaves the collection alone
}

TEST(Regex, MultilineAnchorsAtEveryLineBreak) {
  RegexCore core;
  core.Compile("^");
  EXPECT_EQ(core.Execute("a\rb\nc\r\nd"), 5);  // start, after CR, after LF, between CR and LF, after CRLF
  core.Compile("$");
  EXPECT_EQ(core.Execute("a\rb\nc\r\nd"), 5);
  core.Compile("^\\s");
  EXPECT_EQ(core.Execute("a\r\n"), 1);  // a line start between CR and LF is tried too
  EXPECT_EQ(core.MatchText(1), "\n");
  core.Compile("^b$");
  EXPECT_EQ(core.Execute("a\r\nb\r\nc"), 1);
  core.Compile("a.");
  EXPECT_EQ(core.Execute("a\ra\na "), 1);  // "." matches no line break
  EXPECT_EQ(core.MatchText(1), "a ");

  core.Compile("b$", false, true);  // single line: "$" only at the very end
  EXPECT_EQ(core.Execute("b\nb\n"), 0);
  EXPECT_EQ(core.Execute("b\nb"), 1);
  core.Compile("^b", false, true);
  EXPECT_EQ(core.Execute("b\nb"), 1);
}

TEST(Regex, RunawayMatchesGiveTheEmptyValue) {
  RegexCore core;
  core.Compile("a");
  ASSERT_EQ(core.Execute("aaa"), 3);
  std::string subject = std::string(40, 'a') + "!";
  core.Compile("(a+)+$");
  EXPECT_EQ(core.Execute(subject), 0);
  EXPECT_EQ(core.Count(), 0);  // the old collection is gone
  EXPECT_EQ(core.MatchText(1), "");
  EXPECT_EQ(core.Replace(subject, "x"), "");
  EXPECT_FALSE(core.Test(subject));

  std::string open(200000, '(');
  std::string nested = open + std::string(200000, ')');
  core.Compile("\\((?R)*\\)");
  EXPECT_EQ(core.Execute(nested), 0);
  EXPECT_EQ(core.Execute("(" + std::string(100, '(') + std::string(100, ')') + ")"), 1);

  RegexLite lite;
  lite.Create("(x+x+)+$");
  std::string xs = std::string(5000, 'x') + "!";
  EXPECT_EQ(lite.Replace(xs, ""), "");
  EXPECT_EQ(lite.Execute(xs), 0);
  EXPECT_EQ(lite.Replace("xx", "-"), "-");  // still usable
  lite.Create("");
  EXPECT_EQ(lite.Replace("ab", "-"), "-a-b-");
}

TEST(Regex, InvalidPatternsGiveTheEmptyValue) {
  for (const char* bad : {"(", "[a", "a{2,1}", "*", "a)", "(?<", "(*UTF)a"}) {
    RegexCore core;
    core.Compile("a");
    ASSERT_EQ(core.Execute("a"), 1);
    core.Compile(bad);
    EXPECT_EQ(core.Execute("a"), 0) << bad;
    EXPECT_EQ(core.Count(), 0) << bad;
    EXPECT_EQ(core.Replace("a", "b"), "") << bad;
    EXPECT_FALSE(core.Test("a")) << bad;
    EXPECT_EQ(core.Pattern(), bad);
    core.Compile("a");
    EXPECT_EQ(core.Replace("a", "b"), "b") << bad;
  }
  std::string deep = std::string(300, '(') + "a" + std::string(300, ')');
  RegexGbk gbk;
  gbk.Create(deep);
  EXPECT_EQ(gbk.Execute("a"), 0);
  EXPECT_EQ(gbk.Replace("a", "b"), "");
}

TEST(Regex, LiteKeepsTheCountOfItsLastExecute) {
  RegexLite lite;
  EXPECT_EQ(lite.Pattern(), "");
  EXPECT_EQ(lite.Replace("a", "b"), "");
  EXPECT_EQ(lite.Execute("a"), 0);
  ASSERT_TRUE(lite.Create("(a)(b)?"));
  EXPECT_EQ(lite.Count(), 0);
  EXPECT_EQ(lite.SubMatchCount(), 0);
  EXPECT_EQ(lite.Execute("xAbA"), 2);
  EXPECT_EQ(lite.Count(), 2);
  EXPECT_EQ(lite.MatchText(1), "Ab");
  EXPECT_EQ(lite.SubMatchText(1, 2), "b");
  EXPECT_EQ(lite.SubMatchText(1, 0), "");  // groups only
  EXPECT_EQ(lite.SubMatchCount(), 2);
  ASSERT_TRUE(lite.Create("a", false, true, false));
  EXPECT_EQ(lite.Count(), 0);
  EXPECT_EQ(lite.MatchText(1), "");
  EXPECT_EQ(lite.Pattern(), "a");
  EXPECT_EQ(lite.Replace("AaaA", "-"), "A-aA");
}

TEST(Regex, GbkVariantZeroCharactersAndPositions) {
  RegexGbk gbk;
  EXPECT_EQ(gbk.Pattern(), "");
  EXPECT_EQ(gbk.Execute("x"), 0);
  gbk.Create(" ");
  EXPECT_EQ(gbk.Replace("a b c", ""), "abc");
  EXPECT_EQ(gbk.Replace("a b c", "_"), "a_b_c");
  EXPECT_EQ(gbk.ReplaceKeepNul("a b c", "_"), "a_");  // the replacement's zero ends the text
  EXPECT_EQ(gbk.ReplaceKeepNul("abc", "_"), "abc");
  EXPECT_EQ(gbk.Replace(G(u"A一 开"), ""), G(u"A一开"));  // units with a zero byte survive
  gbk.Create("b");
  EXPECT_EQ(gbk.Replace("abc", "[$']"), "a[c]c");

  gbk.Create(G(u"[ 　\t]+$"));
  EXPECT_EQ(gbk.Replace(G(u"词 　\r\n语\t "), ""), G(u"词\r\n语"));  // "$" also before the zero

  gbk.Create("a(b)?");
  EXPECT_EQ(gbk.Execute(G(u"中文aab\x81\x7F" u"a")), 3);
  int pos = 99;
  EXPECT_EQ(gbk.MatchTextAt(1, &pos, true), "a");
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(gbk.MatchTextAt(2, &pos, true), "ab");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(gbk.SubMatchTextAt(2, 1, &pos, true), "b");
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(gbk.MatchTextAt(3, &pos, true), "a");
  EXPECT_EQ(pos, 9);  // after an invalid pair: its lead byte and 0x7F count one unit each
  EXPECT_EQ(gbk.SubMatchTextAt(1, 1, &pos, true), "");
  EXPECT_EQ(pos, -1);
  pos = 7;
  EXPECT_EQ(gbk.MatchTextAt(4, &pos, false), "");
  EXPECT_EQ(pos, 7);

  gbk.Reset();
  EXPECT_EQ(gbk.Count(), 0);
  EXPECT_EQ(gbk.Pattern(), "");
  EXPECT_EQ(gbk.Replace("a", "b"), "");
}

// Replays tests/data/regex_oracle.txt (see scripts/gen-regex-oracle.js).
namespace {

struct Field {
  std::u16string text;
  bool defined = true;
};

Field Unescape(const std::string& s) {
  if (s == "\\-") return {u"", false};
  Field f;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      f.text.push_back(static_cast<unsigned char>(s[i]));
      continue;
    }
    char c = s[++i];
    if (c == 't') f.text.push_back(u'\t');
    else if (c == 'r') f.text.push_back(u'\r');
    else if (c == 'n') f.text.push_back(u'\n');
    else if (c == 'u') {
      f.text.push_back(static_cast<char16_t>(std::stoul(s.substr(i + 1, 4), nullptr, 16)));
      i += 4;
    } else f.text.push_back(static_cast<unsigned char>(c));
  }
  return f;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.push_back("");
  return fields;
}

bool Has(const std::string& flags, char f) { return flags.find(f) != std::string::npos; }

}  // namespace

TEST(Regex, AgreesWithEcmaScriptOracle) {
  const char* dir = std::getenv("LANSHU_TEST_DATA");
  ASSERT_NE(dir, nullptr) << "LANSHU_TEST_DATA is not set";
  std::ifstream file(std::string(dir) + "/regex_oracle.txt", std::ios::binary);
  ASSERT_TRUE(file) << "regex_oracle.txt missing";

  std::vector<std::string> subjects;
  std::string flags, pattern, replacement;
  int groups = 0, checked = 0, failures = 0;
  RegexObject object;
  RegexCore core;
  RegexLite lite;
  RegexGbk gbk;
  auto check = [&failures](const std::string& got, const std::string& want, const std::string& what) {
    if (got == want) return;
    if (++failures <= 20) ADD_FAILURE() << what << "\n  got:  " << got << "\n  want: " << want;
  };
  std::string line;
  while (std::getline(file, line)) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.empty() || f[0] == "#" || line[0] == '#') continue;
    if (f[0] == "S") {
      std::u16string s = Unescape(f.size() > 1 ? f[1] : "").text;
      ASSERT_EQ(GbkToU16(G(s)), s) << "subject not representable: " << line;
      subjects.push_back(G(s));
    } else if (f[0] == "R" || f[0] == "M") {
      ASSERT_GE(f.size(), 4u) << line;
      flags = f[1];
      bool ic = Has(flags, 'i'), ml = Has(flags, 'm'), gl = Has(flags, 'g');
      pattern = G(Unescape(f[0] == "R" ? f[2] : f[3]).text);
      replacement = f[0] == "R" ? G(Unescape(f[3]).text) : std::string();
      groups = f[0] == "M" ? std::stoi(f[2]) : 0;
      object = RegexObject();  // fresh: Compile keeps the old pattern when given ""
      core = RegexCore();
      object.Compile(pattern, ic, ml, gl);
      lite.Create(pattern, ic, ml, gl);
      gbk.Create(pattern, ic, ml, gl);
      core.Compile(pattern, !ic, !ml, !gl);
    } else if (f[0] == "E") {
      ASSERT_EQ(f.size(), 3u) << line;
      const std::string& subject = subjects.at(std::stoul(f[1]));
      std::string want = G(Unescape(f[2]).text);
      std::string what = "/" + pattern + "/" + flags + " -> \"" + replacement + "\" on subject " + f[1];
      check(object.Replace(subject, replacement), want, "RegexObject " + what);
      check(core.Replace(subject, replacement), want, "RegexCore " + what);
      check(lite.Replace(subject, replacement), want, "RegexLite " + what);
      check(gbk.Replace(subject, replacement), want, "RegexGbk " + what);
      ++checked;
    } else if (f[0] == "C") {
      const std::string& subject = subjects.at(std::stoul(f[1]));
      int count = std::stoi(f[2]);
      std::string what = "/" + pattern + "/" + flags + " on subject " + f[1];
      ASSERT_EQ(f.size(), 3u + static_cast<std::size_t>(count) * (groups + 1)) << line;
      check(std::to_string(object.Execute(subject)), f[2], "count " + what);
      check(std::to_string(gbk.Execute(subject)), f[2], "RegexGbk count " + what);
      std::size_t k = 3;
      for (int m = 1; m <= count && m <= object.Count(); ++m) {
        check(object.MatchText(m), G(Unescape(f[k++]).text), "match " + std::to_string(m) + " " + what);
        for (int g = 1; g <= groups; ++g) {
          Field want = Unescape(f[k++]);
          std::string where = "group " + std::to_string(g) + " of match " + std::to_string(m) + " " + what;
          check(object.SubMatchText(m, g), G(want.text), where);
          check(object.Core().MatchValue(m, g).has_value() ? "set" : "unset", want.defined ? "set" : "unset", where);
        }
      }
      ++checked;
    }
  }
  EXPECT_GT(subjects.size(), 200u);
  EXPECT_GT(checked, 4000);
  EXPECT_EQ(failures, 0);
}
