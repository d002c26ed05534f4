// Arbitrary bytes through the element finder and TextBetween: no crash, list
// and single mode agree, and small pages give exactly the elements that a
// plain walk (every closing tag tried, every span counted) gives.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/Codec.h"
#include "text/HtmlElementFinder.h"

using namespace lanshu;

namespace {

constexpr std::size_t npos = std::string::npos;

std::size_t FindFrom(const std::string& hay, const std::string& needle, std::size_t from) {
  GbkScanner scan(hay);
  return scan.Find(needle, from);
}

int CountIn(const std::string& hay, const std::string& needle, std::size_t lo, std::size_t hi) {
  int n = 0;
  for (std::size_t p = FindFrom(hay, needle, lo); p != npos && p < hi; p = FindFrom(hay, needle, p + 1)) ++n;
  return n;
}

// The element walk as plainly as it can be written.
std::vector<std::string> PlainWalk(const std::string& html, std::string tag, bool ignoreCase, bool innerOnly) {
  const std::string low = ignoreCase ? GbkToLowerAscii(html) : html;
  if (ignoreCase) tag = GbkToLowerAscii(tag);
  std::vector<std::string> out;
  for (std::size_t s = FindFrom(low, "<" + tag, 0); s != npos; s = FindFrom(low, "<" + tag, s + 1)) {
    const std::size_t gt = FindFrom(low, ">", s + 1);
    if (gt == npos || low.compare(s, 2, "</") == 0) continue;
    std::string name = tag;
    if (tag.empty()) {
      const char c = low[s + 1];
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) continue;
      name = low.substr(s + 1, std::min(FindFrom(low, " ", s + 1), gt) - s - 1);
    }
    const std::string open = html.substr(s, gt - s + 1);
    const std::string close = "</" + name + ">";
    std::size_t end = npos;
    if (open.size() < 2 || open.compare(open.size() - 2, 2, "/>") != 0) {
      for (std::size_t t = FindFrom(low, close, gt + 1); t != npos; t = FindFrom(low, close, t + 1)) {
        if (CountIn(low, "<" + name, s + 1, t) == CountIn(low, close, s + 1, t)) {
          end = t + close.size();
          break;
        }
      }
    }
    if (!innerOnly) {
      out.push_back(end == npos ? open : html.substr(s, end - s));
    } else {
      out.push_back(end == npos ? std::string() : html.substr(gt + 1, end - close.size() - gt - 1));
    }
  }
  return out;
}

// Input: two option bytes, then fields separated by 0x01: html, tag name,
// attribute name, attribute value, contained text, head, tail.
std::vector<std::string> Fields(const std::string& rest) {
  std::vector<std::string> f;
  std::size_t from = 0;
  for (std::size_t p = rest.find('\x01'); p != npos && f.size() < 6; p = rest.find('\x01', from)) {
    f.push_back(rest.substr(from, p - from));
    from = p + 1;
  }
  f.push_back(rest.substr(from));
  f.resize(7);
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned flags = data[0], extra = data[1];
  std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  rest.erase(std::remove(rest.begin(), rest.end(), '\0'), rest.end());  // texts hold no zero byte
  const std::vector<std::string> f = Fields(rest);
  const std::string &html = f[0], &tag = f[1], &head = f[5], &tail = f[6];
  const bool ignoreCase = flags & 1, innerOnly = flags & 2, partial = flags & 4, matchAll = flags & 8;
  std::vector<std::string> names, values;
  if (!f[2].empty()) names.push_back(f[2]);
  if (flags & 16) values.push_back(f[3]);

  HtmlElementFinder finder;
  const int n = std::stoi(finder.FindElements(html, tag, names, values, f[4], partial, matchAll, -1,
                                              ignoreCase, innerOnly));
  if (n != finder.Count() || !finder.GetElement(0).empty() || !finder.GetElement(n + 1).empty()) abort();
  for (int k = 0; k <= std::min(n, 6); ++k) {
    const std::string one = finder.FindElements(html, tag, names, values, f[4], partial, matchAll, k,
                                                ignoreCase, innerOnly);
    if (one != finder.GetElement(std::max(k, 1))) abort();
  }
  if (html.size() <= 512) {
    const std::vector<std::string> plain = PlainWalk(html, tag, ignoreCase, innerOnly);
    if (finder.FindAll(html, tag, ignoreCase) != static_cast<int>(plain.size())) abort();
    HtmlElementFinder inner;
    inner.FindElements(html, tag, {}, {}, "", false, false, -1, ignoreCase, innerOnly);
    for (std::size_t i = 0; i < plain.size(); ++i) {
      if (inner.GetElement(static_cast<int>(i) + 1) != plain[i]) abort();
    }
  }
  if (html.size() <= 512 && !innerOnly) {
    // Filters against their plain reading over the unfiltered list.
    HtmlElementFinder all;
    const int total = std::stoi(all.FindElements(html, tag, {}, {}, "", false, false, -1, ignoreCase));
    std::vector<std::string> pieces;
    if (!f[4].empty()) {
      std::size_t from = 0;
      for (std::size_t p = FindFrom(f[4], "|", 0); p != npos; p = FindFrom(f[4], "|", from)) {
        pieces.push_back(f[4].substr(from, p - from));
        from = p + 1;
      }
      pieces.push_back(f[4].substr(from));
    }
    auto decide = [matchAll](const std::vector<bool>& results) {
      for (bool ok : results)
        if (ok != matchAll) return ok;
      return matchAll;
    };
    std::vector<std::string> expected;
    for (int i = 1; i <= total; ++i) {
      const std::string element = all.GetElement(i);
      const std::string open = element.substr(0, FindFrom(element, ">", 1) + 1);
      std::vector<bool> attrs, texts;
      for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string head = " " + names[k] + "=";
        const std::string wanted = k < values.size() ? values[k] : std::string();
        attrs.push_back(wanted.empty() ? GbkFind(open, head) != npos
                                       : HtmlElementFinder::AttributeMatches(
                                             wanted, TextBetween(open, head + "\"", "\""),
                                             TextBetween(open, head + "'", "'"), TextBetween(open, head, " "),
                                             TextBetween(open, head, ">"), partial));
      }
      for (const std::string& piece : pieces) texts.push_back(GbkFindNoCase(open, piece) != npos);
      if ((names.empty() || decide(attrs)) && (pieces.empty() || decide(texts))) expected.push_back(element);
    }
    HtmlElementFinder filtered;  // finder's own list was replaced by the unfiltered walk above
    const int kept = std::stoi(filtered.FindElements(html, tag, names, values, f[4], partial, matchAll, -1,
                                                     ignoreCase));
    if (kept != n || static_cast<int>(expected.size()) != n) abort();
    for (int i = 1; i <= n; ++i)
      if (filtered.GetElement(i) != expected[static_cast<std::size_t>(i) - 1]) abort();
  }
  HtmlElementFinder::GetAttribute(html, tag);
  if (!finder.IsBalanced(tag, 0, static_cast<int>(html.size()))) abort();  // no page outside a search

  // Repeated extraction moves forward or stops.
  const bool reverse = flags & 32, keepQuotes = flags & 64;
  const int headOffset = static_cast<int>(extra & 15) - 8, tailOffset = static_cast<int>(extra >> 4) - 8;
  int pos = (flags & 128) ? static_cast<int>(extra) : 0;
  for (int i = 0; i < 64; ++i) {
    const int before = pos;
    const std::string cut = TextBetween(html, head, tail, pos, reverse, headOffset, tailOffset, keepQuotes);
    if (pos == before) {
      if (!cut.empty()) abort();
      break;
    }
    if (pos < before || cut.size() > html.size() + 16) abort();
  }
  return 0;
}
