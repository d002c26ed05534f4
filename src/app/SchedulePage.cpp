#include "app/SchedulePage.h"

#include <QRegularExpressionValidator>
#include <algorithm>

#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "store/ConfigStore.h"

namespace lanshu {
namespace {

QLabel* Label(QWidget* parent, const char* name, int x, int y, int w, const char* text) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name, x, y, w, 24);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

const char* const kTaskItems[] = {"排名", "挖掘", "排名和挖掘"};
const char* const kFormatItems[] = {"报告", "文本"};

}  // namespace

void MainWindow::CreateSchedulePage(QWidget* p) {
  选择框定时启用 = Named(new QCheckBox(QStringLiteral("启用定时采集"), p), "选择框定时启用", 24, 48, 160, 24);
  Label(p, "标签定时时间", 24, 80, 48, "时间：");
  编辑框定时时间 = Named(new QLineEdit(p), "编辑框定时时间", 72, 80, 240, 24);
  编辑框定时时间->setPlaceholderText(QStringLiteral("08:30|20:00"));
  标签定时时间说明 = Label(p, "标签定时时间说明", 320, 80, 560, "时:分，多个用“|”分隔，如 08:30|20:00；写错的一项不用");
  Label(p, "标签定时任务", 24, 112, 48, "任务：");
  组合框定时任务 = Named(new QComboBox(p), "组合框定时任务", 72, 112, 120, 23);
  for (const char* item : kTaskItems) 组合框定时任务->addItem(QString::fromUtf8(item));
  选择框无人值守 = Named(new QCheckBox(QStringLiteral("无人值守（遇登录或验证页不等人点击）"), p), "选择框无人值守", 24, 144,
                          400, 24);
  Label(p, "标签定时说明", 24, 172, 860,
        "窗口开着（或在托盘中）时，到点开始所选的采集；有没完成的同类采集则接着采。睡眠中错过的时间，醒来后补采一次。");

  Label(p, "标签通知", 24, 216, 120, "采集结束通知：");
  Label(p, "标签通知网址", 24, 248, 48, "网址：");
  编辑框通知网址 = Named(new QLineEdit(p), "编辑框通知网址", 72, 248, 600, 24);
  Label(p, "标签通知网址说明", 680, 248, 200, "多个用“|”分隔");
  Label(p, "标签通知格式", 24, 280, 48, "格式：");
  组合框通知格式 = Named(new QComboBox(p), "组合框通知格式", 72, 280, 120, 23);
  for (const char* item : kFormatItems) 组合框通知格式->addItem(QString::fromUtf8(item));
  Label(p, "标签排名变化", 24, 312, 80, "排名变化：");
  编辑框排名变化 = Named(new QLineEdit(p), "编辑框排名变化", 104, 312, 48, 24);
  编辑框排名变化->setAlignment(Qt::AlignCenter);
  编辑框排名变化->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), 编辑框排名变化));
  Label(p, "标签排名变化说明", 160, 312, 400, "0 或空：关闭");
}

ScheduleSettings ScheduleSettingsOf(const MainWindow& w) {
  ScheduleSettings s;
  s.enabled = w.选择框定时启用->isChecked();
  s.timesText = ControlTextToGbk(w.编辑框定时时间->text());
  s.task = ScheduledTaskFromText(ControlTextToGbk(w.组合框定时任务->currentText())).value_or(ScheduledTask::kRank);
  s.unattended = w.选择框无人值守->isChecked();
  return s;
}

void ShowScheduleSettings(MainWindow& w, const ScheduleSettings& s) {
  w.选择框定时启用->setChecked(s.enabled);
  w.编辑框定时时间->setText(GbkToControlText(s.timesText));
  w.组合框定时任务->setCurrentIndex(std::max(0, w.组合框定时任务->findText(FromGbk(ScheduledTaskText(s.task)))));
  w.选择框无人值守->setChecked(s.unattended);
}

void SaveScheduleControls(ConfigStore& s, MainWindow& w) {
  SaveScheduleSettings(s, ScheduleSettingsOf(w));
  s.SetSection(G("通知"));
  s.WriteText(G("网址"), ControlTextToGbk(w.编辑框通知网址->text()));
  s.WriteText(G("格式"), ControlTextToGbk(w.组合框通知格式->currentText()));
  s.WriteText(G("排名变化"), ControlTextToGbk(w.编辑框排名变化->text()));
}

void LoadScheduleControls(ConfigStore& s, MainWindow& w) {
  ShowScheduleSettings(w, LoadScheduleSettings(s));
  s.SetSection(G("通知"));
  w.编辑框通知网址->setText(GbkToControlText(s.ReadText(G("网址"), std::string())));
  // A format the program does not know shows as the default, 报告.
  const int format = w.组合框通知格式->findText(FromGbk(s.ReadText(G("格式"), G("报告"))));
  w.组合框通知格式->setCurrentIndex(std::max(0, format));
  w.编辑框排名变化->setText(GbkToControlText(s.ReadText(G("排名变化"), std::string())));
}

}  // namespace lanshu
