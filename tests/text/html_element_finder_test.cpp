#include "text/HtmlElementFinder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/Codec.h"
#include "hooks/Events.h"

using namespace lanshu;

namespace {

std::vector<std::string> ListAll(HtmlElementFinder& f, const std::string& html, const std::string& tag,
                                 bool innerOnly = false) {
  std::string n = f.FindElements(html, tag, {}, {}, "", false, false, -1, true, innerOnly);
  std::vector<std::string> out;
  for (int i = 1; i <= std::stoi(n); ++i) out.push_back(f.GetElement(i));
  return out;
}

struct PumpGuard {
  ~PumpGuard() { SetEventPump(nullptr); }
};

}  // namespace

TEST(HtmlElementFinder, SingleModeReturnsWholeNestedElement) {
  HtmlElementFinder f;
  const std::string box = "<DIV class=\"box_05\"><div class=\"in\">x</div>y</Div>";
  const std::string html = "<body><div class=\"box_04\">a</div>" + box + "<div>z</div></body>";
  EXPECT_EQ(f.FindElements(html, "div", {"class"}, {"box_05"}), box);
  EXPECT_EQ(f.FindElements(html, "div", {"class"}, {"box_05"}, "", false, false, 0, true, true),
            "<div class=\"in\">x</div>y");
  EXPECT_EQ(f.FindElements(html, "div", {"class"}, {"box_06"}), "");
  // Case-sensitive: neither "<DIV" nor "</Div>" belong to "div".
  EXPECT_EQ(f.FindElements(html, "div", {"class"}, {"in"}, "", false, false, 0, false), "<div class=\"in\">x</div>");
  EXPECT_EQ(f.FindElements(html, "div", {"class"}, {"box_05"}, "", false, false, 0, false), "");
}

TEST(HtmlElementFinder, ListModeStoresNestedMatchesInStartOrder) {
  HtmlElementFinder f;
  const std::string inner = "<tr><td>i</td></tr>";
  const std::string outer = "<tr><td><table>" + inner + "</table></td></tr>";
  const std::string html = "<table>" + outer + "<TR class=a><td>2</td></TR><tr><td>3</td></tr></table>";
  EXPECT_EQ(ListAll(f, html, "tr"),
            (std::vector<std::string>{outer, inner, "<TR class=a><td>2</td></TR>", "<tr><td>3</td></tr>"}));
  EXPECT_EQ(f.GetElement(0), "");
  EXPECT_EQ(f.GetElement(5), "");
  // A single-mode search in between leaves the stored list alone.
  EXPECT_EQ(f.FindElements(f.GetElement(3), "td"), "<td>2</td>");
  EXPECT_EQ(f.GetElement(4), "<tr><td>3</td></tr>");
  EXPECT_EQ(ListAll(f, html, "tr", true), (std::vector<std::string>{"<td><table>" + inner + "</table></td>",
                                                                     "<td>i</td>", "<td>2</td>", "<td>3</td>"}));
  EXPECT_EQ(f.FindAll("<p>x</p>", "tr"), 0);
  EXPECT_EQ(f.Count(), 0);
}

TEST(HtmlElementFinder, UnclosedAndUnbalancedElementsAreTheirOpeningTag) {
  HtmlElementFinder f;
  EXPECT_EQ(f.FindElements("<div class=a><p>x", "div"), "<div class=a>");
  EXPECT_EQ(f.FindElements("<div class=a><p>x", "div", {}, {}, "", false, false, 0, true, true), "");
  EXPECT_EQ(ListAll(f, "<div><div>x</div>", "div"), (std::vector<std::string>{"<div>", "<div>x</div>"}));
  EXPECT_EQ(ListAll(f, "<div><br/></div>", "", true), (std::vector<std::string>{"<br/>", ""}));
  // Every "<" + name between counts, self-closed or longer names too.
  EXPECT_EQ(f.FindElements("<tr><trx></tr></tr>", "tr"), "<tr><trx></tr></tr>");
  EXPECT_EQ(f.FindElements("<div><div/></div>", "div"), "<div>");
  EXPECT_EQ(f.FindElements("<div", "div"), "");  // no ">" at all
  // A lead byte takes the "<" or ">" after it as its second byte, anywhere in
  // the page: that "<b>" opens nothing, and that "b>" closes no tag.
  EXPECT_EQ(ListAll(f, "<b>ab\xB0<b>cd</b>", "b"), (std::vector<std::string>{"<b>ab\xB0<b>cd</b>"}));
  EXPECT_EQ(ListAll(f, "<i x=\xB0>y>z</i>", "i"), (std::vector<std::string>{"<i x=\xB0>y>z</i>"}));
  EXPECT_EQ(HtmlElementFinder::GetAttribute("<i x=\xB0>y>", "x"), "\xB0>y");
}

TEST(HtmlElementFinder, AnyTagWhenNameEmpty) {
  HtmlElementFinder f;
  EXPECT_EQ(ListAll(f, "<P>a</p><!-- c --><br/><1><b class=x>t</b></i>", ""),
            (std::vector<std::string>{"<P>a</p>", "<br/>", "<b class=x>t</b>"}));
}

TEST(HtmlElementFinder, IndexChoosesTheMatch) {
  HtmlElementFinder f;
  const std::string row = "<tr><td>1</td><td class=n>2</td><td>3</td></tr>";
  EXPECT_EQ(f.FindElements(row, "td"), "<td>1</td>");
  EXPECT_EQ(f.FindElements(row, "td", {}, {}, "", false, false, 1), "<td>1</td>");
  EXPECT_EQ(f.FindElements(row, "td", {}, {}, "", false, false, 2), "<td class=n>2</td>");
  EXPECT_EQ(f.FindElements(row, "td", {}, {}, "", false, false, 4), "");
  // The index counts filtered matches only.
  EXPECT_EQ(f.FindElements(row, "td", {"class"}, {"n"}, "", false, false, 1), "<td class=n>2</td>");
}

TEST(HtmlElementFinder, AttributeValuesInAnyQuotingIgnoringCaseAndSpaces) {
  HtmlElementFinder f;
  const std::string fullSpace = "\xA1\xA1";
  for (const std::string& td : std::vector<std::string>{"<td class=Key>", "<td class='key'>", "<td class=\"key\">",
                               "<td id=1 class=\" KEY " + fullSpace + "\">", "<td class=key id=2>"}) {
    EXPECT_EQ(f.FindElements("<tr>" + td + "v</td></tr>", "td", {"class"}, {"key"}), td + "v</td>") << td;
  }
  const std::string tag = "<td class=\"aKEYb\">v</td>";
  EXPECT_EQ(f.FindElements(tag, "td", {"class"}, {"key"}), "");
  EXPECT_EQ(f.FindElements(tag, "td", {"class"}, {"key"}, "", true), tag);
  // An empty value only asks for " name=", written exactly so.
  EXPECT_EQ(f.FindElements("<td ID=3>v</td><td id=4>w</td>", "td", {"id"}, {}), "<td id=4>w</td>");
}

// Attribute filters against their plain reading: every element of the
// unfiltered list kept when its opening tag passes, each value read as the
// four TextBetween candidates and compared by AttributeMatches. The tags mix
// quoting styles, spaces (ASCII and full-width), letter case, repeated
// attributes and double-byte characters whose second byte looks like ASCII.
TEST(HtmlElementFinder, AttributeFiltersAgreeWithThePlainReading) {
  const std::vector<std::string> names = {"class", "align", "id", "CLASS"};
  const std::vector<std::string> values = {"blue", "Blue t_l", "right", "", " blue ", "\xB0\x41", "t_l"};
  const std::vector<std::string> attrs = {
      " class=\"blue\"", " class='Blue t_l'", " CLASS=blue", " class= \xA1\xA1" "blue ", " align=right",
      " align=\"right\"", " id=x", " class=\"\"", " class=\"\xB0\x41\"", " class=blue>", " class=\"t_l word\"",
      " class=\"blue", " id='a\"b'", " x=\"y\"", "\xB0 class=\"blue\""};
  std::mt19937 rng(3);
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto opening = [](const std::string& element) {
    int position = 0;
    return "<" + TextBetween(element, "<", ">", position, false, 0, 0, true) + ">";
  };
  auto passes = [&](const std::string& tag, const std::vector<std::string>& ns, const std::vector<std::string>& vs,
                    bool partial, bool matchAll) {
    for (std::size_t k = 0; k < ns.size(); ++k) {
      const std::string head = " " + ns[k] + "=";
      const std::string wanted = k < vs.size() ? vs[k] : std::string();
      const bool ok = wanted.empty()
                          ? tag.find(head) != std::string::npos && GbkFind(tag, head) != std::string::npos
                          : HtmlElementFinder::AttributeMatches(wanted, TextBetween(tag, head + "\"", "\""),
                                                                TextBetween(tag, head + "'", "'"),
                                                                TextBetween(tag, head, " "),
                                                                TextBetween(tag, head, ">"), partial);
      if (ok != matchAll) return ok;
    }
    return matchAll;
  };
  for (int round = 0; round < 400; ++round) {
    std::string html;
    for (std::size_t n = 1 + pick(6); n > 0; --n) {
      std::string tag = "<td";
      for (std::size_t a = pick(3); a > 0; --a) tag += attrs[pick(attrs.size())];
      html += tag + ">" + std::to_string(round) + "</td>";
    }
    std::vector<std::string> ns, vs;
    for (std::size_t a = 1 + pick(2); a > 0; --a) {
      ns.push_back(names[pick(names.size())]);
      vs.push_back(values[pick(values.size())]);
    }
    const bool partial = pick(4) == 0, matchAll = pick(2) == 0;
    HtmlElementFinder all, filtered;
    std::vector<std::string> expected;
    for (const std::string& element : ListAll(all, html, "td"))
      if (passes(opening(element), ns, vs, partial, matchAll)) expected.push_back(element);
    const int n = std::stoi(filtered.FindElements(html, "td", ns, vs, "", partial, matchAll, -1));
    std::vector<std::string> got;
    for (int i = 1; i <= n; ++i) got.push_back(filtered.GetElement(i));
    ASSERT_EQ(got, expected) << html << " | " << ns[0] << "=" << vs[0] << " partial " << partial;
  }
}

TEST(HtmlElementFinder, MatchAllAndContainedTexts) {
  HtmlElementFinder f;
  const std::string html = "<a class=x id=z href=1>A</a><a class=x id=y title=Foo>B</a><a title=bar>C</a>";
  EXPECT_EQ(f.FindElements(html, "a", {"class", "id"}, {"x", "y"}, "", false, false, -1), "2");
  EXPECT_EQ(f.FindElements(html, "a", {"class", "id"}, {"x", "y"}, "", false, true, -1), "1");
  EXPECT_EQ(f.GetElement(1), "<a class=x id=y title=Foo>B</a>");
  EXPECT_EQ(f.FindElements(html, "a", {}, {}, "FOO|bar", false, false, -1), "2");
  EXPECT_EQ(f.FindElements(html, "a", {}, {}, "foo|id=", false, true, -1), "1");
  EXPECT_EQ(f.FindElements(html, "a", {"class"}, {"x"}, "bar", false, true), "");
  // "|" as the second byte of a double-byte character does not split the list.
  EXPECT_EQ(f.FindElements("<a t=\"\xD6\xD0\">q</a>", "a", {}, {}, "\xD6|"), "");
  EXPECT_EQ(f.FindElements("<a t=\"\xD6|\">q</a>", "a", {}, {}, "\xD6|"), "<a t=\"\xD6|\">q</a>");
}

TEST(HtmlElementFinder, AttributesReadFromTags) {
  const std::string tag = "<a HREF=\"x.htm\" title='t t' data=bare empty=\"\" pad=\" y \xA1\xA1\">";
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "href"), "x.htm");
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "title"), "t t");
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "data"), "bare");
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "empty"), "");
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "pad"), "y");
  EXPECT_EQ(HtmlElementFinder::GetAttribute("<a href=z>", "href"), "z");
  EXPECT_EQ(HtmlElementFinder::GetAttribute(tag, "alt"), "");
  EXPECT_TRUE(HtmlElementFinder::AttributeMatches("Ab", "", "x", "\xA1\xA1 aB ", "", false));
  EXPECT_FALSE(HtmlElementFinder::AttributeMatches("b", "abc", "", "", "", false));
  EXPECT_TRUE(HtmlElementFinder::AttributeMatches("B", "", "", "", "abc", true));
}

TEST(HtmlElementFinder, ProcessesEventsAndSurvivesNestedSearches) {
  PumpGuard guard;
  HtmlElementFinder f;
  const std::string html = "<b><b></b>x</b><b>y</b>";
  int calls = 0;
  std::vector<bool> balanced;
  SetEventPump([&] {
    if (++calls != 1) return;
    balanced = {f.IsBalanced("b", 1, 7), f.IsBalanced("b", 1, 12)};
    EXPECT_EQ(f.FindAll("<i>1</i><i>2</i>", "i"), 2);  // a click that searches on the same object
    EXPECT_EQ(f.FindElements("<u>q</u>", "u"), "<u>q</u>");
  });
  EXPECT_EQ(ListAll(f, html, "b"), (std::vector<std::string>{"<b><b></b>x</b>", "<b></b>", "<b>y</b>"}));
  EXPECT_GE(calls, 3);
  EXPECT_EQ(balanced, (std::vector<bool>{false, true}));
  EXPECT_TRUE(f.IsBalanced("b", 1, 7));  // the page is released after the search
}

TEST(TextBetween, EmptyHeadOrTailMeansStartOrEnd) {
  int pos = 0;
  EXPECT_EQ(TextBetween("abc,def", "", ",", pos), "abc");
  EXPECT_EQ(pos, 13);  // counted in the text behind the 8-byte start marker
  EXPECT_EQ(TextBetween("abc,def", "", ",", pos), "");
  EXPECT_EQ(pos, 13);
  EXPECT_EQ(TextBetween("k=v;w", "=", ""), "v;w");
  EXPECT_EQ(TextBetween("abc", "", ""), "abc");
  pos = 0;
  EXPECT_EQ(TextBetween("a,b,c", ",", "", pos, true), "c");
}

TEST(TextBetween, ForwardReverseAndRepeatedExtraction) {
  EXPECT_EQ(TextBetween("[x[y]z", "[", "]"), "x[y");
  int pos = 0;
  EXPECT_EQ(TextBetween("[x[y]z", "[", "]", pos, true), "y");
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(TextBetween("<TD>x</Td>", "<td>", "</td>"), "x");

  const std::string row = "<td>1</td><td>22</td><td>3</td>";
  std::vector<std::string> cells;
  std::vector<int> positions;
  pos = 0;
  for (std::string cell; !(cell = TextBetween(row, "<td>", "</td>", pos)).empty();) {
    cells.push_back(cell);
    positions.push_back(pos);
  }
  EXPECT_EQ(cells, (std::vector<std::string>{"1", "22", "3"}));
  EXPECT_EQ(positions, (std::vector<int>{11, 22, 32}));
  pos = 11;
  EXPECT_EQ(TextBetween(row, "<td>", "</td>", pos, false, 1, 1), "");  // "22" less a byte each side
  EXPECT_EQ(TextBetween(row, "<td>", "</td>", pos, false, -4, -5), "<td>3</td>");
  pos = 0;
  EXPECT_EQ(TextBetween(row, "<td>", "</td>", pos, false, -400, -400), row);
}

TEST(TextBetween, QuotePairsAndTheSecondPassWithoutQuotes) {
  EXPECT_EQ(QuotePairsToQuote("a''b'''c"), "a\"b\"'c");
  EXPECT_EQ(TextBetween("<a href=\"u.htm\">", "href=''", "''"), "u.htm");
  EXPECT_EQ(TextBetween("<a href=u.htm title=t>", "href=''", " "), "u.htm");
  int pos = 0;
  EXPECT_EQ(TextBetween("a''b''c", "''", "''", pos, false, 0, 0, true), "b");
  pos = 3;
  EXPECT_EQ(TextBetween("<a href=u.htm>", "href=''", "''", pos), "");
  EXPECT_EQ(pos, 3);
}

TEST(TextBetween, MarkersNeverStartOnASecondByte) {
  // 0xB0 0x5B is one character whose second byte looks like "[".
  EXPECT_EQ(TextBetween("\xB0[y]z[w]", "[", "]"), "w");
  EXPECT_EQ(TextBetween("[a\xB0]b]", "[", "]"), "a\xB0]b");
  int pos = 0;
  EXPECT_EQ(TextBetween("[1\xB0[2]", "[", "]", pos, true), "1\xB0[2");
  pos = 2;  // a position on a second byte starts at the next character
  EXPECT_EQ(TextBetween("\xB0[1]x[2]", "[", "]", pos), "2");
  HtmlElementFinder f;
  EXPECT_EQ(f.FindElements("\xB0<a>x</a><a>y</a>", "a"), "<a>y</a>");
  // Ignoring case never folds a second byte: 0xB0 0x41 and 0xB0 0x61 differ.
  EXPECT_EQ(f.FindElements("<a t=\"\xB0\x41\">q</a>", "a", {}, {}, "\xB0\x61"), "");
  EXPECT_EQ(f.FindElements("<A t=\"\xB0\x41\">q</A>", "a", {}, {}, "\xB0\x41"), "<A t=\"\xB0\x41\">q</A>");
}
