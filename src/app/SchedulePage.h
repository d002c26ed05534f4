#pragma once
// The tab "定时与通知": its controls, and their keys in the settings file
// (sections "定时采集" and "通知").
#include "run/Schedule.h"

namespace lanshu {

class ConfigStore;
class MainWindow;

// The schedule as the tab's controls set it now.
ScheduleSettings ScheduleSettingsOf(const MainWindow& window);
void ShowScheduleSettings(MainWindow& window, const ScheduleSettings& settings);

// Part of SaveSettings and LoadSettings. "通知": "网址" (addresses separated by
// "|"), "格式" (报告 or 文本, as the text), "排名变化" (a number; 0 or empty: off).
// A file without the sections leaves the controls as designed: schedule off,
// no notification.
void SaveScheduleControls(ConfigStore& store, MainWindow& window);
void LoadScheduleControls(ConfigStore& store, MainWindow& window);

}  // namespace lanshu
