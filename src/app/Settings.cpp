#include "app/Settings.h"

#include <algorithm>

#include "app/CheckBoxControl.h"
#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/SchedulePage.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "run/Schedule.h"
#include "store/ConfigStore.h"
#include "hooks/MessageBox.h"

namespace lanshu {
namespace {

std::vector<QCheckBox*> StoredCheckBoxes(MainWindow& w) {
  return {w.选择框搜索量, w.选择框收录量, w.选择框第一位, w.选择框第二位, w.选择框优化难度,
          w.选择框自动过滤重复关键字, w.选择框转换百度链接, w.选择框自动保存目录, w.选择框独立保存};
}

std::string Text(QLineEdit* e) { return ControlTextToGbk(e->text()); }
std::string Text(QPlainTextEdit* e) { return ControlTextToGbk(e->toPlainText()); }

void ReadInto(ConfigStore& s, const char* key, QLineEdit* e) {
  e->setText(GbkToControlText(s.ReadText(G(key), Text(e))));
}
void ReadInto(ConfigStore& s, const char* key, QPlainTextEdit* e) {
  e->setPlainText(GbkToControlText(s.ReadText(G(key), Text(e))));
}
void ReadInto(ConfigStore& s, const char* key, QComboBox* c) {
  // A stored index outside the items is passed on unchanged (Qt then shows no item).
  c->setCurrentIndex(static_cast<int>(s.ReadNumber(G(key), c->currentIndex())));
}

}  // namespace

std::string SettingsFileName() { return G("青篱·览数数据采集器.ini"); }

void SaveSettings(ConfigStore& s, MainWindow& w) {
  s.SetSection(G("基本参数"));
  s.WriteText(G("域名"), Text(w.编辑框域名));
  s.WriteNumber(G("排序"), w.组合框排序->currentIndex());
  s.WriteNumber(G("导出模式"), w.组合框导出模式->currentIndex());
  s.WriteText(G("表达式"), Text(w.编辑框表达式));

  s.SetSection(G("基本配置_挖掘"));
  s.WriteText(G("关键词"), Text(w.编辑框关键词列表));
  s.WriteText(G("限定数量"), Text(w.编辑框限定数量));
  for (QCheckBox* box : StoredCheckBoxes(w)) s.SaveCheckBox(CheckBoxControl(box));
  s.WriteText(G("保存目录"), Text(w.编辑框目录));
  s.WriteText(G("扩展名"), Text(w.编辑框扩展名));
  s.WriteText(G("关键词间隔"), Text(w.编辑框关键词间隔));
  s.WriteText(G("页间隔"), Text(w.编辑框页间隔));

  SaveReliability(s, LoadReliability(s));
  SavePatience(s, LoadPatience(s));
  SaveHistorySettings(s, LoadHistorySettings(s));
  SaveScheduleControls(s, w);

  // Where the window was and which tab was open.
  s.SetSection(G("窗口"));
  const QRect g = w.isMaximized() ? w.normalGeometry() : w.geometry();
  s.WriteNumber(G("左"), g.x());
  s.WriteNumber(G("上"), g.y());
  s.WriteNumber(G("宽"), g.width());
  s.WriteNumber(G("高"), g.height());
  s.WriteBool(G("最大化"), w.isMaximized());
  s.WriteNumber(G("页"), w.选择夹->CurrentIndex());

  SaveExportEncoding(s, w.exportEncoding);
}

void LoadSettings(ConfigStore& s, MainWindow& w) {
  s.SetSection(G("基本参数"));
  ReadInto(s, "域名", w.编辑框域名);
  ReadInto(s, "排序", w.组合框排序);
  ReadInto(s, "导出模式", w.组合框导出模式);
  w.ApplyExportModeRule();
  ReadInto(s, "表达式", w.编辑框表达式);

  s.SetSection(G("基本配置_挖掘"));
  ReadInto(s, "关键词", w.编辑框关键词列表);
  ReadInto(s, "限定数量", w.编辑框限定数量);
  for (QCheckBox* box : StoredCheckBoxes(w)) {
    CheckBoxControl control(box);
    s.LoadCheckBox(control);
  }
  ReadInto(s, "保存目录", w.编辑框目录);
  ReadInto(s, "扩展名", w.编辑框扩展名);
  ReadInto(s, "关键词间隔", w.编辑框关键词间隔);
  ReadInto(s, "页间隔", w.编辑框页间隔);
  w.ApplySaveDirectoryRule();
  LoadScheduleControls(s, w);
  w.exportEncoding = LoadExportEncoding(s);

  // A file without the section keeps the design geometry and the first tab.
  s.SetSection(G("窗口"));
  const int width = static_cast<int>(s.ReadNumber(G("宽"), 0));
  const int height = static_cast<int>(s.ReadNumber(G("高"), 0));
  if (width > 0 && height > 0)
    w.setGeometry(static_cast<int>(s.ReadNumber(G("左"), w.x())), static_cast<int>(s.ReadNumber(G("上"), w.y())),
                  std::max(width, w.minimumWidth()), std::max(height, w.minimumHeight()));
  if (s.ReadBool(G("最大化"), false)) w.setWindowState(w.windowState() | Qt::WindowMaximized);
  const int tab = static_cast<int>(s.ReadNumber(G("页"), 0));
  if (tab >= 0 && tab < w.选择夹->Count()) w.选择夹->SetCurrentIndex(tab);
}

void SaveSettingsCommand(ConfigStore& s, MainWindow& w) {
  SaveSettings(s, w);
  ShowMessageBox(G("保存完毕！"), kMbOk, G("信息："));
}

SiteAddresses LoadSiteAddresses(ConfigStore& s, SiteAddresses sites) {
  s.SetSection(G("站点"));
  sites.rankSite = s.ReadText(G("排名站"), sites.rankSite);
  sites.keywordSite = s.ReadText(G("挖掘站"), sites.keywordSite);
  sites.searchSite = s.ReadText(G("搜索引擎"), sites.searchSite);
  return sites;
}

TextEncoding LoadExportEncoding(ConfigStore& s) {
  s.SetSection(G("导出"));
  return EncodingFromSettingName(s.ReadText(G("编码"), EncodingSettingName(TextEncoding::kGbk)));
}

void SaveExportEncoding(ConfigStore& s, TextEncoding encoding) {
  s.SetSection(G("导出"));
  s.WriteText(G("编码"), EncodingSettingName(encoding));
}

void SaveSiteAddresses(ConfigStore& s, const SiteAddresses& sites) {
  s.SetSection(G("站点"));
  s.WriteText(G("排名站"), sites.rankSite);
  s.WriteText(G("挖掘站"), sites.keywordSite);
  s.WriteText(G("搜索引擎"), sites.searchSite);
}

}  // namespace lanshu

namespace lanshu {
namespace {

// A whole number of the current section; one out of [low, high], or none,
// keeps the fallback.
int ReadWhole(ConfigStore& s, const char* key, int fallback, int low, int high) {
  const double v = s.ReadNumber(G(key), fallback);
  return v >= low && v <= high ? static_cast<int>(v) : fallback;
}

// 等待登录分钟 of a file without it.
constexpr int kWallMinutes = 120;

}  // namespace

Reliability LoadReliability(ConfigStore& s) {
  Reliability r;
  s.SetSection(G("采集可靠性"));
  r.retries = ReadWhole(s, "失败重试次数", r.retries, 0, 100);
  r.retryIntervalSeconds = ReadWhole(s, "重试间隔秒", r.retryIntervalSeconds, 0, 3600);
  r.timeoutSeconds = ReadWhole(s, "请求超时秒", r.timeoutSeconds, 1, 3600);
  return r;
}

int LoadLeaseSeconds(ConfigStore& s) {
  s.SetSection(G("采集可靠性"));
  const double v = s.ReadNumber(G("租约秒"), 60);
  return v >= 5 && v <= 86400 ? static_cast<int>(v) : v > 86400 ? 86400 : v >= 0 && v < 5 ? 5 : 60;
}

void SaveReliability(ConfigStore& s, const Reliability& r) {
  s.SetSection(G("采集可靠性"));
  s.WriteNumber(G("失败重试次数"), r.retries);
  s.WriteNumber(G("重试间隔秒"), r.retryIntervalSeconds);
  s.WriteNumber(G("请求超时秒"), r.timeoutSeconds);
}

}  // namespace lanshu

namespace lanshu {

Patience LoadPatience(ConfigStore& s, std::optional<bool> unattended) {
  Patience p;
  s.SetSection(G("采集可靠性"));
  p.throttleWaitSeconds = ReadWhole(s, "限流等待秒", p.throttleWaitSeconds, 0, 86400);
  p.throttleMaxSeconds = ReadWhole(s, "限流最长秒", p.throttleMaxSeconds, 0, 86400);
  p.throttleMaxMinutes = ReadWhole(s, "限流最长分钟", p.throttleMaxMinutes, 0, 1000000);
  const int wallMinutes = ReadWhole(s, "等待登录分钟", kWallMinutes, 0, 1000000);
  p.wallRetrySeconds = ReadWhole(s, "等待登录间隔秒", p.wallRetrySeconds, 1, 3600);
  if (!unattended) unattended = LoadScheduleSettings(s).unattended;
  p.wallWaitMinutes = *unattended ? wallMinutes : 0;
  return p;
}

void SavePatience(ConfigStore& s, const Patience& p) {
  s.SetSection(G("采集可靠性"));
  s.WriteNumber(G("限流等待秒"), p.throttleWaitSeconds);
  s.WriteNumber(G("限流最长秒"), p.throttleMaxSeconds);
  s.WriteNumber(G("限流最长分钟"), p.throttleMaxMinutes);
  // The wall wait of the file, whether or not 无人值守 uses it now.
  s.WriteNumber(G("等待登录分钟"), ReadWhole(s, "等待登录分钟", kWallMinutes, 0, 1000000));
}

}  // namespace lanshu
