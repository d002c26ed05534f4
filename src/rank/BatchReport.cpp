#include "rank/BatchReport.h"

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
  failed_ = blocked_ = false;
  end_ = RunEnd::kFinished;
}

void BatchReporter::PageEnded(RunKind kind, const PageReport& report) {
  pages_.push_back({GbkToUtf8Text(report.target), report.page, report.outcome.outcome,
                    report.outcome.reason, report.attempts, report.rows});
  rows_ += report.rows;
  if (report.outcome.Ok()) return;
  (report.outcome.outcome == Outcome::kBlocked ? blocked_ : failed_) = true;
  if (say_) say_(Line(kind, report));
}

void BatchReporter::RunEnded(RunKind, RunEnd how) { end_ = how; }

int BatchReporter::Status() const {
  if (end_ == RunEnd::kBlocked || blocked_) return kBatchBlocked;
  if (failed_) return kBatchPagesFailed;
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
            ", \"rows\": " + std::to_string(p.rows) + "}";
  }
  return json + "]}\n";
}

}  // namespace lanshu
