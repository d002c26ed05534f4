#pragma once
// What a run tells a webhook receiver (a team-chat robot or a script): at its
// end, at a login or verification wall that nobody is there to pass, and at
// its first page that failed because the site kept throttling it. The
// payloads are built here; sending them is web/Webhook.h's, and reading the
// settings the program's.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/BatchReport.h"
#include "run/RunEvents.h"

namespace lanshu {

// 格式 of section "通知": the run's report JSON, or a short text for chat robots.
enum class NoticeFormat { kReport, kText };

// Section "通知" of the settings file.
struct NotifySettings {
  std::vector<std::string> addresses;  // "网址", split at "|"; none: nothing is sent
  NoticeFormat format = NoticeFormat::kReport;
  int rankChangePlaces = 0;  // "排名变化": 0 leaves rank changes out
};

// The addresses of a "网址" value: split at "|", blanks around each dropped,
// empty pieces left out.
std::vector<std::string> NoticeAddresses(const std::string& value);

// A keyword of a domain whose rank changed notably since the domain's
// previous finished run. Texts are GBK.
struct RankChange {
  std::string domain, keyword;
  std::optional<int> oldPosition, newPosition;  // none: not listed, or no number
};

enum class NoticeEvent { kEnded, kWall, kThrottled };

// What one notice says.
struct Notice {
  NoticeEvent event = NoticeEvent::kEnded;
  RunKind kind = RunKind::kRank;
  std::string title;    // short Chinese, UTF-8 (a tray balloon's title)
  std::string text;     // the 文本 summary, UTF-8
  std::string body;     // what is posted, in the format of the settings
};

// The facts of an ended run the text summary tells.
struct RunSummary {
  RunKind kind = RunKind::kRank;
  std::vector<std::string> targets;  // GBK
  RunEnd how = RunEnd::kFinished;
  std::string failure;  // why it ended failed (short English)
  int rows = 0, pages = 0, failed = 0, blocked = 0;
  int throttled = 0;  // of the failed pages, those the site kept throttling
  long long seconds = 0;
};

// "排名查询", "关键词挖掘".
std::string KindTitle(RunKind kind);
// The targets as a summary names them: up to three, then "等 N 个" (UTF-8).
std::string TargetsText(const std::vector<std::string>& targetsGbk);

// The title and text of a run's end, e.g. "排名查询完成" and
// "排名查询完成：example.com\n行数 20，页数 4（失败 1 页，需登录或验证 0 页）\n用时 00:01:12".
std::string EndTitle(const RunSummary& run);
std::string EndText(const RunSummary& run);
// The lines rank changes add to a text (none when there are none).
std::string RankChangeLines(const std::vector<RankChange>& changes);
// A wall nobody is there to pass; `minutes`: how long the run waits for it.
std::string WallText(RunKind kind, const PageReport& page, int minutes);
std::string ThrottledText(RunKind kind, const PageReport& page);

// {"msgtype":"text","text":{"content":"..."}}, the form team-chat robots take.
std::string TextPayload(const std::string& contentUtf8);
// The report JSON with "rankChanges" added before its closing brace; the
// report as it is when there are none.
std::string WithRankChanges(const std::string& reportJson, const std::vector<RankChange>& changes);
// The report JSON so far with a "notice" of a wall or a throttled page added.
std::string WithNotice(const std::string& reportJson, NoticeEvent event, const PageReport& page, int minutes);

// Listens to runs and makes their notices: one at each end, one per page at
// a wall met with nobody there, one per run at the first page failed
// "throttled". The settings are read at each notice, so a change saved
// between runs counts for the next. Everything comes on the runs' thread.
class RunNotices : public RunListener {
 public:
  // Read at each notice.
  std::function<NotifySettings()> settings;
  // A notice to post to the addresses of the settings it was made with.
  std::function<void(const Notice&, const NotifySettings&)> send;
  // Every notice, whether or not it is posted (the tray's balloon). With
  // neither this nor an address, rank changes are not asked for.
  std::function<void(const Notice&)> shown;
  // Asks for the notable rank changes of the kind's last run and gives them
  // to `then` (maybe later, on the runs' thread; never is allowed, see
  // LookupGiveUp). Not set: no rank changes.
  std::function<void(int places, std::function<void(std::vector<RankChange>)> then)> rankChanges;
  // Local ISO-8601 time of now, for the report's times.
  std::function<std::string()> now;
  // Measures how long a run took (tests give a fake one).
  std::function<std::chrono::steady_clock::time_point()> clock = [] { return std::chrono::steady_clock::now(); };
  // True in a batch run: its end is told by ReportEnd() with the report it
  // wrote, since the exit status counts in the report.
  bool endByOwner = false;

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void WallWaiting(RunKind kind, const PageReport& report, int minutes) override;
  void RunFailed(RunKind kind, const std::string& reason) override;
  void RunEnded(RunKind kind, RunEnd how) override;

  // A batch run's end: its report as written and the reporter that made it.
  // Nothing when no run of kind ended in this process.
  void ReportEnd(RunKind kind, const BatchReporter& reporter, const std::string& reportJson);
  // The rank changes of an end that was waiting for them did not come: the
  // end goes without them. Returns whether one was waiting.
  bool LookupGiveUp();
  // An end is waiting for its rank changes.
  bool Waiting() const { return waiting_ > 0; }

 private:
  struct Run {
    bool started = false, ended = false;
    std::vector<std::string> targets;
    RunEnd how = RunEnd::kFinished;
    std::string failure;
    int throttled = 0;
    bool throttleTold = false;
    std::string startedIso;
    std::chrono::steady_clock::time_point startedAt, endedAt;
    std::unique_ptr<BatchReporter> reporter;  // the report a window's run would write
  };
  Run& Of(RunKind kind) { return runs_[kind == RunKind::kRank ? 0 : 1]; }
  std::string Now() const { return now ? now() : std::string(); }
  void Midway(RunKind kind, NoticeEvent event, const PageReport& page, int minutes);
  void End(RunKind kind, const RunSummary& summary, const std::string& reportJson);
  void Deliver(const Notice& notice, const NotifySettings& s);

  Run runs_[2];
  int waiting_ = 0;
  // Each end waiting for rank changes; LookupGiveUp sends them as they are.
  std::vector<std::shared_ptr<std::function<void(std::vector<RankChange>)>>> pending_;
};

}  // namespace lanshu
