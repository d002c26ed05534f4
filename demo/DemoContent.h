#pragma once
// Content of the demo site: deterministic rows and the pages that carry them.
//
// Every text here is GBK (code page 936) unless a name says otherwise; the
// keyword pages are turned into UTF-8 only when they are served. The same
// functions build the served pages and tell tests what those pages hold, so a
// test can compare a parser's output with the rows the site put in.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lanshu::demo {

// Which page numbers the page links of a result page name.
enum class PageLinks {
  kAll,           // every other page of the listing, by number
  kBeyond50Only,  // only pages 51 and above (none when the listing is shorter)
};

// A misbehaving answer for one path.
struct Fault {
  enum class Kind {
    kStatus500,  // `status` (500 unless set) with a short error page
    kHang,       // no answer at all until the site stops
    kCutBody,    // full Content-Length announced, half the body sent, connection closed
    kDelay,      // the normal answer after delayMs
    // Status 200 in place of the result page, in the layout and character set
    // of the page asked for (ranking pages GBK, keyword pages UTF-8):
    kLogin,    // a login form with a password field, until the request carries a session
    kVerify,   // a captcha check, until the request carries a passed check
    kNoData,   // the site has no data for this domain or seed: results block without rows
    kGarbage,  // a page that is neither a result page nor a login or captcha check
    kHuge,     // the result page with `rows` rows
    // Answers of a site that finds the visitor too busy, on every request:
    kThrottle,  // 429 with Retry-After: 2
    kBusy,      // status 200, a notice "访问过于频繁，请稍后再试" and nothing to pass
    kLoggedOut,  // the login page, whatever session the request carries
  };
  Kind kind = Kind::kStatus500;
  // The request path as sent (percent-encoded) or as decoded; a trailing "*"
  // makes it a prefix. The query string is not part of it.
  std::string path;
  int delayMs = 0;
  int status = 500;
  int rows = 6000;
};

struct Options {
  // Ranking pages.
  int rankPages = 3;                             // pages per domain
  std::map<std::string, int> rankPagesByDomain;  // overrides rankPages for a domain
  int rankRowsPerPage = 10;
  bool rankDuplicates = true;       // shared keyword across domains, one repeated on page 2
  bool rankLastPageWithoutResults = false;  // the last page has no results block

  // Keyword pages.
  int keywordPages = 3;                            // pages per seed
  std::map<std::string, int> keywordPagesBySeed;   // overrides keywordPages for a seed
  int keywordRowsPerPage = 8;
  bool keywordDuplicates = true;        // the last row of page 2 repeats the first of page 1
  bool keywordNoResults = false;        // every seed reports no related keyword
  std::set<std::string> keywordNoResultSeeds;  // these seeds report none

  // Page links of both kinds of result page.
  PageLinks pageLinks = PageLinks::kAll;
  bool pageLinksInCapitals = false;  // "</A>"; ranking links also spell the sort word in capitals

  // User page and login.
  bool requireLogin = false;  // ranking pages show a login page without a valid session
  // Ranking and keyword pages show a captcha check until it is passed.
  bool requireVerification = false;
  std::string loginUser = "demo";
  std::string loginPassword = "demo";

  // Timing and faults.
  int delayMs = 0;  // before every answer
  std::vector<Fault> faults;
  // Faults of a result page's first requests only, so that asking again
  // gets the page: request k of a page meets the k-th fault that applies to
  // it, in this order. The percents pick pages by a hash of their path.
  int flakyPercent = 0;   // a 500
  int stallPercent = 0;   // the answer after 10 s (beyond a short time-out)
  int logoutPercent = 0;  // the login page: a session ended, which the demo renews at once
  int throttlePercent = 0;  // a 429 with Retry-After: 2
  int busyPercent = 0;      // the busy notice
};

// One result row of a ranking page. The text fields are the cell's text with
// tags, line breaks, tabs, "&nbsp;" and surrounding blanks left out.
struct RankRow {
  std::string serial;   // exactly the text between the row's "<td>" and "</td>"
  std::string keyword;  // without the hint
  std::string hint;     // the list after "此关键词包含:" when the cell carries one, else empty
  std::string rank;     // as written, e.g. "第1页第3位" or "27"
  std::string volume;   // shown value: references decoded ("12,345"), digits otherwise
  std::string indexed;  // the same for the indexed count
  std::string title;    // as written in the markup: "&amp;" stays, ASCII commas stay
  std::string href;     // the anchor's href: search engine base + "/link?url=" + token
  std::string target;   // what that link answers in Location; empty: 200 without Location
  std::string html;     // the whole tr element as served
};

// One related-keyword row of a keyword page.
struct KeywordRow {
  bool hasCells = true;  // false: the "no related keywords" row, a tr without td
  std::string serial;
  std::string keyword;
  std::string volume;   // digits
  std::string indexed;  // digits
  std::string first;    // link text as written: references undecoded, commas literal
  std::string second;
  int level = 0;        // 1..5, the digit of images/keyword/lN.gif
  std::string html;     // the whole tr element as served (GBK form of the UTF-8 page)
};

// Number of result pages the site has for a domain or a seed.
int RankPageCount(const Options& options, const std::string& domain);
int KeywordPageCount(const Options& options, const std::string& seed);

// True when the given sort word (any case) is one the ranking pages know.
bool IsSortWord(const std::string& word);

// Rows of ranking page `page` of `domain` under `sortWord` ("position", "ip",
// "zhishu"); `baseUrl` is the site's address (it appears in the links). Empty
// for a page past the last, for the last page when it has no results block,
// and for an unknown sort word.
std::vector<RankRow> ExpectedRankRows(const std::string& baseUrl, const std::string& domain,
                                      int page, const std::string& sortWord,
                                      const Options& options);

// Rows of keyword page `page` of `seed` (GBK). Empty for a page past the last.
std::vector<KeywordRow> ExpectedKeywordRows(const std::string& seed, int page,
                                            const Options& options);

// Whole pages (GBK). Page numbers from 1; a page past the last holds the
// results block with its header row only.
std::string RankPageHtml(const std::string& baseUrl, const std::string& domain, int page,
                         const std::string& sortWord, const Options& options);
std::string KeywordPageHtml(const std::string& seed, int page, const Options& options);

// The pages the site shows when it has no data for a domain or a seed: the
// results block with its header row and a notice, and no page links (GBK).
std::string RankNoDataPageHtml(const std::string& domain, int page, const std::string& sortWord,
                               const Options& options);
std::string KeywordNoDataPageHtml(const std::string& seed, int page);

// Paths as a client sends them: the domain unchanged, the seed as UTF-8 with
// every byte but ASCII letters and digits percent-encoded ("%E5%87%8F").
std::string RankPath(const std::string& domain, int page, const std::string& sortWord);
std::string KeywordPath(const std::string& seed, int page);

// Target of a redirect token: true with the Location value, or true with an
// empty value for a token that answers 200 without Location; false for a
// token the site never issued.
bool RedirectTarget(const std::string& token, std::string& location);

// Helpers shared with the server.
std::string Gbk(const char* utf8);                     // literal text to GBK
std::string HtmlEscape(const std::string& text);       // & < > " as references
std::string PercentEncode(const std::string& bytes);   // all but ASCII letters and digits
bool IsValidUtf8(const std::string& bytes);

}  // namespace lanshu::demo
