#pragma once
// Cutting collected pages without a document tree: HTML elements found by tag
// name and attribute filters, and the text between two markers.
//
// Pages and texts are GBK byte strings. Positions are 1-based byte positions;
// every search steps over double-byte characters, so a match never starts on
// the second byte of a character.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lanshu {

class HtmlElementFinder {
 public:
  // Walks html for elements "<" + tagName ... (any tag when tagName is empty;
  // a longer tag name that begins with tagName is accepted too).
  //
  // index -1 (list mode) stores the byte ranges of all matches, nested ones
  // included, in the order of their start, replacing the stored list, and
  // returns their number as decimal text. Any other index (single mode)
  // returns the HTML of match number index (0 and 1 both mean the first), or
  // the empty text, and leaves the stored list alone.
  //
  // An element runs from its opening tag to the first closing tag that
  // balances the "<" + name and "</" + name + ">" between them; an opening tag
  // ending in "/>", or one that no closing tag balances, is the element alone.
  //
  // attrNames/attrValues filter by attribute (a missing or empty value only
  // asks for " name=" in the opening tag); values are compared ignoring case
  // and surrounding spaces, or as contained text when partial. containsText
  // is a "|"-separated list of texts the opening tag must contain (ignoring
  // case). matchAll asks for every name and every text instead of one.
  // ignoreCase makes tag names and closing tags match in any case. innerOnly
  // drops the opening and closing tags from the result.
  std::string FindElements(const std::string& html, const std::string& tagName = std::string(),
                           const std::vector<std::string>& attrNames = {},
                           const std::vector<std::string>& attrValues = {},
                           const std::string& containsText = std::string(), bool partial = false,
                           bool matchAll = false, int index = 0, bool ignoreCase = true,
                           bool innerOnly = false);

  // List mode without filters; returns the number of stored elements.
  int FindAll(const std::string& html, const std::string& tagName = std::string(),
              bool ignoreCase = true);

  // Text of stored element i (1-based); the empty text outside 1..Count().
  std::string GetElement(int i) const;

  // Number of elements stored by the last list search.
  int Count() const { return static_cast<int>(starts_.size()); }

  // Value of attribute name in an opening tag: name="v", name='v', name=v
  // (ending at a blank or ">"), name matched ignoring case; spaces (ASCII and
  // full-width) around the value are removed; "" as a value gives the empty
  // text, as does a missing attribute.
  static std::string GetAttribute(const std::string& tag, const std::string& name);

  // True if one of the four candidate values matches wanted: contains it
  // (partial) or equals it once trimmed of spaces, both compared ignoring case.
  static bool AttributeMatches(const std::string& wanted, const std::string& candidate1,
                               const std::string& candidate2, const std::string& candidate3,
                               const std::string& candidate4, bool partial);

  // True if the search buffer holds as many "<" + tagName as "</" + tagName +
  // ">" starting strictly between the 1-based positions from and to. The
  // search buffer holds the page only while a search runs (it is released at
  // the end of every search), so outside a search both counts are 0.
  bool IsBalanced(const std::string& tagName, int from, int to) const;

 private:
  struct Page;
  // The last page searched, with its lower-cased copy and tag index, so that
  // further searches of the same text (a row searched cell by cell) skip that
  // work; and the last element handed out, so that a search of it (a row
  // taken from the list) cuts its copy and index from its page's. A copy of
  // the finder starts without them.
  class PageCache {
   public:
    PageCache() = default;
    PageCache(const PageCache&) {}
    PageCache& operator=(const PageCache&) { return *this; }
    std::shared_ptr<Page> page;
    std::shared_ptr<Page> sliceOf;
    std::size_t sliceAt = 0, sliceSize = 0;
  };

  // Notes that the caller got size bytes of page from at.
  void HandOut(const std::shared_ptr<Page>& page, std::size_t at, std::size_t size) const;

  std::vector<std::int32_t> starts_;  // 1-based position of each element's first byte
  std::vector<std::int32_t> ends_;    // 1-based position just after each element's last byte
  // The page being searched (lower-cased unless the search is case-sensitive);
  // set while a search runs, released at its end.
  std::shared_ptr<const std::string> search_;
  std::shared_ptr<Page> source_;  // the page of the last list search
  mutable PageCache cache_;
};

// Text between head and tail in text, searched ignoring case.
//
// Unless keepQuotes, every "''" in head and tail stands for a double quote.
// An empty head means the start of the text, an empty tail its end (through
// 8-byte markers put in front of and behind the text, so positions then count
// the front marker too). Forward: the first head at or after position, then
// the first tail after it. reverse: the first tail at or after position, then
// the last head that ends before it. When nothing is found, the search is
// made once more with the double quotes removed from head and tail, so a
// quoted marker also finds an unquoted attribute value.
//
// On success position becomes the position just after the tail, so passing the
// same variable again yields the next occurrence, and the result drops
// headOffset bytes after the head and tailOffset bytes before the tail. On
// failure the result is empty and position keeps its value. position 0 or 1
// means the start.
std::string TextBetween(const std::string& text, const std::string& head, const std::string& tail,
                        int& position, bool reverse = false, int headOffset = 0, int tailOffset = 0,
                        bool keepQuotes = false);
std::string TextBetween(const std::string& text, const std::string& head, const std::string& tail);

// text with every "''" (two single quotes) replaced by one double quote.
std::string QuotePairsToQuote(const std::string& text);

}  // namespace lanshu
