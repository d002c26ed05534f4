#include "app/ScheduleWiring.h"

#include <QApplication>
#include <QStyle>
#include <QSystemTrayIcon>
#include <algorithm>

#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/SchedulePage.h"
#include "history/HistoryStore.h"
#include "hooks/MessageBox.h"
#include "mining/Mining.h"
#include "mining/ResultFiles.h"
#include "rank/RankQuery.h"
#include "results/Export.h"

namespace lanshu {
namespace {

QString KindText(RunKind kind) {
  return kind == RunKind::kRank ? QStringLiteral("定时排名查询") : QStringLiteral("定时关键词挖掘");
}

QString EndText(RunEnd how) {
  switch (how) {
    case RunEnd::kFinished: return QStringLiteral("完成");
    case RunEnd::kStopped: return QStringLiteral("已停止");
    case RunEnd::kBlocked: return QStringLiteral("遇到登录或验证页");
    default: return QStringLiteral("失败");
  }
}

}  // namespace

std::string ChangeReportPath(const std::string& folder, const std::string& domain, const QDate& date) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += kPathSeparator;
  return path + G("排名变化_") + CleanFileName(domain) + "_" + date.toString(QStringLiteral("yyyy-MM-dd")).toStdString() +
         ".csv";
}

std::optional<HistoryWiring::DomainChange> HistoryWiring::LatestChange(const std::string& domain, std::string& error) {
  auto change = std::make_shared<std::optional<DomainChange>>();
  const bool ok = Ask(
      [change, domain](history::HistoryStore& store) {
        const auto runs = store.RunsOfDomain(domain);
        if (!runs) return false;
        std::vector<history::RunInfo> finished;
        for (const history::RunInfo& run : *runs)
          if (run.ending == history::Ending::kFinished) finished.push_back(run);
        if (finished.size() < 2) return true;
        std::stable_sort(finished.begin(), finished.end(), [](const history::RunInfo& a, const history::RunInfo& b) {
          return a.finished != b.finished ? a.finished > b.finished : a.id > b.id;
        });
        const auto rows = store.Compare(finished[1].id, finished[0].id, domain);
        if (!rows) return false;
        *change = DomainChange{finished[1].id, finished[0].id, *rows};
        return true;
      },
      error);
  return ok ? *change : std::nullopt;
}

ScheduleWiring::ScheduleWiring(MainWindow& window, HistoryWiring& history, RankQuery& rank, KeywordMining& mining,
                               QObject* parent)
    : QObject(parent), window_(&window), history_(history), rank_(rank), mining_(mining) {
  rank_.listeners.Add(this);
  mining_.listeners.Add(this);
  // The end notice of a scheduled run is muted from its RunEnded to its
  // onIdle, which come right after one another.
  rankIdle_ = rank_.onIdle;
  miningIdle_ = mining_.onIdle;
  const auto unmuted = [this](const std::function<void()>& then) {
    return [this, then] {
      if (unmute_) {
        unmute_ = false;
        SetMessagesMuted(false);
      }
      if (then) then();
    };
  };
  rank_.onIdle = unmuted(rankIdle_);
  mining_.onIdle = unmuted(miningIdle_);
  programClose_ = window.handlers.aboutToClose;
  window.handlers.aboutToClose = [this] { return AboutToClose(); };

  QAction* show = menu_.addAction(QStringLiteral("显示窗口"));
  show->setObjectName(QStringLiteral("菜单显示窗口"));
  QAction* now = menu_.addAction(QStringLiteral("立即采集"));
  now->setObjectName(QStringLiteral("菜单立即采集"));
  menu_.addSeparator();
  QAction* quit = menu_.addAction(QStringLiteral("退出"));
  quit->setObjectName(QStringLiteral("菜单退出"));
  connect(show, &QAction::triggered, this, [this] { ShowWindow(); });
  connect(now, &QAction::triggered, this, [this] { StartNow(); });
  connect(quit, &QAction::triggered, this, [this] { Quit(); });
  // Without a tray (some desktops, the offscreen tests) the window is
  // minimised instead of hidden, so it can always be found again.
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon), this);
    tray_->setToolTip(QStringLiteral("青篱·览数数据采集器"));
    tray_->setContextMenu(&menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
      if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) ShowWindow();
    });
  }
  defaultTimesHint_ = window.标签定时时间说明->text();
  connect(window.编辑框定时时间, &QLineEdit::textChanged, this, [this] { ShowInvalidTimes(); });
  connect(window.选择框定时启用, &QCheckBox::toggled, this, [this] { Check(); });
  connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
  timer_.start(kCheckMs);
  // The first look once the settings are in the controls: a time of the
  // minute before counts.
  QTimer::singleShot(0, this, [this] {
    ShowInvalidTimes();
    Check();
  });
}

ScheduleWiring::~ScheduleWiring() {
  rank_.listeners.Remove(this);
  mining_.listeners.Remove(this);
  rank_.onIdle = rankIdle_;
  mining_.onIdle = miningIdle_;
  if (window_) window_->handlers.aboutToClose = programClose_;
  if (unmute_) SetMessagesMuted(false);
}

void ScheduleWiring::ShowInvalidTimes() {
  if (!window_) return;
  std::vector<std::string> invalid;
  ParseScheduleTimes(ControlTextToGbk(window_->编辑框定时时间->text()), &invalid);
  if (invalid.empty()) {
    window_->标签定时时间说明->setText(defaultTimesHint_);
    return;
  }
  QStringList entries;
  for (const std::string& entry : invalid) entries << FromGbk(entry);
  window_->标签定时时间说明->setText(QStringLiteral("无法识别，不用：") + entries.join(QLatin1Char('|')));
}

void ScheduleWiring::Check() {
  if (!window_) return;
  const ScheduleSettings s = ScheduleSettingsOf(*window_);
  if (tray_) tray_->setVisible(s.enabled || window_->isHidden());
  if (!s.enabled) {
    checker_.Close();  // turned on again later, the times in between are not made up
    return;
  }
  if (checker_.Due(s.Times(), now())) StartNow();
}

void ScheduleWiring::StartNow() {
  if (!window_) return;
  const ScheduledTask task = ScheduleSettingsOf(*window_).task;
  if (task != ScheduledTask::kMine) Start(RunKind::kRank);
  if (task != ScheduledTask::kRank) Start(RunKind::kMine);
}

bool ScheduleWiring::Scheduled(RunKind kind) const {
  const auto it = scheduled_.find(kind);
  return it != scheduled_.end() && it->second;
}

void ScheduleWiring::Start(RunKind kind) {
  Runner& runner = kind == RunKind::kRank ? static_cast<Runner&>(rank_) : static_cast<Runner&>(mining_);
  if (runner.Running()) return;  // one run of a kind at a time
  date_[kind] = now().date();
  // A start that is refused (nothing to collect, a folder that cannot be
  // written) must not wait for a click either.
  const bool wasMuted = MessagesMuted();
  SetMessagesMuted(true);
  std::string error;
  const std::optional<HistoryWiring::StoredRun> unfinished =
      history_.Enabled() ? history_.Resumable(kind, error) : std::nullopt;
  if (unfinished) {
    history_.GoOn(*unfinished, false);
  } else if (kind == RunKind::kRank) {
    rank_.StartStopRankQuery();
  } else {
    mining_.StartOrStopMining();
  }
  if (!wasMuted) SetMessagesMuted(false);
  if (runner.Running()) {
    scheduled_[kind] = true;
  } else {
    Tell(KindText(kind) + QStringLiteral("未能开始"));
  }
}

void ScheduleWiring::RunEnded(RunKind kind, RunEnd how) {
  if (!Scheduled(kind)) return;
  scheduled_[kind] = false;
  if (!MessagesMuted()) {
    SetMessagesMuted(true);
    unmute_ = true;
  }
  const RunPlan& plan = kind == RunKind::kRank ? rank_.Plan() : mining_.Plan();
  // After the run has wholly ended: its ending is queued for the history by then.
  QTimer::singleShot(0, this, [this, kind, how, targets = plan.targets, date = date_[kind]] {
    AfterRun(kind, how, targets, date);
  });
}

void ScheduleWiring::AfterRun(RunKind kind, RunEnd how, std::vector<std::string> targets, QDate date) {
  QString text = KindText(kind) + EndText(how);
  if (kind == RunKind::kRank && how == RunEnd::kFinished) text += WriteChangeReports(targets, date);
  Tell(text);
  if (onRunEnd) onRunEnd(kind, how);
}

QString ScheduleWiring::WriteChangeReports(const std::vector<std::string>& domains, const QDate& date) {
  if (!history_.Enabled()) return QStringLiteral("；历史记录已关闭，没有排名变化");
  if (!window_) return QString();
  const std::string folder = ControlTextToGbk(window_->编辑框目录->text());
  if (folder.empty()) return QStringLiteral("；没有保存目录，排名变化没有写");
  int written = 0, firstRuns = 0, failed = 0;
  std::vector<std::string> done;
  for (const std::string& domain : domains) {
    if (std::find(done.begin(), done.end(), domain) != done.end()) continue;
    done.push_back(domain);
    std::string error;
    const std::optional<HistoryWiring::DomainChange> change = history_.LatestChange(domain, error);
    if (!change) {
      ++(error.empty() ? firstRuns : failed);
      continue;
    }
    const std::string path = ChangeReportPath(folder, domain, date);
    if (!MakeDirectoryPath(path.substr(0, path.find_last_of("/\\") + 1)) ||
        !WriteFileAtomically(path, EncodeExportText(history::ComparisonCsv(change->rows), window_->exportEncoding))) {
      ++failed;
      continue;
    }
    ++written;
    emit changeReportWritten(FromGbk(path));
  }
  QString text;
  if (written) text += QStringLiteral("；排名变化写入 %1 个文件").arg(written);
  if (firstRuns) text += QStringLiteral("；%1 个域名没有上次的记录").arg(firstRuns);
  if (failed) text += QStringLiteral("；%1 个域名的排名变化没能写入").arg(failed);
  return text;
}

void ScheduleWiring::ShowInTray(const QString& title, const QString& text) {
  if (tray_ && tray_->isVisible()) tray_->showMessage(title, text);
}

void ScheduleWiring::Tell(const QString& text) {
  lastNotice_ = text;
  if (tray_ && tray_->isVisible()) tray_->showMessage(QStringLiteral("青篱·览数数据采集器"), text);
  emit notice(text);
}

bool ScheduleWiring::AboutToClose() {
  if (!closing_ && window_ && ScheduleSettingsOf(*window_).enabled) {
    const int answer = ShowMessageBox(G("定时采集已启用，要在托盘中继续运行吗？\r\n选“否”则退出，到点不再采集。"),
                                      kMbYesNo | kMbIconQuestion, G("青篱："));
    if (answer == kIdYes) {
      HideToTray();
      return false;
    }
  }
  closing_ = true;  // runs that must stop first close the window again: asked once
  return programClose_ ? programClose_() : true;
}

void ScheduleWiring::HideToTray() {
  if (!window_) return;
  if (tray_) {
    // A message box shown while the window is hidden must not end the program when it closes.
    QApplication::setQuitOnLastWindowClosed(false);
    tray_->show();
    window_->hide();
    return;
  }
  window_->showMinimized();
}

void ScheduleWiring::ShowWindow() {
  if (!window_) return;
  QApplication::setQuitOnLastWindowClosed(true);
  window_->showNormal();
  window_->raise();
  window_->activateWindow();
}

void ScheduleWiring::Quit() {
  if (!window_) return;
  closing_ = true;
  // Closed as the visible last window, so the program ends once it closes.
  ShowWindow();
  window_->close();
}

}  // namespace lanshu
