#include "app/RunViews.h"

#include <QEvent>
#include <QWebEngineView>
#include <algorithm>
#include <cstdint>

#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "hooks/Events.h"

namespace lanshu {

ProgressView::ProgressView(MainWindow& window, QObject* parent)
    : QObject(parent), bar_(window.进度条), text_(window.进度文字), wall_(window.拦截提示条) {
  tick_.setInterval(1000);
  connect(&tick_, &QTimer::timeout, this, &ProgressView::Show);
  barFormat_ = window.进度条->format();
  window.进度条->setRange(0, kBarRange);
  // The blocked-page bar is up exactly while a run waits for the user.
  window.拦截提示条->installEventFilter(this);
}

int ProgressView::Place::Share() const {
  std::int64_t done = 0, whole = 1;
  if (byTargets) {
    if (targetCount <= 0) return 0;
    const int before = std::clamp(target - 1, 0, targetCount);
    if (knownPages > 0) {
      done = std::int64_t(before) * knownPages + std::min(pagesEnded, knownPages);
      whole = std::int64_t(targetCount) * knownPages;
    } else {
      done = before;
      whole = targetCount;
    }
  } else {
    if (pagesToRetry <= 0) return 0;
    done = std::min(pagesEnded, pagesToRetry);
    whole = pagesToRetry;
  }
  return static_cast<int>(std::min<std::int64_t>(kBarRange, done * kBarRange / whole));
}

void ProgressView::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  Place& p = Of(kind);
  const int notOkBefore = p.notOk;  // what a retry of failed pages asks for again
  p = Place();
  p.running = true;
  p.targets = targets;
  p.targetCount = static_cast<int>(targets.size());
  p.pagesToRetry = notOkBefore;
  p.clock.start();
  kind_ = kind;
  ++running_;
  tick_.start();
  if (bar_ && text_) {
    bar_->show();
    text_->show();
  }
  Show();
}

void ProgressView::TargetStarted(RunKind kind, const std::string&, int index, int count) {
  Place& p = Of(kind);
  kind_ = kind;
  p.byTargets = true;
  p.target = index;
  p.targetCount = count;
  p.page = p.knownPages = p.pagesEnded = 0;
  Show();
}

void ProgressView::PageRequested(RunKind kind, const std::string& target, int page, int attempt,
                                 int knownPages) {
  Place& p = Of(kind);
  kind_ = kind;
  if (!p.byTargets) {  // a retry names its target with each page
    const auto at = std::find(p.targets.begin(), p.targets.end(), target);
    if (at != p.targets.end()) p.target = static_cast<int>(at - p.targets.begin()) + 1;
  }
  p.page = page;
  p.attempt = attempt;
  if (knownPages > 0) p.knownPages = knownPages;
  Show();
}

void ProgressView::PageEnded(RunKind kind, const PageReport& report) {
  Place& p = Of(kind);
  kind_ = kind;
  p.rows += report.rows;
  ++p.pagesEnded;
  if (!report.outcome.Ok()) ++p.notOk;
  Show();
}

void ProgressView::RunEnded(RunKind kind, RunEnd) {
  Place& p = Of(kind);
  p.running = p.paused = false;
  if (--running_ > 0) {
    // The other run goes on: its place is shown again.
    const RunKind other = kind == RunKind::kRank ? RunKind::kMine : RunKind::kRank;
    if (Of(other).running) kind_ = other;
    Show();
    return;
  }
  running_ = 0;
  tick_.stop();
  if (bar_ && text_) {
    bar_->setFormat(barFormat_);
    bar_->hide();
    text_->hide();
  }
}

bool ProgressView::eventFilter(QObject* watched, QEvent* event) {
  if (wall_ && watched == wall_) {
    if (event->type() == QEvent::ShowToParent) {
      // The run at the wall is the one whose page was asked for last.
      Place& p = Of(kind_);
      if (p.running && !p.paused) {
        p.paused = true;
        p.pausedShare = p.Share();
      }
      Show();
    } else if (event->type() == QEvent::HideToParent) {
      for (Place& p : places_) p.paused = false;
      Show();
    }
  }
  return QObject::eventFilter(watched, event);
}

void ProgressView::Show() {
  if (!bar_ || !text_ || running_ == 0) return;
  const Place& p = Of(kind_);
  const qint64 s = p.clock.isValid() ? p.clock.elapsed() / 1000 : 0;
  const QString elapsed = QStringLiteral("%1:%2:%3")
                              .arg(s / 3600, 2, 10, QLatin1Char('0'))
                              .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(s % 60, 2, 10, QLatin1Char('0'));
  QString text = QStringLiteral("%1 %2/%3").arg(kind_ == RunKind::kRank ? QStringLiteral("域名") : QStringLiteral("关键词")).arg(p.target).arg(p.targetCount);
  text += p.knownPages > 0 ? QStringLiteral("  第 %1/%2 页").arg(p.page).arg(p.knownPages) : QStringLiteral("  第 %1 页").arg(p.page);
  if (p.attempt > 1) text += QStringLiteral("（重试 %1）").arg(p.attempt - 1);
  text += QStringLiteral("  %1 行  %2").arg(p.rows).arg(elapsed);
  text_->setText(text);
  QProgressBar* bar = bar_;
  bar->setRange(0, kBarRange);
  bar->setFormat(p.paused ? QStringLiteral("已暂停") : barFormat_);
  bar->setValue(p.paused ? p.pausedShare : p.Share());
}

BlockedChoice AskAtBlockedPage(MainWindow& window, RunKind kind, const PageReport& report,
                               const std::function<bool()>& stopped) {
  QPointer<MainWindow> w(&window);
  const bool login = report.outcome.wall == Wall::kLogin;
  window.拦截提示文字->setText(login ? QStringLiteral("览数要求登录：请在“登录览数”页登录后点“继续”。")
                                     : QStringLiteral("览数要求验证：请在“登录览数”页完成验证后点“继续”。"));
  window.拦截提示条->show();
  window.拦截提示条->raise();
  window.选择夹->SetCurrentIndex(2);
  // The rank page is in the browser already; a keyword page is opened there.
  if (kind == RunKind::kMine) window.浏览框->setUrl(QUrl(FromGbk(report.address)));

  int answer = -1;
  const QMetaObject::Connection a =
      QObject::connect(window.按钮继续, &QPushButton::clicked, [&answer] { answer = 0; });
  const QMetaObject::Connection b =
      QObject::connect(window.按钮跳过, &QPushButton::clicked, [&answer] { answer = 1; });
  const QMetaObject::Connection c =
      QObject::connect(window.按钮停止, &QPushButton::clicked, [&answer] { answer = 2; });
  while (answer < 0 && w && !stopped()) WaitProcessingEvents(20);
  QObject::disconnect(a);
  QObject::disconnect(b);
  QObject::disconnect(c);
  if (w) w->拦截提示条->hide();
  if (!w || answer == 2 || answer < 0) return BlockedChoice::kStop;
  if (kind == RunKind::kRank) w->选择夹->SetCurrentIndex(0);
  return answer == 0 ? BlockedChoice::kRetry : BlockedChoice::kSkip;
}

}  // namespace lanshu
