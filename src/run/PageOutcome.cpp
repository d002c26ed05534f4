#include "run/PageOutcome.h"

#include <cstring>
#include <vector>

#include "text/Codec.h"
#include "text/HtmlElementFinder.h"

namespace lanshu {
namespace {

// What the site writes when it has nothing for a domain or seed.
const char* const kNoDataTexts[] = {
    "暂无数据", "没有找到", "暂无该域名的数据", "暂无相关数据", "没有相关数据", "查询无结果",
};

// What it writes when it wants the user to prove being a person.
const char* const kVerificationTexts[] = {
    "验证码", "安全验证", "访问过于频繁", "请完成验证", "拖动滑块", "人机验证",
};

// Markup of captcha images and sliders, matched ignoring case.
const char* const kVerificationMarkup[] = {
    "captcha", "slide-verify", "slider-verify", "verify-slider", "slidecode", "nc_slider",
};

// What it writes when it only wants to be asked later. With a form, a code
// field or a captcha beside it, such a text is a verification wall instead.
const char* const kThrottleTexts[] = {
    "访问过于频繁", "请稍后再试", "操作太频繁", "操作过于频繁", "请求过于频繁", "请求太频繁",
    "访问太频繁", "访问频率过高", "请求频率过高", "稍后再访问",
};

// Verification texts that are no part of a throttle notice.
const char* const kCheckOnlyTexts[] = {
    "验证码", "安全验证", "请完成验证", "拖动滑块", "人机验证",
};

// Names of an input that takes a code, matched ignoring case.
const char* const kCodeFieldNames[] = {"code", "captcha", "verify", "yzm"};

struct Texts {
  std::vector<std::string> noData, verification, throttle, checkOnly;
};

// The table's texts as GBK, converted once.
const Texts& GbkTexts() {
  static const Texts texts = [] {
    Texts t;
    for (const char* s : kNoDataTexts) t.noData.push_back(Utf8TextToGbk(s));
    for (const char* s : kVerificationTexts) t.verification.push_back(Utf8TextToGbk(s));
    for (const char* s : kThrottleTexts) t.throttle.push_back(Utf8TextToGbk(s));
    for (const char* s : kCheckOnlyTexts) t.checkOnly.push_back(Utf8TextToGbk(s));
    return t;
  }();
  return texts;
}

bool ContainsAny(const std::string& html, const std::vector<std::string>& texts) {
  for (const std::string& t : texts)
    if (GbkFind(html, t) != std::string::npos) return true;
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// An <input> whose type is password, in the lower-cased page.
bool HasPasswordField(const std::string& lower) {
  for (std::size_t at = lower.find("<input"); at != std::string::npos;
       at = lower.find("<input", at + 6)) {
    const std::size_t end = lower.find('>', at);
    const std::string tag = lower.substr(at, end == std::string::npos ? end : end - at);
    for (std::size_t t = tag.find("type"); t != std::string::npos; t = tag.find("type", t + 4)) {
      if (!IsBlank(tag[t - 1])) continue;  // part of another attribute's name
      std::size_t v = t + 4;
      while (v < tag.size() && IsBlank(tag[v])) ++v;
      if (v >= tag.size() || tag[v] != '=') continue;
      ++v;
      while (v < tag.size() && IsBlank(tag[v])) ++v;
      if (v < tag.size() && (tag[v] == '"' || tag[v] == '\'')) ++v;
      if (tag.compare(v, 8, "password") != 0) continue;
      const std::size_t after = v + 8;
      if (after == tag.size() || IsBlank(tag[after]) ||
          (tag[after] != '\0' && std::strchr("\"'/>", tag[after])))
        return true;
    }
  }
  return false;
}

// An <input> whose name, id or class asks for a code, in the lower-cased page.
bool HasCodeField(const std::string& lower) {
  for (std::size_t at = lower.find("<input"); at != std::string::npos; at = lower.find("<input", at + 6)) {
    const std::size_t end = lower.find('>', at);
    const std::string tag = lower.substr(at, end == std::string::npos ? end : end - at);
    for (const char* name : kCodeFieldNames)
      if (tag.find(name) != std::string::npos) return true;
  }
  return false;
}

// A notice that the site is busy with this visitor and nothing to pass:
// no form, no code field, no captcha, no other verification text.
bool IsThrottleNotice(const std::string& html, const std::string& lower, const Texts& texts) {
  if (!ContainsAny(html, texts.throttle)) return false;
  if (lower.find("<form") != std::string::npos || HasCodeField(lower)) return false;
  for (const char* markup : kVerificationMarkup)
    if (lower.find(markup) != std::string::npos) return false;
  return !ContainsAny(html, texts.checkOnly);
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk: return "ok";
    case Outcome::kFailed: return "failed";
    case Outcome::kBlocked: return "blocked";
  }
  return "failed";
}

int CountRowTags(const std::string& html, int stopAfter) {
  int count = 0;
  const char* p = html.data();
  const char* const end = p + html.size();
  while (count <= stopAfter) {
    p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p)));
    if (p == nullptr || end - p < 4) break;
    if ((p[1] | 0x20) == 't' && (p[2] | 0x20) == 'r' && (IsBlank(p[3]) || p[3] == '>' || p[3] == '/'))
      ++count;
    ++p;
  }
  return count;
}

std::string ReasonText(Reason why, const std::string& detail) {
  switch (why) {
    case Reason::kNone: return std::string();
    case Reason::kFetch: return detail;
    case Reason::kHttpStatus: return "HTTP " + detail;
    case Reason::kTooManyRows: return "too many rows";
    case Reason::kEmptyPage: return "empty page";
    case Reason::kNoResultsBlock: return "no results block";
    case Reason::kLoginPage: return "login page";
    case Reason::kVerificationPage: return "verification page";
    case Reason::kThrottled: return "throttled";
  }
  return std::string();
}

PageOutcome PrecheckPage(const PageFetch& fetch, const std::string& html) {
  if (!fetch.error.empty()) return PageOutcome::Failed(Reason::kFetch, fetch.error);
  // 429 always asks to come back later; 503 only when it says when.
  if (fetch.status == 429 || (fetch.status == 503 && fetch.retryAfterSeconds >= 0))
    return PageOutcome::Failed(Reason::kThrottled);
  if (fetch.status >= 400) return PageOutcome::Failed(Reason::kHttpStatus, std::to_string(fetch.status));
  // The header row comes on top of the listing's rows.
  if (CountRowTags(html, kMaxRowsPerPage + 1) > kMaxRowsPerPage + 1) return PageOutcome::Failed(Reason::kTooManyRows);
  return PageOutcome();
}

std::string FindResultsBlock(const std::string& html) {
  HtmlElementFinder finder;
  return finder.FindElements(html, "div", {"class"}, {"box_05"});
}

PageOutcome ClassifyPageWithoutResults(const std::string& html) {
  if (html.empty()) return PageOutcome::Failed(Reason::kEmptyPage);
  const Texts& texts = GbkTexts();
  if (ContainsAny(html, texts.noData)) return PageOutcome();
  const std::string lower = GbkToLowerAscii(html);
  if (HasPasswordField(lower)) return PageOutcome::Blocked(Wall::kLogin);
  if (IsThrottleNotice(html, lower, texts)) return PageOutcome::Failed(Reason::kThrottled);
  if (ContainsAny(html, texts.verification)) return PageOutcome::Blocked(Wall::kVerification);
  for (const char* markup : kVerificationMarkup)
    if (lower.find(markup) != std::string::npos) return PageOutcome::Blocked(Wall::kVerification);
  return PageOutcome::Failed(Reason::kNoResultsBlock);
}

}  // namespace lanshu
