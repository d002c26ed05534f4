#include "app/ResumeOffer.h"

#include <QLabel>
#include <QPushButton>

#include "app/MainWindow.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"

namespace lanshu {

QString ResumeBarText(const HistoryWiring::StoredRun& run) {
  return run.kind == RunKind::kRank ? QStringLiteral("上次的排名查询没有完成。")
                                    : QStringLiteral("上次的关键词挖掘没有完成。");
}

QString ResumeButtonText(const HistoryWiring::StoredRun& run) {
  std::int64_t ok = 0;
  for (const PageReport& page : run.pages) ok += page.outcome.Ok() ? 1 : 0;
  return QStringLiteral("继续上次的采集（已完成 %1/%2 页）").arg(ok).arg(run.pagesKnown);
}

ResumeOffer::ResumeOffer(MainWindow& window, HistoryWiring& history, RankQuery& rank, KeywordMining& mining)
    : window_(&window), history_(history), rank_(rank), mining_(mining) {
  connect(window.按钮继续上次, &QPushButton::clicked, this, [this] { GoOn(); });
  connect(window.按钮放弃, &QPushButton::clicked, this, [this] { GiveUp(); });
  rank_.listeners.Add(this);
  mining_.listeners.Add(this);
}

ResumeOffer::~ResumeOffer() {
  rank_.listeners.Remove(this);
  mining_.listeners.Remove(this);
}

void ResumeOffer::Offer() {
  if (!history_.Enabled()) return;
  // Asked on the history's own thread: a slow server never holds the window.
  // A history that cannot be read offers nothing; its failure is told when
  // a run is kept.
  QPointer<ResumeOffer> self(this);
  history_.FindResumable([self](std::vector<HistoryWiring::StoredRun> runs) {
    if (!self || self->started_) return;
    self->runs_.assign(std::make_move_iterator(runs.begin()), std::make_move_iterator(runs.end()));
    self->ShowNext();
  });
}

void ResumeOffer::ShowNext() {
  if (!window_) return;
  if (runs_.empty()) {
    window_->继续提示条->hide();
    return;
  }
  window_->继续提示文字->setText(ResumeBarText(runs_.front()));
  window_->按钮继续上次->setText(ResumeButtonText(runs_.front()));
  window_->继续提示条->show();
  window_->继续提示条->raise();
}

void ResumeOffer::GoOn() {
  if (runs_.empty()) return;
  const HistoryWiring::StoredRun run = std::move(runs_.front());
  runs_.pop_front();
  ShowNext();
  // The run starts here; its start takes the rest of the offer away.
  history_.GoOn(run, false);
}

void ResumeOffer::GiveUp() {
  if (runs_.empty()) return;
  std::string error;
  history_.Abandon(runs_.front().id, error);
  runs_.pop_front();
  ShowNext();
}

void ResumeOffer::RunStarted(RunKind, const std::vector<std::string>&) {
  started_ = true;
  runs_.clear();
  if (window_) window_->继续提示条->hide();
}

}  // namespace lanshu
