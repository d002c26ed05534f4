#pragma once
// The window's side of a run's events: the progress beside the status text,
// and the bar that asks the user what to do at a login or verification page.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "rank/RunEvents.h"

namespace lanshu {

class MainWindow;

// Shows the run's place (which domain or seed of how many, which page of
// how many), the rows so far and the time since it started.
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

 private:
  void Show();

  QPointer<MainWindow> window_;
  QTimer tick_;
  QElapsedTimer clock_;
  RunKind kind_ = RunKind::kRank;
  int target_ = 0, targets_ = 0, page_ = 0, pages_ = 0, attempt_ = 1, rows_ = 0;
  int running_ = 0;  // runs going (rank and mining may overlap)
};

// Pauses the run until the user answers on the bar: 继续, 跳过 or 停止.
// The login tab opens on the page that asked; events keep flowing, and a stop
// of the run itself (`stopped`) counts as 停止.
BlockedChoice AskAtBlockedPage(MainWindow& window, RunKind kind, const PageReport& report,
                               const std::function<bool()>& stopped);

}  // namespace lanshu
