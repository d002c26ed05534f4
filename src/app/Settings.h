#pragma once
// The window's settings in the settings file: which control goes under which
// section and key, loaded when the window is created and saved on every close.
#include <optional>
#include <string>

#include "results/Export.h"
#include "run/RunEvents.h"

namespace lanshu {

class ConfigStore;
class MainWindow;

// Base addresses of the three sites (section "站点"); texts are GBK.
struct SiteAddresses {
  std::string rankSite = "http://rank.example.com";     // scheme and host
  std::string keywordSite = "http://kw.example.com/";   // root, ends in "/"
  std::string searchSite = "http://search.example.com"; // scheme and host
};

// The settings file's name beside the program.
std::string SettingsFileName();  // GBK

void SaveSettings(ConfigStore& store, MainWindow& window);
void LoadSettings(ConfigStore& store, MainWindow& window);
// SaveSettings, then "保存完毕！".
void SaveSettingsCommand(ConfigStore& store, MainWindow& window);

// Reads the site addresses (missing keys keep the values given) and writes
// them back, so the file always shows them.
SiteAddresses LoadSiteAddresses(ConfigStore& store, SiteAddresses defaults = SiteAddresses());
void SaveSiteAddresses(ConfigStore& store, const SiteAddresses& sites);

// Retries and time-out of page requests (section "采集可靠性"); missing or
// unreadable keys keep the defaults. Written only by SaveSettings.
Reliability LoadReliability(ConfigStore& store);
void SaveReliability(ConfigStore& store, const Reliability& reliability);
// "租约秒" of section "采集可靠性": how long a process holds a target of a
// shared run without word from it (default 60, at least 5).
int LoadLeaseSeconds(ConfigStore& store);
// How throttles and walls are waited out: "限流等待秒" (30), "限流最长秒"
// (1800), "限流最长分钟" (60), and with "无人值守" of section "定时采集"
// on, "等待登录分钟" (120) at a wall, loading the page again every
// "等待登录间隔秒" (60, read only). Missing or unreadable keys keep their
// defaults; written only by SaveSettings. `unattended`, when given, stands
// for 无人值守 (the window's check box as it is now).
Patience LoadPatience(ConfigStore& store, std::optional<bool> unattended = std::nullopt);
void SavePatience(ConfigStore& store, const Patience& patience);

// The encoding of text exports ("编码" of section "导出": GBK or UTF-8); GBK
// when missing. Written only by SaveSettings.
TextEncoding LoadExportEncoding(ConfigStore& store);
void SaveExportEncoding(ConfigStore& store, TextEncoding encoding);

}  // namespace lanshu
