#pragma once
// The window's side of a run's events: the progress beside the status text,
// and the bar that asks the user what to do at a login or verification page.
#include <QElapsedTimer>
#include <QLabel>
#include <QObject>
#include <QProgressBar>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "run/RunEvents.h"

namespace lanshu {

class MainWindow;

// Shows the run's place (which domain or seed of how many, which page of
// how many), the rows so far and the time since it started. The bar shows
// the share of the run's work done: the targets before the current one, and
// of the current one the pages that ended out of the pages it is known to
// have (none before that is known). While the blocked-page bar asks the user,
// the bar stands still and says 已暂停.
class ProgressView : public QObject, public RunListener {
  Q_OBJECT
 public:
  explicit ProgressView(MainWindow& window, QObject* parent = nullptr);

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void TargetStarted(RunKind kind, const std::string& target, int index, int count) override;
  void PageRequested(RunKind kind, const std::string& target, int page, int attempt,
                     int knownPages) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void RunEnded(RunKind kind, RunEnd how) override;

  // The bar's range: fine enough that a page of a long run moves it.
  static constexpr int kBarRange = 1000;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // One kind of run's place; rank and mining may overlap, and each keeps its
  // own.
  struct Place {
    bool running = false;
    std::vector<std::string> targets;
    int target = 0, targetCount = 0;  // target from 1; 0 before the first
    int page = 0, knownPages = 0, pagesEnded = 0, attempt = 1, rows = 0;
    bool byTargets = false;  // told of its targets; a retry of failed pages is not
    int pagesToRetry = 0;    // for a retry: the pages the last run did not get
    int notOk = 0;           // pages of this run not ok, the next retry's work
    bool paused = false;
    int pausedShare = 0;
    QElapsedTimer clock;
    int Share() const;  // of kBarRange
  };
  Place& Of(RunKind kind) { return places_[kind == RunKind::kRank ? 0 : 1]; }
  void Show();

  // The window's pieces, never the window itself: the bar's events still
  // come while the window is being destroyed, when it is no MainWindow any more.
  QPointer<QProgressBar> bar_;
  QPointer<QLabel> text_;
  QPointer<QWidget> wall_;
  QTimer tick_;
  RunKind kind_ = RunKind::kRank;  // the kind shown: that of the latest event
  Place places_[2];
  int running_ = 0;  // runs going (rank and mining may overlap)
  QString barFormat_;
};

// Pauses the run until the user answers on the bar: 继续, 跳过 or 停止.
// The login tab opens on the page that asked; events keep flowing, and a stop
// of the run itself (`stopped`) counts as 停止.
BlockedChoice AskAtBlockedPage(MainWindow& window, RunKind kind, const PageReport& report,
                               const std::function<bool()>& stopped);

}  // namespace lanshu
