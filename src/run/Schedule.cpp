#include "run/Schedule.h"

#include <algorithm>
#include <QTimeZone>
#include <cstdio>

#include "store/ConfigStore.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

const std::string& FullWidthBlank() {
  static const std::string blank = G("　");
  return blank;
}

// Blanks around an entry, the full-width one included, do not count.
std::string Trimmed(const std::string& s) {
  std::size_t from = 0, to = s.size();
  const std::string& wide = FullWidthBlank();
  for (;;) {
    if (from < to && (s[from] == ' ' || s[from] == '\t')) {
      ++from;
    } else if (to - from >= wide.size() && s.compare(from, wide.size(), wide) == 0) {
      from += wide.size();
    } else {
      break;
    }
  }
  for (;;) {
    if (to > from && (s[to - 1] == ' ' || s[to - 1] == '\t')) {
      --to;
    } else if (to - from >= wide.size() && s.compare(to - wide.size(), wide.size(), wide) == 0) {
      to -= wide.size();
    } else {
      break;
    }
  }
  return s.substr(from, to - from);
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Minutes after midnight of "H:MM" or "HH:MM"; -1 for anything else.
int MinutesOf(const std::string& entry) {
  static const std::string wideColon = G("：");
  std::size_t colon = entry.find(':');
  std::size_t after = colon + 1;
  if (colon == std::string::npos) {
    colon = entry.find(wideColon);
    if (colon == std::string::npos) return -1;
    after = colon + wideColon.size();
  }
  const std::string hours = entry.substr(0, colon), minutes = entry.substr(after);
  if (!AllDigits(hours) || hours.size() > 2 || !AllDigits(minutes) || minutes.size() != 2) return -1;
  const int h = std::stoi(hours), m = std::stoi(minutes);
  return h < 24 && m < 60 ? h * 60 + m : -1;
}

}  // namespace

std::vector<int> ParseScheduleTimes(const std::string& text, std::vector<std::string>* invalid) {
  std::vector<int> times;
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = text.find('|', from);
    const std::string entry = Trimmed(text.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (!entry.empty()) {
      const int m = MinutesOf(entry);
      if (m >= 0) {
        times.push_back(m);
      } else if (invalid) {
        invalid->push_back(entry);
      }
    }
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

std::string ScheduleTimesText(const std::vector<int>& minutes) {
  std::string text;
  for (int m : minutes) {
    char entry[8];
    std::snprintf(entry, sizeof entry, "%02d:%02d", (m / 60) % 100, m % 60);
    if (!text.empty()) text += '|';
    text += entry;
  }
  return text;
}

std::vector<int> ScheduleSettings::Times() const { return ParseScheduleTimes(timesText); }

std::string ScheduledTaskText(ScheduledTask task) {
  switch (task) {
    case ScheduledTask::kMine: return G("挖掘");
    case ScheduledTask::kBoth: return G("排名和挖掘");
    default: return G("排名");
  }
}

std::optional<ScheduledTask> ScheduledTaskFromText(const std::string& gbk) {
  const std::string text = Trimmed(gbk);
  for (ScheduledTask task : {ScheduledTask::kRank, ScheduledTask::kMine, ScheduledTask::kBoth})
    if (text == ScheduledTaskText(task)) return task;
  return std::nullopt;
}

ScheduleSettings LoadScheduleSettings(ConfigStore& s) {
  ScheduleSettings settings;
  s.SetSection(G("定时采集"));
  settings.enabled = s.ReadBool(G("启用"), settings.enabled);
  settings.timesText = s.ReadText(G("时间"), settings.timesText);
  settings.task = ScheduledTaskFromText(s.ReadText(G("任务"), ScheduledTaskText(settings.task))).value_or(ScheduledTask::kRank);
  settings.unattended = s.ReadBool(G("无人值守"), settings.unattended);
  return settings;
}

void SaveScheduleSettings(ConfigStore& s, const ScheduleSettings& settings) {
  s.SetSection(G("定时采集"));
  s.WriteBool(G("启用"), settings.enabled);
  s.WriteText(G("时间"), settings.timesText);
  s.WriteText(G("任务"), ScheduledTaskText(settings.task));
  s.WriteBool(G("无人值守"), settings.unattended);
}

void ScheduleChecker::Open(const QDateTime& now) { last_ = now.addSecs(-60); }

bool ScheduleChecker::Due(const std::vector<int>& times, const QDateTime& now) {
  if (!now.isValid()) return false;
  if (!last_.isValid()) Open(now);
  // A clock set back (or no time passed): nothing new, and the last look
  // stays where it was, so the hour gone through again runs nothing twice.
  if (now <= last_) return false;
  const QDateTime from = last_;
  last_ = now;
  if (times.empty()) return false;
  // Asleep for a day or more: every time came at least once.
  if (from.secsTo(now) >= 24 * 60 * 60) return true;
  // Less than a day: the span touches at most two dates (midnight between).
  for (QDate day = from.date(); day <= now.date(); day = day.addDays(1))
    for (int m : times) {
      const QTime time(m / 60, m % 60);
      const QDateTime at = now.timeSpec() == Qt::TimeZone ? QDateTime(day, time, now.timeZone())
                                                          : QDateTime(day, time, now.timeSpec(), now.offsetFromUtc());
      if (at > from && at <= now) return true;
    }
  return false;
}

}  // namespace lanshu
