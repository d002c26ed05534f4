#include "run/Schedule.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "store/ConfigStore.h"
#include "text/Codec.h"
#include "TestSupport.h"

namespace lanshu {
namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

QDateTime At(int day, const char* hhmmss) {
  return QDateTime(QDate(2026, 3, day), QTime::fromString(QString::fromLatin1(hhmmss), QStringLiteral("HH:mm:ss")));
}

TEST(ScheduleTimes, EntriesAreTrimmedSortedOnceAndBadOnesListed) {
  std::vector<std::string> invalid;
  const std::vector<int> times =
      ParseScheduleTimes(G(" 20:00 |08:30||bad| 8:05\t|24:00|7:5|　21：15　|08:30|12:60|-1:00|123:00"), &invalid);
  EXPECT_EQ(times, (std::vector<int>{8 * 60 + 5, 8 * 60 + 30, 20 * 60, 21 * 60 + 15}));
  EXPECT_EQ(invalid, (std::vector<std::string>{"bad", "24:00", "7:5", "12:60", "-1:00", "123:00"}));
  EXPECT_EQ(ScheduleTimesText(times), "08:05|08:30|20:00|21:15");
  EXPECT_TRUE(ParseScheduleTimes("").empty());
  EXPECT_TRUE(ParseScheduleTimes(" | ").empty());
  EXPECT_EQ(ParseScheduleTimes("00:00|23:59"), (std::vector<int>{0, 23 * 60 + 59}));
}

// Looks every 20 s from `from` to `to`; the looks that found a time due.
std::vector<QDateTime> LooksThatRan(ScheduleChecker& checker, const std::vector<int>& times, QDateTime from,
                                    const QDateTime& to) {
  std::vector<QDateTime> ran;
  for (QDateTime now = from; now <= to; now = now.addSecs(20))
    if (checker.Due(times, now)) ran.push_back(now);
  return ran;
}

TEST(ScheduleChecker, EachTimeRunsOnceAtTheFirstLookAfterIt) {
  ScheduleChecker checker;
  checker.Open(At(2, "07:00:10"));
  const std::vector<int> times = ParseScheduleTimes("08:30|20:00");
  const auto ran = LooksThatRan(checker, times, At(2, "07:00:10"), At(3, "21:00:10"));
  EXPECT_EQ(ran, (std::vector<QDateTime>{At(2, "08:30:10"), At(2, "20:00:10"), At(3, "08:30:10"),
                                         At(3, "20:00:10")}));
}

TEST(ScheduleChecker, ATimeInTheMinuteBeforeTheWindowOpensRunsAtOnce) {
  struct Case {
    const char* opened;
    bool due;
  } cases[] = {{"08:30:00", true}, {"08:30:59", true}, {"08:31:00", false}, {"08:31:30", false}, {"08:29:59", false}};
  for (const Case& c : cases) {
    ScheduleChecker checker;
    EXPECT_EQ(checker.Due({510}, At(2, c.opened)), c.due) << c.opened;  // the first look opens it
    // The next look runs what the first did not, once: before the time it is its turn.
    const bool before = QByteArray(c.opened) < "08:30:00";
    EXPECT_EQ(checker.Due({510}, At(2, c.opened).addSecs(20)), before) << c.opened;
  }
  // Opened explicitly, the first look after a minute still finds it.
  ScheduleChecker checker;
  checker.Open(At(2, "08:30:30"));
  EXPECT_TRUE(checker.Due({510}, At(2, "08:30:50")));
}

TEST(ScheduleChecker, TimesMissedWhileAsleepMakeOneRunAtWakeUp) {
  const std::vector<int> times = ParseScheduleTimes("08:30|12:00|20:00");
  ScheduleChecker checker;
  checker.Open(At(2, "07:00:00"));
  EXPECT_FALSE(checker.Due(times, At(2, "07:00:20")));
  // Asleep from 07:00 to 21:00: three times missed, one run.
  EXPECT_TRUE(checker.Due(times, At(2, "21:00:00")));
  EXPECT_FALSE(checker.Due(times, At(2, "21:00:20")));
  // Asleep for days: one run, then the next time as usual.
  EXPECT_TRUE(checker.Due(times, At(6, "07:59:00")));
  EXPECT_FALSE(checker.Due(times, At(6, "08:00:00")));
  EXPECT_TRUE(checker.Due(times, At(6, "08:30:05")));
  // Asleep just under a day, across midnight, over no time at all: none.
  ScheduleChecker quiet;
  quiet.Open(At(6, "20:30:00"));
  EXPECT_FALSE(quiet.Due({20 * 60}, At(7, "19:59:00")));
  EXPECT_TRUE(quiet.Due({20 * 60}, At(7, "20:00:00")));
}

TEST(ScheduleChecker, MidnightIsCrossed) {
  const std::vector<int> times = ParseScheduleTimes("23:59|00:00|00:10");
  ScheduleChecker checker;
  checker.Open(At(2, "23:58:30"));
  const auto ran = LooksThatRan(checker, times, At(2, "23:58:30"), At(3, "00:20:00"));
  EXPECT_EQ(ran, (std::vector<QDateTime>{At(2, "23:59:10"), At(3, "00:00:10"), At(3, "00:10:10")}));
  // Asleep from before midnight to after a time past it.
  ScheduleChecker asleep;
  asleep.Open(At(2, "23:00:00"));
  EXPECT_FALSE(asleep.Due({10}, At(2, "23:30:00")));
  EXPECT_TRUE(asleep.Due({10}, At(3, "00:15:00")));
  // The window opens a few seconds after midnight: the 00:00 time counts.
  ScheduleChecker opened;
  EXPECT_TRUE(opened.Due({0}, At(3, "00:00:30")));
  // ... and a look in the last minute of the day finds 23:59.
  ScheduleChecker late;
  EXPECT_TRUE(late.Due({23 * 60 + 59}, At(2, "23:59:40")));
}

TEST(ScheduleChecker, AClockSetBackRunsNothingTwice) {
  const std::vector<int> times = ParseScheduleTimes("08:30|20:00");
  ScheduleChecker checker;
  checker.Open(At(2, "08:00:00"));
  EXPECT_TRUE(checker.Due(times, At(2, "08:30:10")));
  // Set back an hour: the half hour goes by again without a second run.
  EXPECT_TRUE(LooksThatRan(checker, times, At(2, "07:30:10"), At(2, "08:40:00")).empty());
  EXPECT_EQ(checker.LastLook(), At(2, "08:39:50"));
  // Set back a day and then forward again: nothing until a time not yet run.
  EXPECT_FALSE(checker.Due(times, At(1, "21:00:00")));
  EXPECT_FALSE(checker.Due(times, At(2, "19:59:50")));
  EXPECT_TRUE(checker.Due(times, At(2, "20:00:00")));
  // An invalid time from a broken clock is no look at all.
  EXPECT_FALSE(checker.Due(times, QDateTime()));
  EXPECT_EQ(checker.LastLook(), At(2, "20:00:00"));
}

TEST(ScheduleChecker, NoTimesNeverRunAndTurningOffForgetsTheLastLook) {
  ScheduleChecker checker;
  EXPECT_FALSE(checker.Due({}, At(2, "08:30:00")));
  EXPECT_TRUE(checker.IsOpen());
  // Turned off at 08:00 and on again at 09:00: the 08:30 time is not made up.
  checker.Open(At(2, "07:59:00"));
  EXPECT_FALSE(checker.Due({510}, At(2, "08:00:00")));
  checker.Close();
  EXPECT_FALSE(checker.IsOpen());
  EXPECT_FALSE(checker.Due({510}, At(2, "09:00:00")));
}

class ScheduleSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/schedule_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/settings.ini";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_, path_;
};

TEST_F(ScheduleSettingsFile, AFileWithoutTheSectionLeavesTheScheduleOff) {
  {
    ConfigStore store;
    ASSERT_TRUE(store.Open(path_));
    store.SetSection(G("基本参数"));
    store.WriteText(G("域名"), "a.test");
  }
  ConfigStore store;
  ASSERT_TRUE(store.Open(path_));
  const ScheduleSettings s = LoadScheduleSettings(store);
  EXPECT_FALSE(s.enabled);
  EXPECT_FALSE(s.unattended);
  EXPECT_EQ(s.task, ScheduledTask::kRank);
  EXPECT_TRUE(s.Times().empty());
  // Reading leaves the file as it was.
  EXPECT_EQ(testing::FileBytes(path_).find(G("定时采集")), std::string::npos);
}

TEST_F(ScheduleSettingsFile, SavedSettingsComeBackAndTheFileReadsAsWritten) {
  ScheduleSettings saved;
  saved.enabled = true;
  saved.timesText = G("08:30| 20:00 |晚上");
  saved.task = ScheduledTask::kBoth;
  saved.unattended = true;
  {
    ConfigStore store;
    ASSERT_TRUE(store.Open(path_));
    SaveScheduleSettings(store, saved);
  }
  const std::string bytes = testing::FileBytes(path_);
  ASSERT_NE(bytes.find(G("[定时采集]\r\n")), std::string::npos);
  for (const char* line : {"\n启用=真", "\n时间=08:30| 20:00 |晚上", "\n任务=排名和挖掘", "\n无人值守=真"})
    EXPECT_NE(bytes.find(G(line)), std::string::npos) << line;
  ConfigStore store;
  ASSERT_TRUE(store.Open(path_));
  const ScheduleSettings loaded = LoadScheduleSettings(store);
  EXPECT_TRUE(loaded.enabled);
  EXPECT_EQ(loaded.timesText, saved.timesText);
  EXPECT_EQ(loaded.Times(), (std::vector<int>{510, 1200}));
  EXPECT_EQ(loaded.task, ScheduledTask::kBoth);
  EXPECT_TRUE(loaded.unattended);
  // Turned off again, and a task the program does not know.
  store.SetSection(G("定时采集"));
  store.WriteBool(G("启用"), false);
  store.WriteText(G("任务"), G("排名和"));
  const ScheduleSettings off = LoadScheduleSettings(store);
  EXPECT_FALSE(off.enabled);
  EXPECT_EQ(off.task, ScheduledTask::kRank);
}

}  // namespace
}  // namespace lanshu
