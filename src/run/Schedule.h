#pragma once
// Scheduled collection: the section "定时采集" of the settings file and the
// check that says when the saved run is due. Widget-free; the clock is the
// caller's, so tests drive it.
#include <QDateTime>
#include <optional>
#include <string>
#include <vector>

namespace lanshu {

class ConfigStore;

// What a scheduled time starts.
enum class ScheduledTask { kRank, kMine, kBoth };

// Section "定时采集": "启用" (真/假), "时间" (HH:MM, several separated by "|"),
// "任务" (排名, 挖掘 or 排名和挖掘), "无人值守" (真/假). A file without the section
// reads as the defaults: the schedule is off.
struct ScheduleSettings {
  bool enabled = false;
  std::string timesText;   // as written (GBK)
  ScheduledTask task = ScheduledTask::kRank;
  bool unattended = false;
  // The valid times of timesText, minutes after midnight, ascending, each once.
  std::vector<int> Times() const;
};

// The times of a "时间" text (GBK). Entries are separated by "|", blanks
// around them do not count; an entry is H:MM or HH:MM (the full-width colon
// too) with hours 0-23 and minutes 00-59. Other entries are left out and, when
// asked for, listed in `invalid` as written (trimmed).
std::vector<int> ParseScheduleTimes(const std::string& text, std::vector<std::string>* invalid = nullptr);
// "08:30|20:00" for {510, 1200}.
std::string ScheduleTimesText(const std::vector<int>& minutes);

// 排名, 挖掘, 排名和挖掘 (GBK) and back; none for any other text.
std::string ScheduledTaskText(ScheduledTask task);
std::optional<ScheduledTask> ScheduledTaskFromText(const std::string& gbk);

// An unreadable "任务" reads as 排名; missing keys keep the defaults.
ScheduleSettings LoadScheduleSettings(ConfigStore& store);
// Written only when the settings are saved.
void SaveScheduleSettings(ConfigStore& store, const ScheduleSettings& settings);

// Says at each look whether a scheduled time has come since the last look:
// due when a time lies in (last look, now]. Times missed while the computer
// slept make one run at the first look after waking, however many there
// were. A time in the minute before Open counts, so that a time the window
// opens on is not lost. A clock set back never makes a time due twice: the
// last look only moves forward.
class ScheduleChecker {
 public:
  // The first look: as if the last one were a minute ago.
  void Open(const QDateTime& now);
  bool IsOpen() const { return last_.isValid(); }
  // Forgets the last look (the schedule was turned off).
  void Close() { last_ = QDateTime(); }
  // True when one of times (minutes after midnight, local time) lies in
  // (last look, now]; the look is then remembered. Before Open, it opens at
  // now and answers as that look would.
  bool Due(const std::vector<int>& times, const QDateTime& now);
  const QDateTime& LastLook() const { return last_; }

 private:
  QDateTime last_;
};

}  // namespace lanshu
