#include "app/RunViews.h"

#include <QWebEngineView>

#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "text/Events.h"

namespace lanshu {

ProgressView::ProgressView(MainWindow& window, QObject* parent) : QObject(parent), window_(&window) {
  tick_.setInterval(1000);
  connect(&tick_, &QTimer::timeout, this, &ProgressView::Show);
}

void ProgressView::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  kind_ = kind;
  targets_ = static_cast<int>(targets.size());
  target_ = page_ = pages_ = rows_ = 0;
  attempt_ = 1;
  ++running_;
  clock_.start();
  tick_.start();
  if (window_) {
    window_->进度条->show();
    window_->进度文字->show();
  }
  Show();
}

void ProgressView::TargetStarted(RunKind kind, const std::string&, int index, int count) {
  kind_ = kind;
  target_ = index;
  targets_ = count;
  page_ = pages_ = 0;
  Show();
}

void ProgressView::PageRequested(RunKind kind, const std::string&, int page, int attempt,
                                 int knownPages) {
  kind_ = kind;
  page_ = page;
  attempt_ = attempt;
  if (knownPages > 0) pages_ = knownPages;
  Show();
}

void ProgressView::PageEnded(RunKind kind, const PageReport& report) {
  kind_ = kind;
  rows_ += report.rows;
  Show();
}

void ProgressView::RunEnded(RunKind, RunEnd) {
  if (--running_ > 0) return;
  running_ = 0;
  tick_.stop();
  if (window_) {
    window_->进度条->hide();
    window_->进度文字->hide();
  }
}

void ProgressView::Show() {
  if (!window_ || running_ == 0) return;
  const qint64 s = clock_.elapsed() / 1000;
  const QString elapsed = QStringLiteral("%1:%2:%3")
                              .arg(s / 3600, 2, 10, QLatin1Char('0'))
                              .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(s % 60, 2, 10, QLatin1Char('0'));
  QString text = QStringLiteral("%1 %2/%3").arg(kind_ == RunKind::kRank ? QStringLiteral("域名") : QStringLiteral("关键词")).arg(target_).arg(targets_);
  text += pages_ > 0 ? QStringLiteral("  第 %1/%2 页").arg(page_).arg(pages_) : QStringLiteral("  第 %1 页").arg(page_);
  if (attempt_ > 1) text += QStringLiteral("（重试 %1）").arg(attempt_ - 1);
  text += QStringLiteral("  %1 行  %2").arg(rows_).arg(elapsed);
  window_->进度文字->setText(text);
  // Rank: pages of the domain; mining: seeds of the run.
  QProgressBar* bar = window_->进度条;
  if (kind_ == RunKind::kRank) {
    bar->setRange(0, std::max(1, pages_));
    bar->setValue(std::min(page_, std::max(1, pages_)));
  } else {
    bar->setRange(0, std::max(1, targets_));
    bar->setValue(std::min(target_, std::max(1, targets_)));
  }
}

BlockedChoice AskAtBlockedPage(MainWindow& window, RunKind kind, const PageReport& report,
                               const std::function<bool()>& stopped) {
  QPointer<MainWindow> w(&window);
  const bool login = report.outcome.reason == "login page";
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
