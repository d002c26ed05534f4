#include "run/Notice.h"

#include <cstdlib>

#include "text/Codec.h"
#include "text/Reasons.h"

namespace lanshu {
namespace {

std::string Trimmed(const std::string& s) {
  const std::size_t from = s.find_first_not_of(" \t\r\n");
  if (from == std::string::npos) return std::string();
  return s.substr(from, s.find_last_not_of(" \t\r\n") - from + 1);
}

std::string N(long long n) { return std::to_string(n); }

// "example.com 第 3 页" (UTF-8).
std::string PageName(const PageReport& page) {
  return GbkToUtf8Text(page.target) + " 第 " + N(page.page) + " 页";
}

std::string PositionText(const std::optional<int>& position) { return position ? N(*position) : "无"; }

std::string PositionJson(const std::optional<int>& position) { return position ? N(*position) : "null"; }

bool InTop10(const std::optional<int>& position) { return position && *position <= 10; }

// "entered", "left", "up" or "down".
const char* ChangeName(const RankChange& c) {
  if (InTop10(c.newPosition) && !InTop10(c.oldPosition)) return "entered";
  if (InTop10(c.oldPosition) && !InTop10(c.newPosition)) return "left";
  // No number ranks below every number.
  if (!c.newPosition) return "down";
  if (!c.oldPosition) return "up";
  return *c.newPosition < *c.oldPosition ? "up" : "down";
}

// Inserts `member` (", \"key\": value") before the closing brace of a JSON
// object, keeping what follows it (the report's line end).
std::string WithMember(const std::string& json, const std::string& member) {
  const std::size_t brace = json.rfind('}');
  if (brace == std::string::npos) return json;
  return json.substr(0, brace) + member + json.substr(brace);
}

}  // namespace

std::vector<std::string> NoticeAddresses(const std::string& value) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = value.find('|', from);
    const std::string piece = Trimmed(value.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (!piece.empty()) out.push_back(piece);
    if (bar == std::string::npos) return out;
    from = bar + 1;
  }
}

std::string KindTitle(RunKind kind) { return kind == RunKind::kRank ? "排名查询" : "关键词挖掘"; }

std::string TargetsText(const std::vector<std::string>& targetsGbk) {
  std::string text;
  const std::size_t shown = targetsGbk.size() > 3 ? 3 : targetsGbk.size();
  for (std::size_t i = 0; i < shown; ++i) {
    if (i) text += "、";
    text += GbkToUtf8Text(targetsGbk[i]);
  }
  if (targetsGbk.size() > shown) text += " 等 " + N(static_cast<long long>(targetsGbk.size())) + " 个";
  return text;
}

std::string EndTitle(const RunSummary& run) {
  switch (run.how) {
    case RunEnd::kFinished: return KindTitle(run.kind) + "完成";
    case RunEnd::kStopped: return KindTitle(run.kind) + "已停止";
    case RunEnd::kBlocked: return KindTitle(run.kind) + "因需登录或验证而结束";
    case RunEnd::kFailed: return KindTitle(run.kind) + "失败";
  }
  return KindTitle(run.kind);
}

std::string EndText(const RunSummary& run) {
  std::string text = EndTitle(run);
  if (!run.targets.empty()) text += "：" + TargetsText(run.targets);
  if (run.how == RunEnd::kFailed && !run.failure.empty()) text += "\n" + ChineseReason(run.failure);
  text += "\n行数 " + N(run.rows) + "，页数 " + N(run.pages) + "（失败 " + N(run.failed) + " 页，需登录或验证 " +
          N(run.blocked) + " 页）";
  if (run.throttled > 0) text += "\n其中 " + N(run.throttled) + " 页因网站限流而失败";
  return text + "\n用时 " + ElapsedText(run.seconds);
}

std::string RankChangeLines(const std::vector<RankChange>& changes) {
  if (changes.empty()) return std::string();
  std::string text = "\n排名变化：";
  for (const RankChange& c : changes) {
    text += "\n" + GbkToUtf8Text(c.domain) + " " + GbkToUtf8Text(c.keyword) + "：" + PositionText(c.oldPosition) +
            " → " + PositionText(c.newPosition);
    const std::string how = ChangeName(c);
    if (how == "entered") {
      text += "（进入前 10）";
    } else if (how == "left") {
      text += "（跌出前 10）";
    } else if (c.oldPosition && c.newPosition) {
      text += (how == "up" ? "（上升 " : "（下降 ") + N(std::abs(*c.newPosition - *c.oldPosition)) + "）";
    }
  }
  return text;
}

std::string WallText(RunKind kind, const PageReport& page, int minutes) {
  const std::string need = page.outcome.wall == Wall::kVerification ? "需要验证" : "需要登录";
  std::string text = KindTitle(kind) + need + "：" + PageName(page);
  if (!page.address.empty()) text += "\n" + GbkToUtf8Text(page.address);
  return text + "\n无人处理，最多等待 " + N(minutes) + " 分钟";
}

std::string ThrottledText(RunKind kind, const PageReport& page) {
  std::string text = KindTitle(kind) + "被网站限流：" + PageName(page) + "多次被限流，已算作失败";
  if (!page.address.empty()) text += "\n" + GbkToUtf8Text(page.address);
  return text;
}

std::string TextPayload(const std::string& contentUtf8) {
  return "{\"msgtype\":\"text\",\"text\":{\"content\":" + JsonString(contentUtf8) + "}}";
}

std::string WithRankChanges(const std::string& reportJson, const std::vector<RankChange>& changes) {
  if (changes.empty()) return reportJson;
  std::string member = ", \"rankChanges\": [";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const RankChange& c = changes[i];
    if (i) member += ", ";
    member += "{\"domain\": " + JsonString(GbkToUtf8Text(c.domain)) +
              ", \"keyword\": " + JsonString(GbkToUtf8Text(c.keyword)) + ", \"old\": " + PositionJson(c.oldPosition) +
              ", \"new\": " + PositionJson(c.newPosition) + ", \"change\": " + JsonString(ChangeName(c)) + "}";
  }
  return WithMember(reportJson, member + "]");
}

std::string WithNotice(const std::string& reportJson, NoticeEvent event, const PageReport& page, int minutes) {
  std::string member = std::string(", \"notice\": {\"event\": ") +
                       (event == NoticeEvent::kWall ? "\"wall\"" : "\"throttled\"") +
                       ", \"target\": " + JsonString(GbkToUtf8Text(page.target)) + ", \"page\": " + N(page.page) +
                       ", \"address\": " + JsonString(GbkToUtf8Text(page.address)) +
                       ", \"reason\": " + JsonString(page.outcome.reason);
  if (event == NoticeEvent::kWall) member += ", \"minutes\": " + N(minutes);
  return WithMember(reportJson, member + "}");
}

void RunNotices::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  Run& run = Of(kind);
  run = Run();
  run.started = true;
  run.targets = targets;
  run.startedIso = Now();
  run.startedAt = run.endedAt = clock();
  run.reporter = std::make_unique<BatchReporter>(nullptr);
  run.reporter->RunStarted(kind, targets);
}

void RunNotices::PageEnded(RunKind kind, const PageReport& report) {
  Run& run = Of(kind);
  if (!run.reporter) return;
  run.reporter->PageEnded(kind, report);
  if (report.outcome.outcome != Outcome::kFailed || report.outcome.why != Reason::kThrottled) return;
  ++run.throttled;
  // One per run: a site that throttles every page would flood the receiver.
  if (run.throttleTold) return;
  run.throttleTold = true;
  Midway(kind, NoticeEvent::kThrottled, report, 0);
}

void RunNotices::WallWaiting(RunKind kind, const PageReport& report, int minutes) {
  if (!Of(kind).reporter) return;
  Midway(kind, NoticeEvent::kWall, report, minutes);
}

void RunNotices::RunFailed(RunKind kind, const std::string& reason) { Of(kind).failure = reason; }

void RunNotices::RunEnded(RunKind kind, RunEnd how) {
  Run& run = Of(kind);
  if (!run.reporter) return;
  run.reporter->RunEnded(kind, how);
  run.how = how;
  run.endedAt = clock();
  run.ended = true;
  if (endByOwner) return;
  ReportEnd(kind, *run.reporter, run.reporter->Json(run.startedIso, Now(), run.reporter->Status()));
}

void RunNotices::ReportEnd(RunKind kind, const BatchReporter& reporter, const std::string& reportJson) {
  Run& run = Of(kind);
  if (!run.ended) return;
  run.ended = false;
  RunSummary summary;
  summary.kind = kind;
  summary.targets = run.targets;
  summary.how = run.how;
  summary.failure = run.failure;
  summary.rows = reporter.Rows();
  summary.pages = reporter.Pages();
  summary.failed = reporter.FailedPages();
  summary.blocked = reporter.BlockedPages();
  summary.throttled = run.throttled;
  summary.seconds = std::chrono::duration_cast<std::chrono::seconds>(run.endedAt - run.startedAt).count();
  End(kind, summary, reportJson);
}

void RunNotices::End(RunKind kind, const RunSummary& summary, const std::string& reportJson) {
  const NotifySettings s = settings ? settings() : NotifySettings();
  auto make = [this, kind, summary, reportJson, s](const std::vector<RankChange>& changes) {
    Notice notice;
    notice.event = NoticeEvent::kEnded;
    notice.kind = kind;
    notice.title = EndTitle(summary);
    notice.text = EndText(summary) + RankChangeLines(changes);
    notice.body = s.format == NoticeFormat::kText ? TextPayload(notice.text) : WithRankChanges(reportJson, changes);
    Deliver(notice, s);
  };
  // A run that did not finish, or a retry of some pages, lists only some of
  // its keywords: compared, the rest would look lost.
  // Nobody to tell: the history is not asked either.
  const bool told = !s.addresses.empty() || shown;
  if (kind != RunKind::kRank || summary.how != RunEnd::kFinished || s.rankChangePlaces <= 0 || !rankChanges ||
      !told) {
    make({});
    return;
  }
  // Told once: by the lookup, or without changes when it is given up on.
  auto once = std::make_shared<std::function<void(std::vector<RankChange>)>>();
  *once = [this, make, weak = std::weak_ptr<std::function<void(std::vector<RankChange>)>>(once)](
              std::vector<RankChange> changes) {
    const auto self = weak.lock();
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (*it != self) continue;
      pending_.erase(it);
      --waiting_;
      make(changes);
      return;
    }
  };
  pending_.push_back(once);
  ++waiting_;
  rankChanges(s.rankChangePlaces, [weak = std::weak_ptr<std::function<void(std::vector<RankChange>)>>(once)](
                                      std::vector<RankChange> changes) {
    if (const auto call = weak.lock()) (*call)(std::move(changes));
  });
}

bool RunNotices::LookupGiveUp() {
  if (pending_.empty()) return false;
  const auto waiting = pending_;
  for (const auto& call : waiting) (*call)({});
  return true;
}

void RunNotices::Midway(RunKind kind, NoticeEvent event, const PageReport& page, int minutes) {
  Run& run = Of(kind);
  const NotifySettings s = settings ? settings() : NotifySettings();
  Notice notice;
  notice.event = event;
  notice.kind = kind;
  if (event == NoticeEvent::kWall) {
    notice.title = KindTitle(kind) + (page.outcome.wall == Wall::kVerification ? "需要验证" : "需要登录");
    notice.text = WallText(kind, page, minutes);
  } else {
    notice.title = KindTitle(kind) + "被网站限流";
    notice.text = ThrottledText(kind, page);
  }
  // The run is not over: the report so far, without its finishing time.
  notice.body = s.format == NoticeFormat::kText
                    ? TextPayload(notice.text)
                    : WithNotice(run.reporter->Json(run.startedIso, std::string(), run.reporter->Status()), event,
                                 page, minutes);
  Deliver(notice, s);
}

void RunNotices::Deliver(const Notice& notice, const NotifySettings& s) {
  if (shown) shown(notice);
  if (send && !s.addresses.empty()) send(notice, s);
}

}  // namespace lanshu
