#include "text/HtmlElementFinder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "text/Codec.h"
#include "hooks/Events.h"

namespace lanshu {
namespace {

constexpr std::size_t npos = std::string::npos;

// "#青篱头#" and "#青篱尾#": stand-ins for the start and the end of a text.
const char kHeadMarker[] = "#\xC7\xE0\xC0\xE9\xCD\xB7#";
const char kTailMarker[] = "#\xC7\xE0\xC0\xE9\xCE\xB2#";
const char kFullWidthSpace[] = "\xA1\xA1";

// First character start at or after pos, walking forward from the character
// start known; pos itself when it lies beyond the text.
std::size_t CharStartFrom(const std::string& s, std::size_t known, std::size_t pos) {
  if (pos > s.size()) return pos;
  while (known < pos) known += GbkCharLen(s, known);
  return known;
}

// Every occurrence of what (at character starts) replaced by with.
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t p = GbkFind(text, what, 0); p != npos; p = GbkFind(text, what, from)) {
    out.append(text, from, p - from).append(with);
    from = p + what.size();
  }
  return out.append(text, from, npos);
}

bool IsSpaceAt(std::string_view s, std::size_t i, std::size_t len) {
  return len == 1 ? s[i] == ' ' : s.compare(i, 2, kFullWidthSpace) == 0;
}

// s without leading and trailing ASCII and full-width spaces, walking its
// characters from its first byte.
std::string_view TrimSpacesView(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && IsSpaceAt(s, begin, GbkCharLen(s, begin))) begin += GbkCharLen(s, begin);
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    const std::size_t len = GbkCharLen(s, i);
    i += len;
    if (!IsSpaceAt(s, i - len, len)) end = i;
  }
  return s.substr(begin, end - begin);
}

std::string TrimSpaces(const std::string& text) { return std::string(TrimSpacesView(text)); }

std::vector<std::string> SplitAtBar(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t p = GbkFind(text, "|", 0); p != npos; p = GbkFind(text, "|", from)) {
    pieces.push_back(text.substr(from, p - from));
    from = p + 1;
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

// One pass of TextBetween: the 0-based starts of head and tail, or false.
bool FindMarkers(const std::string& hay, const std::string& head, const std::string& tail,
                 std::size_t from, bool reverse, std::size_t& headAt, std::size_t& tailAt) {
  // A marker made only of quotes has nothing left to look for in the second pass.
  if (head.empty() || tail.empty()) return false;
  from = CharStartFrom(hay, 0, from);
  if (reverse) {
    tailAt = GbkFindNoCase(hay, tail, from);
    if (tailAt == npos) return false;
    headAt = GbkFindLast(hay, head, tailAt, true);
    return headAt != npos;
  }
  headAt = GbkFindNoCase(hay, head, from);
  if (headAt == npos) return false;
  tailAt = GbkFindNoCase(hay, tail, CharStartFrom(hay, headAt, headAt + head.size()));
  return tailAt != npos;
}

// Candidate k (0..3) of an attribute's value after head (" name=" or
// "name="): double-quoted, single-quoted, ended by a blank, ended by ">".
std::string AttributeCandidate(const std::string& tag, const std::string& head, int k) {
  switch (k) {
    case 0: return TextBetween(tag, head + "\"", "\"");
    case 1: return TextBetween(tag, head + "'", "'");
    case 2: return TextBetween(tag, head, " ");
    default: return TextBetween(tag, head, ">");
  }
}

// Tails of the four candidate values of an attribute (see AttributeCandidate).
const std::string kCandidateTails[4] = {"\"", "'", " ", ">"};

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Candidate k of AttributeCandidate for an ASCII name without quotes:
// TextBetween then has no quote pairs to turn into quotes and no second pass
// that could find anything, and an ASCII marker is found ignoring case exactly
// where its lower-cased form is found in the lower-cased tag (it can only match
// single-byte characters), which a plain search does much faster.
std::string_view PlainCandidateView(std::string_view tag, const std::string& lowTag, const std::string& lowHead,
                                    const std::string& lowTail) {
  const std::size_t headAt = GbkFind(lowTag, lowHead);
  if (headAt == npos) return std::string_view();
  const std::size_t begin = headAt + lowHead.size();
  const std::size_t tailAt = GbkFind(lowTag, lowTail, CharStartFrom(lowTag, headAt, begin));
  return tailAt != npos && tailAt > begin ? tag.substr(begin, tailAt - begin) : std::string_view();
}

std::string PlainCandidate(const std::string& tag, const std::string& lowTag, const std::string& lowHead,
                           const std::string& lowTail) {
  return std::string(PlainCandidateView(tag, lowTag, lowHead, lowTail));
}

// One attribute name of a search with its wanted value, prepared once per
// search rather than once per tag.
struct AttributeTest {
  AttributeTest(const std::string& name, const std::string& wanted)
      : head(" " + name + "="),
        value(wanted),
        lowValue(GbkToLowerAscii(wanted)),
        plain(name.find_first_of("\"'") == npos && IsAscii(name)),
        lowHeads{GbkToLowerAscii(head + "\""), GbkToLowerAscii(head + "'"), GbkToLowerAscii(head),
                 GbkToLowerAscii(head)} {}

  std::string Candidate(const std::string& tag, const std::string& lowTag, int k) const {
    return plain ? PlainCandidate(tag, lowTag, lowHeads[k], kCandidateTails[k]) : AttributeCandidate(tag, head, k);
  }

  // Whether the tag holds head, ignoring case.
  bool HasHead(const std::string& tag, const std::string& lowTag) const {
    return plain ? GbkFind(lowTag, lowHeads[2]) != npos : GbkFindNoCase(tag, head) != npos;
  }

  // AttributeMatches over the four candidates, each cut only when the ones
  // before it did not match.
  bool Matches(const std::string& tag, const std::string& lowTag, bool partial) const {
    if (plain && !partial) {
      // Cut from the lower-cased tag, a candidate is already lower-cased (it
      // starts at a character start right after the ASCII head).
      for (int k = 0; k < 4; ++k) {
        const std::string_view c = PlainCandidateView(lowTag, lowTag, lowHeads[k], kCandidateTails[k]);
        if (TrimSpacesView(c) == lowValue) return true;
      }
      return false;
    }
    for (int k = 0; k < 4; ++k) {
      const std::string c = Candidate(tag, lowTag, k);
      if (partial ? GbkFindNoCase(c, value) != npos : GbkToLowerAscii(TrimSpaces(c)) == lowValue) return true;
    }
    return false;
  }

  std::string head;  // " " + name + "="
  std::string value;
  std::string lowValue;
  bool plain;
  std::string lowHeads[4];  // heads of the four candidates, lower-cased
};

using AttributeTests = std::vector<AttributeTest>;

// The tests of a search's attribute filters. A page parser asks for the same
// few filters row after row, so the last ones prepared are kept (per thread;
// a search holds its own reference while it runs).
std::shared_ptr<const AttributeTests> PreparedTests(const std::vector<std::string>& names,
                                                    const std::vector<std::string>& values) {
  struct Entry {
    std::vector<std::string> names, values;
    std::shared_ptr<const AttributeTests> tests;
  };
  thread_local std::vector<Entry> recent;  // the latest first
  for (std::size_t i = 0; i < recent.size(); ++i) {
    if (recent[i].names != names || recent[i].values != values) continue;
    std::rotate(recent.begin(), recent.begin() + static_cast<long>(i), recent.begin() + static_cast<long>(i) + 1);
    return recent.front().tests;
  }
  auto tests = std::make_shared<AttributeTests>();
  tests->reserve(names.size());
  for (std::size_t k = 0; k < names.size(); ++k)
    tests->emplace_back(names[k], k < values.size() ? values[k] : std::string());
  recent.insert(recent.begin(), Entry{names, values, tests});
  if (recent.size() > 8) recent.pop_back();
  return tests;
}

// lowTag is the tag lower-cased.
bool AttributesPass(const std::string& tag, const std::string& lowTag, const std::vector<AttributeTest>& tests,
                    bool partial, bool matchAll) {
  if (tests.empty()) return true;
  for (const AttributeTest& test : tests) {
    bool ok;
    if (test.value.empty()) {
      ok = GbkFind(tag, test.head) != npos;
    } else if (test.plain && !test.HasHead(tag, lowTag)) {
      // Every candidate value is cut after head, so all four would be empty,
      // and an empty value never matches a wanted one.
      ok = false;
    } else {
      ok = test.Matches(tag, lowTag, partial);
    }
    if (ok != matchAll) return ok;  // first failure (matchAll) or first success decides
  }
  return matchAll;
}

bool TextPasses(const std::string& tag, const std::vector<std::string>& pieces, bool matchAll) {
  if (pieces.empty()) return true;
  for (const std::string& piece : pieces) {
    bool ok = GbkFindNoCase(tag, piece) != npos;
    if (ok != matchAll) return ok;
  }
  return matchAll;
}

// Occurrences of needle starting at 0-based positions lo <= p < hi.
int CountStarts(const std::string& buf, const std::string& needle, std::size_t lo, std::size_t hi) {
  GbkScanner scan(buf);
  int n = 0;
  for (std::size_t p = scan.Find(needle, lo); p != npos && p < hi; p = scan.Find(needle, p + 1)) ++n;
  return n;
}

// The page being walked: where its tags begin and end, and, per tag name,
// where "<" + name and "</" + name + ">" occur, so that the closing tag of an
// element is found by binary search instead of counting the span between
// every candidate pair again. Built once per page text; tag names are added
// as searches ask for them.
class PageIndex {
 public:
  struct Tag {
    std::vector<std::size_t> opens;    // "<" + name
    std::vector<std::size_t> closers;  // "</" + name + ">"
    std::vector<std::pair<long, std::size_t>> levels;  // (opens before closer j - j, j), sorted
  };

  explicit PageIndex(const std::string& page) : page_(page) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte k of a loaded word is bits 8k..8k+7");
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::size_t size = page.size();
    const char* const text = page.data();
    std::size_t i = 0;
    while (i < size) {
      if (i + 8 <= size) {
        // The single-byte characters at the start of the next eight bytes
        // (up to the first byte of 0x80 or above) are read at once: "<" and
        // ">" are the bytes b with (b | 2) == 0x3E, that is where x is zero.
        std::uint64_t w;
        std::memcpy(&w, text + i, 8);
        const std::uint64_t high = w & kHigh;
        const std::size_t span = high ? static_cast<std::size_t>(__builtin_ctzll(high)) / 8 : 8;
        if (span > 0) {
          const std::uint64_t x = (w | (kOnes * 2)) ^ (kOnes * 0x3E);
          std::uint64_t marks = ~(((x & kLow7) + kLow7) | x) & kHigh;
          if (span < 8) marks &= (1ull << (8 * span)) - 1;
          for (; marks != 0; marks &= marks - 1) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctzll(marks)) / 8;
            (text[at] == '<' ? lts_ : gts_).push_back(at);
          }
          i += span;
          continue;
        }
      }
      if (text[i] == '<') lts_.push_back(i);
      else if (text[i] == '>') gts_.push_back(i);
      i += GbkCharLen(page, i);
    }
  }

  // The index of page, the bytes of parent's page from offset on, which is a
  // character start there: the characters of the cut are those of the page
  // (a lead byte cut from its trail byte at the end is neither "<" nor ">").
  PageIndex(const std::string& page, const PageIndex& parent, std::size_t offset) : page_(page) {
    Cut(parent.lts_, offset, page.size(), lts_);
    Cut(parent.gts_, offset, page.size(), gts_);
  }

  const std::vector<std::size_t>& TagStarts() const { return lts_; }

  // First ">" (at a character start) at or after from, or npos.
  std::size_t NextGt(std::size_t from) const {
    auto it = std::lower_bound(gts_.begin(), gts_.end(), from);
    return it == gts_.end() ? npos : *it;
  }

  // End (0-based, exclusive) of the first "</" + name + ">" at or after
  // bodyStart that balances the element starting at start, or npos.
  std::size_t ClosingEnd(const std::string& name, std::size_t start, std::size_t bodyStart) {
    const Tag& tag = TagFor(name);
    // Closer j at t balances when the opens and closers strictly between start
    // and t are equal in number, that is when opensBefore(t) - j equals
    // opensAfterStart - closersAfterStart below.
    const long target = static_cast<long>(UpperBound(tag.opens, start)) -
                        static_cast<long>(UpperBound(tag.closers, start));
    const std::size_t first = LowerBound(tag.closers, bodyStart);
    auto it = std::lower_bound(tag.levels.begin(), tag.levels.end(), std::make_pair(target, first));
    if (it == tag.levels.end() || it->first != target) return npos;
    return tag.closers[it->second] + name.size() + 3;
  }

  // References stay valid while entries for other names are added.
  const Tag& TagFor(const std::string& name) {
    auto found = tags_.find(name);
    if (found != tags_.end()) return found->second;
    Tag& tag = tags_[name];
    // Every p is a "<": an opener has the name right after it, a closer "/",
    // the name and ">".
    const std::size_t size = page_.size(), n = name.size();
    const char* const text = page_.data();
    auto nameAt = [&](std::size_t at) { return at + n <= size && std::memcmp(text + at, name.data(), n) == 0; };
    for (std::size_t p : lts_) {
      if (nameAt(p + 1)) tag.opens.push_back(p);
      if (p + 2 + n < size && text[p + 1] == '/' && text[p + 2 + n] == '>' && nameAt(p + 2))
        tag.closers.push_back(p);
    }
    std::size_t opensBefore = 0;
    for (std::size_t j = 0; j < tag.closers.size(); ++j) {
      while (opensBefore < tag.opens.size() && tag.opens[opensBefore] < tag.closers[j]) ++opensBefore;
      tag.levels.emplace_back(static_cast<long>(opensBefore) - static_cast<long>(j), j);
    }
    std::sort(tag.levels.begin(), tag.levels.end());
    return tag;
  }

 private:
  static void Cut(const std::vector<std::size_t>& from, std::size_t offset, std::size_t size,
                  std::vector<std::size_t>& to) {
    auto begin = std::lower_bound(from.begin(), from.end(), offset);
    auto end = std::lower_bound(begin, from.end(), offset + size);
    to.reserve(static_cast<std::size_t>(end - begin));
    for (auto it = begin; it != end; ++it) to.push_back(*it - offset);
  }

  static std::size_t LowerBound(const std::vector<std::size_t>& v, std::size_t x) {
    return static_cast<std::size_t>(std::lower_bound(v.begin(), v.end(), x) - v.begin());
  }
  static std::size_t UpperBound(const std::vector<std::size_t>& v, std::size_t x) {
    return static_cast<std::size_t>(std::upper_bound(v.begin(), v.end(), x) - v.begin());
  }

  const std::string& page_;
  std::vector<std::size_t> lts_;  // every "<" at a character start
  std::vector<std::size_t> gts_;  // every ">" at a character start
  std::unordered_map<std::string, Tag> tags_;
};

// Name of a tag found by "<" alone: the text after "<" up to the first blank
// within the tag, or up to its ">".
std::string TagNameAt(const std::string& page, std::size_t lt, std::size_t gt) {
  std::size_t i = lt + 1;
  while (i < gt && page[i] != ' ') i += GbkCharLen(page, i);
  return page.substr(lt + 1, std::min(i, gt) - lt - 1);
}

}  // namespace

// A page as given to a search, the text the walk reads (its lower-cased copy
// when case is ignored) and the index of that text.
struct HtmlElementFinder::Page {
  Page(const std::string& html, bool ignoreCase)
      : source(html),
        lowered(ignoreCase ? GbkToLowerAscii(html) : std::string()),
        ignoreCase(ignoreCase),
        index(ignoreCase ? lowered : source) {}
  // size bytes of parent from offset, a character start there; lower-casing
  // the cut gives the same bytes as cutting the lower-cased page.
  Page(const Page& parent, std::size_t offset, std::size_t size)
      : source(parent.source, offset, size),
        lowered(parent.ignoreCase ? std::string(parent.lowered, offset, size) : std::string()),
        ignoreCase(parent.ignoreCase),
        index(ignoreCase ? lowered : source, parent.index, offset) {}
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  const std::string& Searched() const { return ignoreCase ? lowered : source; }

  const std::string source;
  const std::string lowered;
  const bool ignoreCase;
  PageIndex index;
};

std::string HtmlElementFinder::FindElements(const std::string& html, const std::string& tagName,
                                            const std::vector<std::string>& attrNames,
                                            const std::vector<std::string>& attrValues,
                                            const std::string& containsText, bool partial,
                                            bool matchAll, int index, bool ignoreCase,
                                            bool innerOnly) {
  const bool listMode = index == -1;
  // The walk holds its own reference to the page, so that a search started
  // from an event handler on this object cannot pull it away from under it.
  std::shared_ptr<Page> cached = cache_.page;
  if (!cached || cached->ignoreCase != ignoreCase || cached->source != html) {
    const Page* parent = cache_.sliceOf.get();
    if (parent && parent->ignoreCase == ignoreCase && cache_.sliceSize == html.size() &&
        parent->source.compare(cache_.sliceAt, cache_.sliceSize, html) == 0) {
      cached = std::make_shared<Page>(*parent, cache_.sliceAt, cache_.sliceSize);
    } else {
      cached = std::make_shared<Page>(html, ignoreCase);
    }
    cache_.page = cached;
  }
  const std::string& source = cached->source;
  const std::string& page = cached->Searched();
  PageIndex& walk = cached->index;
  const std::string name = ignoreCase ? GbkToLowerAscii(tagName) : tagName;
  const std::shared_ptr<const AttributeTests> prepared = PreparedTests(attrNames, attrValues);
  const AttributeTests& tests = *prepared;
  const std::vector<std::string> pieces =
      containsText.empty() ? std::vector<std::string>() : SplitAtBar(containsText);

  const std::shared_ptr<const std::string> outerSearch = search_;
  search_ = std::shared_ptr<const std::string>(cached, &page);
  std::vector<std::int32_t> starts, ends;
  std::string result;
  std::string tag, lowTag;
  int matches = 0;

  const bool filtered = !tests.empty() || !pieces.empty();
  // With a tag name only its opening tags are visited; without one, every "<".
  const std::vector<std::size_t>& candidates = name.empty() ? walk.TagStarts() : walk.TagFor(name).opens;
  for (std::size_t start : candidates) {
    ProcessPendingEvents();
    const std::size_t gt = walk.NextGt(start + 1);
    if (gt == npos) break;  // no later tag has a ">" either
    if (page[start + 1] == '/') continue;
    std::string anyName;
    if (name.empty()) {
      const char c = page[start + 1];
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) continue;
      anyName = TagNameAt(page, start, gt);
    }
    const std::string& elementName = name.empty() ? anyName : name;
    if (filtered) {
      tag.assign(source, start, gt - start + 1);
      // The searched text is the lower-cased page when case is ignored.
      if (ignoreCase) lowTag.assign(page, start, gt - start + 1);
      else lowTag = GbkToLowerAscii(tag);
      if (!AttributesPass(tag, lowTag, tests, partial, matchAll)) continue;
      if (!TextPasses(tag, pieces, matchAll)) continue;
    }
    if (!listMode) {
      ++matches;
      if (index > 0 && matches != index) continue;
    }

    // Only a match needs its end; a tag ending in "/>" is the whole element.
    std::size_t end = npos;
    if (page[gt - 1] != '/') end = walk.ClosingEnd(elementName, start, gt + 1);
    const bool closed = end != npos;
    if (!closed) end = gt + 1;
    const std::size_t innerBegin = gt + 1;
    const std::size_t innerEnd = closed ? end - elementName.size() - 3 : innerBegin;
    if (!listMode) {
      const std::size_t from = innerOnly ? innerBegin : start, to = innerOnly ? innerEnd : end;
      result = source.substr(from, to - from);
      HandOut(cached, from, to - from);
      break;
    }
    starts.push_back(static_cast<std::int32_t>((innerOnly ? innerBegin : start) + 1));
    ends.push_back(static_cast<std::int32_t>((innerOnly ? innerEnd : end) + 1));
  }
  ProcessPendingEvents();

  search_ = outerSearch;
  if (!listMode) return result;
  source_ = cached;
  starts_ = std::move(starts);
  ends_ = std::move(ends);
  return std::to_string(starts_.size());
}

void HtmlElementFinder::HandOut(const std::shared_ptr<Page>& page, std::size_t at, std::size_t size) const {
  cache_.sliceOf = page;
  cache_.sliceAt = at;
  cache_.sliceSize = size;
}

int HtmlElementFinder::FindAll(const std::string& html, const std::string& tagName, bool ignoreCase) {
  return std::stoi(FindElements(html, tagName, {}, {}, std::string(), false, false, -1, ignoreCase));
}

std::string HtmlElementFinder::GetElement(int i) const {
  if (i < 1 || i > Count()) return std::string();
  const std::size_t begin = static_cast<std::size_t>(starts_[i - 1] - 1);
  const std::size_t end = static_cast<std::size_t>(ends_[i - 1] - 1);
  if (!source_ || begin >= end || end > source_->source.size()) return std::string();
  HandOut(source_, begin, end - begin);
  return source_->source.substr(begin, end - begin);
}

std::string HtmlElementFinder::GetAttribute(const std::string& tag, const std::string& name) {
  const std::string head = name + "=";
  const bool plain = name.find_first_of("\"'") == npos && IsAscii(name);
  const std::string lowTag = plain ? GbkToLowerAscii(tag) : std::string();
  const std::string lowHeads[4] = {GbkToLowerAscii(head + "\""), GbkToLowerAscii(head + "'"), GbkToLowerAscii(head),
                                   GbkToLowerAscii(head)};
  std::string value;
  for (int k = 0; k < 4 && value.empty(); ++k)
    value = plain ? PlainCandidate(tag, lowTag, lowHeads[k], kCandidateTails[k]) : AttributeCandidate(tag, head, k);
  if (value == "\"\"") return std::string();
  return TrimSpaces(value);
}

bool HtmlElementFinder::AttributeMatches(const std::string& wanted, const std::string& candidate1,
                                         const std::string& candidate2, const std::string& candidate3,
                                         const std::string& candidate4, bool partial) {
  const std::string lowWanted = GbkToLowerAscii(wanted);
  for (const std::string* c : {&candidate1, &candidate2, &candidate3, &candidate4}) {
    if (partial ? GbkFindNoCase(*c, wanted) != npos : GbkToLowerAscii(TrimSpaces(*c)) == lowWanted) {
      return true;
    }
  }
  return false;
}

bool HtmlElementFinder::IsBalanced(const std::string& tagName, int from, int to) const {
  if (!search_) return true;
  const std::size_t lo = from > 0 ? static_cast<std::size_t>(from) : 0;  // 1-based from < p + 1
  const std::size_t hi = to > 1 ? static_cast<std::size_t>(to - 1) : 0;  // p + 1 < to
  return CountStarts(*search_, "<" + tagName, lo, hi) == CountStarts(*search_, "</" + tagName + ">", lo, hi);
}

std::string TextBetween(const std::string& text, const std::string& head, const std::string& tail,
                        int& position, bool reverse, int headOffset, int tailOffset, bool keepQuotes) {
  std::string h = keepQuotes ? head : QuotePairsToQuote(head);
  std::string t = keepQuotes ? tail : QuotePairsToQuote(tail);
  std::string extended;
  const std::string* hay = &text;
  if (h.empty() || t.empty()) {
    if (h.empty()) {
      h = kHeadMarker;
      extended = h;
    }
    extended += text;
    if (t.empty()) {
      t = kTailMarker;
      extended += t;
    }
    hay = &extended;
  }

  const std::size_t from = position > 1 ? static_cast<std::size_t>(position - 1) : 0;
  std::size_t headAt = 0, tailAt = 0;
  bool found = FindMarkers(*hay, h, t, from, reverse, headAt, tailAt);
  if (!found) {
    std::string h2 = ReplaceAll(h, "\"", ""), t2 = ReplaceAll(t, "\"", "");
    if (h2 != h || t2 != t) {
      h.swap(h2);
      t.swap(t2);
      found = FindMarkers(*hay, h, t, from, reverse, headAt, tailAt);
    }
  }
  if (!found) return std::string();

  position = static_cast<int>(tailAt + t.size() + 1);
  // Offsets may reach past the markers; the cut stays inside the text.
  const long long size = static_cast<long long>(hay->size());
  const long long begin = std::clamp(static_cast<long long>(headAt + h.size()) + headOffset, 0LL, size);
  const long long end = std::clamp(static_cast<long long>(tailAt) - tailOffset, 0LL, size);
  if (end <= begin) return std::string();
  return hay->substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::string TextBetween(const std::string& text, const std::string& head, const std::string& tail) {
  int position = 0;
  return TextBetween(text, head, tail, position);
}

std::string QuotePairsToQuote(const std::string& text) { return ReplaceAll(text, "''", "\""); }

}  // namespace lanshu
