#pragma once
// Scheduled runs in the window: a timer looks at the tab "定时与通知" and the
// clock, and starts the chosen run at each time, going on with an unfinished
// one of its kind when the history holds one. A scheduled run shows no
// message box; its end goes to the tray and to onRunEnd. Closing the window
// with the schedule on offers to keep running in the tray. After a scheduled
// rank run that finished, each domain's change since its previous finished
// run is written beside the mining results.
#include <QDate>
#include <QDateTime>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "run/RunEvents.h"
#include "run/Schedule.h"

class QSystemTrayIcon;

namespace lanshu {

class HistoryWiring;
class KeywordMining;
class MainWindow;
class RankQuery;

// "排名变化_DOMAIN_YYYY-MM-DD.csv" in folder (GBK; a separator is added when
// it lacks one); the domain made usable as a file name.
std::string ChangeReportPath(const std::string& folder, const std::string& domain, const QDate& date);

class ScheduleWiring : public QObject, public RunListener {
  Q_OBJECT
 public:
  ScheduleWiring(MainWindow& window, HistoryWiring& history, RankQuery& rank, KeywordMining& mining,
                 QObject* parent = nullptr);
  ~ScheduleWiring() override;

  // The local time; tests set their own clock.
  std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
  // Told when a scheduled run has ended (after its change reports): the
  // place for a notification.
  std::function<void(RunKind, RunEnd)> onRunEnd;
  // How often the timer looks (ms).
  static constexpr int kCheckMs = 20000;

  // One look at the clock: starts the scheduled task when a time has come.
  void Check();
  // The scheduled task now (the tray's 立即采集); a kind already running is
  // left alone.
  void StartNow();
  // True from a scheduled start of kind to its end.
  bool Scheduled(RunKind kind) const;
  // The text last given to the tray.
  const QString& LastNotice() const { return lastNotice_; }
  // The tray's menu: 显示窗口, 立即采集, 退出; the icon shows it where a tray is.
  QMenu& TrayMenu() { return menu_; }
  bool HasTray() const { return tray_ != nullptr; }
  // A message of the tray, where it shows.
  void ShowInTray(const QString& title, const QString& text);

  void RunEnded(RunKind kind, RunEnd how) override;

 signals:
  // A text for the tray (also shown as its message where there is one).
  void notice(const QString& text);
  // A change report was written (native path).
  void changeReportWritten(const QString& path);

 private:
  void Start(RunKind kind);
  void AfterRun(RunKind kind, RunEnd how, std::vector<std::string> targets, QDate date);
  // The change reports of a finished rank run; the text that tells of them.
  QString WriteChangeReports(const std::vector<std::string>& domains, const QDate& date);
  void Tell(const QString& text);
  // The close query in front of the program's own.
  bool AboutToClose();
  void HideToTray();
  void ShowWindow();
  void Quit();
  void ShowInvalidTimes();

  QPointer<MainWindow> window_;
  HistoryWiring& history_;
  RankQuery& rank_;
  KeywordMining& mining_;
  ScheduleChecker checker_;
  QTimer timer_;
  QMenu menu_;
  QSystemTrayIcon* tray_ = nullptr;
  std::function<bool()> programClose_;
  std::function<void()> rankIdle_, miningIdle_;
  bool closing_ = false;  // asked once: the window closes
  bool unmute_ = false;   // this muted the messages for a scheduled run's end
  std::map<RunKind, bool> scheduled_;
  std::map<RunKind, QDate> date_;  // of each scheduled run's start
  QString lastNotice_;
  QString defaultTimesHint_;
};

}  // namespace lanshu
