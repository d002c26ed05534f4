#include "run/BatchReport.h"

#include <cstdio>

#include "text/Codec.h"

namespace lanshu {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string BatchReporter::Line(RunKind kind, const PageReport& report) {
  return std::string("lanshu-collector: ") + OutcomeName(report.outcome.outcome) + ": " +
         RunKindName(kind) + " " + GbkToUtf8Text(report.target) + " page " +
         std::to_string(report.page) + ": " + report.outcome.reason;
}

void BatchReporter::RunStarted(RunKind kind, const std::vector<std::string>&) {
  kind_ = kind;
  started_ = true;
  pages_.clear();
  rows_ = 0;
  failedPages_ = blockedPages_ = 0;
  end_ = RunEnd::kFinished;
  startedAt_ = endedAt_ = std::chrono::steady_clock::now();
}

void BatchReporter::PageEnded(RunKind kind, const PageReport& report) {
  pages_.push_back({GbkToUtf8Text(report.target), report.page, report.outcome.outcome,
                    report.outcome.reason, report.attempts, report.rows, report.throttleWaits,
                    report.throttledSeconds});
  rows_ += report.rows;
  if (report.outcome.Ok()) return;
  ++(report.outcome.outcome == Outcome::kBlocked ? blockedPages_ : failedPages_);
  if (say_) say_(Line(kind, report));
}

void BatchReporter::WholeRun(RunKind kind, const std::vector<PageReport>& pages, std::optional<RunEnd> ended) {
  if (ended) {
    kind_ = kind;
    started_ = true;
    end_ = *ended;
    startedAt_ = endedAt_ = std::chrono::steady_clock::now();
  }
  pages_.clear();
  rows_ = 0;
  failedPages_ = blockedPages_ = 0;
  for (const PageReport& report : pages) {
    pages_.push_back({GbkToUtf8Text(report.target), report.page, report.outcome.outcome, report.outcome.reason,
                      report.attempts, report.rows, report.throttleWaits, report.throttledSeconds});
    rows_ += report.rows;
    if (!report.outcome.Ok()) ++(report.outcome.outcome == Outcome::kBlocked ? blockedPages_ : failedPages_);
  }
}

void BatchReporter::Throttled(RunKind kind, const std::string& target, int page, int seconds) {
  if (say_)
    say_(std::string("lanshu-collector: throttled: ") + RunKindName(kind) + " " + GbkToUtf8Text(target) + " page " +
         std::to_string(page) + ": waiting " + std::to_string(seconds) + " s");
}

void BatchReporter::RunFailed(RunKind, const std::string& reason) {
  if (say_) say_("lanshu-collector: " + reason);
}

void BatchReporter::RunEnded(RunKind, RunEnd how) {
  end_ = how;
  endedAt_ = std::chrono::steady_clock::now();
}

std::string ElapsedText(long long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

namespace {

long long SecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::seconds>(to - from).count();
}

}  // namespace

std::string BatchReporter::SummaryLine() const {
  return std::string("lanshu-collector: done: ") + RunKindName(kind_) + " " + std::to_string(rows_) + " rows, " +
         std::to_string(pages_.size()) + " pages (" + std::to_string(failedPages_) + " failed, " +
         std::to_string(blockedPages_) + " blocked) in " + ElapsedText(SecondsBetween(startedAt_, endedAt_));
}

void BatchConsole::Line(const std::string& text) {
  ClearProgress();
  write_(text + "\n");
}

void BatchConsole::Progress(const std::string& text) {
  if (!terminal_) return;
  // Columns on screen, not bytes, decide how much of the old line to blank
  // out: a character of three or four UTF-8 bytes (Chinese) takes two.
  std::size_t width = 0;
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) width += b >= 0xE0 ? 2 : 1;
  }
  std::string line = "\r" + text;
  if (width < shown_) line += std::string(shown_ - width, ' ') + "\r" + text;
  shown_ = width;
  write_(line);
}

void BatchConsole::ClearProgress() {
  if (shown_ == 0) return;
  write_("\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

void BatchProgress::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  kind_ = kind;
  count_ = static_cast<int>(targets.size());
  index_ = page_ = pages_ = rows_ = 0;
  target_.clear();
  started_ = std::chrono::steady_clock::now();
  Show();
}

void BatchProgress::TargetStarted(RunKind, const std::string& target, int index, int count) {
  target_ = GbkToUtf8Text(target);
  index_ = index;
  count_ = count;
  page_ = pages_ = 0;
  Show();
}

void BatchProgress::PageRequested(RunKind, const std::string& target, int page, int, int knownPages) {
  target_ = GbkToUtf8Text(target);
  page_ = page;
  if (knownPages > 0) pages_ = knownPages;
  Show();
}

void BatchProgress::PageEnded(RunKind, const PageReport& report) {
  rows_ += report.rows;
  Show();
}

void BatchProgress::RunEnded(RunKind, RunEnd) { console_.ClearProgress(); }

std::string BatchProgress::Text() const {
  std::string text = std::string(RunKindName(kind_)) + " " + std::to_string(index_) + "/" + std::to_string(count_);
  if (!target_.empty()) text += " " + target_;
  text += " page " + std::to_string(page_);
  if (pages_ > 0) text += "/" + std::to_string(pages_);
  return text + ", " + std::to_string(rows_) + " rows, " +
         ElapsedText(SecondsBetween(started_, std::chrono::steady_clock::now()));
}

void BatchProgress::Show() { console_.Progress(Text()); }

int BatchReporter::Status() const {
  if (end_ == RunEnd::kFailed) return kBatchCannotRun;
  if (end_ == RunEnd::kBlocked || blockedPages_ > 0) return kBatchBlocked;
  if (failedPages_ > 0) return kBatchPagesFailed;
  return kBatchOk;
}

std::string BatchReporter::Json(const std::string& started, const std::string& finished,
                                int status) const {
  std::string json = "{\"kind\": " + JsonString(RunKindName(kind_)) +
                     ", \"started\": " + JsonString(started) +
                     ", \"finished\": " + JsonString(finished) +
                     ", \"status\": " + std::to_string(status) +
                     ", \"rows\": " + std::to_string(rows_) + ", \"pages\": [";
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    const Page& p = pages_[i];
    if (i) json += ", ";
    json += "{\"target\": " + JsonString(p.target) + ", \"page\": " + std::to_string(p.page) +
            ", \"outcome\": " + JsonString(OutcomeName(p.outcome)) +
            ", \"reason\": " + JsonString(p.reason) +
            ", \"attempts\": " + std::to_string(p.attempts) +
            ", \"rows\": " + std::to_string(p.rows);
    // Only a throttled page has them, so a report of a run the site never
    // throttled reads as it always did.
    if (p.throttleWaits > 0)
      json += ", \"throttleWaits\": " + std::to_string(p.throttleWaits) +
              ", \"throttledSeconds\": " + std::to_string(p.throttledSeconds);
    json += "}";
  }
  return json + "]}\n";
}

}  // namespace lanshu
