#pragma once
// How one collected page ended: a results page (ok, whatever its number of
// rows, also when the site says it has no data), a failure (no usable page),
// or a wall the user has to pass (login or verification). Both collection
// runs judge their pages here; rank and keyword pages alike carry their
// results in a div of class "box_05" and texts in GBK.
#include <string>
#include <utility>

namespace lanshu {

enum class Outcome { kOk, kFailed, kBlocked };

// What a blocked page asks of the user.
enum class Wall { kNone, kLogin, kVerification };

// "ok", "failed", "blocked".
const char* OutcomeName(Outcome outcome);

// Why a page was not ok, decided once where the page is judged.
enum class Reason {
  kNone,
  kFetch,       // the request or the browser's load failed: `detail` is its own word ("time-out", ...)
  kHttpStatus,  // `detail`: the status
  kTooManyRows,
  kEmptyPage,
  kNoResultsBlock,
  kLoginPage,
  kVerificationPage,
  // The site asked to be asked later (429, 503 with Retry-After, or a
  // notice such as 访问过于频繁 without a form or captcha). A run waits it
  // out; a page fails so only when its waits pass the run's patience.
  kThrottled,
};

// The English text of a reason ("HTTP 503", "no results block"), which
// reports, standard error and the history give; ChineseReason gives the
// window's from the same table.
std::string ReasonText(Reason why, const std::string& detail = std::string());

struct PageOutcome {
  Outcome outcome = Outcome::kOk;
  Reason why = Reason::kNone;
  std::string reason;  // ReasonText of why; empty for a results page
  Wall wall = Wall::kNone;  // of a blocked page

  bool Ok() const { return outcome == Outcome::kOk; }
  static PageOutcome Failed(Reason why, const std::string& detail = std::string()) {
    return {Outcome::kFailed, why, ReasonText(why, detail), Wall::kNone};
  }
  // A request or load that failed, in its own words.
  static PageOutcome Failed(const std::string& fetchError) { return Failed(Reason::kFetch, fetchError); }
  static PageOutcome Blocked(Wall wall) {
    const Reason why = wall == Wall::kLogin ? Reason::kLoginPage : Reason::kVerificationPage;
    return {Outcome::kBlocked, why, ReasonText(why), wall};
  }
  // The same page counted as failed (a wall the user skipped).
  PageOutcome AsFailed() const { return {Outcome::kFailed, why, reason, Wall::kNone}; }
};

// More rows than this on one page is garbage, not a listing.
constexpr int kMaxRowsPerPage = 5000;

// What a page load brought besides its text.
struct PageFetch {
  int status = 0;     // HTTP status of the final answer; 0 when unknown
  std::string error;  // why no whole document arrived; empty when one did
  int retryAfterSeconds = -1;  // the answer's Retry-After, in seconds from now; -1 without one
};

// The opening tags of table rows ("<tr" followed by a blank, "/" or ">"),
// counted up to `stopAfter`.
int CountRowTags(const std::string& html, int stopAfter);

// First look at a page, before it is parsed: failed when no usable document
// arrived (transport error, HTTP status 400 or above) or when it holds more
// rows than any listing; throttled at 429, or 503 with a Retry-After;
// otherwise ok, and the page is to be parsed.
PageOutcome PrecheckPage(const PageFetch& fetch, const std::string& html);

// The results block the parsers read: the first div whose class is box_05,
// as the element finder finds it; empty when the page has none. A page is
// judged by this same search, so it is ok exactly when its rows can be read.
std::string FindResultsBlock(const std::string& html);

// A page whose parse found no results block: ok when it says the site has no
// data, blocked when it asks for a login (a form with a password field),
// throttled when it only says the visitor asks too often (访问过于频繁,
// 请稍后再试, ... without a form, code field or captcha), blocked when it
// asks for a verification (a captcha or slider, or texts such as 验证码),
// else failed.
PageOutcome ClassifyPageWithoutResults(const std::string& html);

}  // namespace lanshu
