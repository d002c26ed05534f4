#pragma once
// The bar at start-up that offers to go on with a run that did not finish
// (killed, stopped or blocked): 继续上次的采集（已完成 X/Y 页） or 放弃. A rank run
// is offered first, then a mining run. Any run that starts takes the bar away.
#include <QObject>
#include <QPointer>
#include <deque>

#include "app/HistoryWiring.h"
#include "run/RunEvents.h"

namespace lanshu {

class MainWindow;

// The bar's texts for a run: what it is, and the button that goes on.
QString ResumeBarText(const HistoryWiring::StoredRun& run);
QString ResumeButtonText(const HistoryWiring::StoredRun& run);

class ResumeOffer : public QObject, public RunListener {
  Q_OBJECT
 public:
  ResumeOffer(MainWindow& window, HistoryWiring& history, RankQuery& rank, KeywordMining& mining);
  ~ResumeOffer() override;

  // Looks in the history for runs to offer and shows the first.
  void Offer();

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;

 private:
  void ShowNext();
  void GoOn();
  void GiveUp();

  QPointer<MainWindow> window_;
  HistoryWiring& history_;
  RankQuery& rank_;
  KeywordMining& mining_;
  std::deque<HistoryWiring::StoredRun> runs_;  // the one shown first
  bool started_ = false;  // a run started: nothing is offered any more
};

}  // namespace lanshu
