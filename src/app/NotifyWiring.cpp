#include "app/NotifyWiring.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "store/ConfigStore.h"
#include "text/Codec.h"
#include "text/Reasons.h"

namespace lanshu {

NotifySettings LoadNotifySettings(ConfigStore& s) {
  // Read by section name: a notice may be made while other code has a
  // section chosen for its own reads and writes.
  const std::string section = G("通知");
  NotifySettings n;
  n.addresses = NoticeAddresses(GbkToUtf8Text(s.ReadValue(section, G("网址"), "")));
  n.format = s.ReadValue(section, G("格式"), "") == G("文本") ? NoticeFormat::kText : NoticeFormat::kReport;
  const QString places = FromGbk(s.ReadValue(section, G("排名变化"), "")).trimmed();
  bool ok = false;
  const int value = places.toInt(&ok);
  n.rankChangePlaces = ok && value > 0 ? value : 0;
  return n;
}

NotifyWiring::NotifyWiring(ConfigStore& settings, MainWindow* window, RankQuery& rank, KeywordMining& mining,
                           HistoryWiring* history, WebhookOptions options, QObject* parent)
    : QObject(parent), window_(window), rank_(rank), mining_(mining), webhook_(std::move(options)) {
  notices_.settings = [&settings] { return LoadNotifySettings(settings); };
  notices_.now = [] { return QDateTime::currentDateTime().toString(Qt::ISODate).toStdString(); };
  notices_.send = [this](const Notice& notice, const NotifySettings& s) { Send(notice, s); };
  QPointer<HistoryWiring> kept(history);
  notices_.rankChanges = [this, kept](int places, std::function<void(std::vector<RankChange>)> then) {
    if (!kept || !kept->RankChanges(places, then)) {
      then({});
      return;
    }
    // A store that does not answer must not keep the notice back for good.
    QTimer::singleShot(kLookupWait, this, [this] { notices_.LookupGiveUp(); });
  };
  rank_.listeners.Add(&notices_);
  mining_.listeners.Add(&notices_);
  if (window) {
    // Its own place in the status bar, so the run's status texts do not
    // overwrite the message.
    status_ = new QLabel(window->状态条);
    status_->setObjectName(QStringLiteral("通知状态"));
    window->状态条->addPermanentWidget(status_);
    status_->hide();
  } else {
    notices_.endByOwner = true;
  }
}

NotifyWiring::~NotifyWiring() {
  rank_.listeners.Remove(&notices_);
  mining_.listeners.Remove(&notices_);
  // A notice of a run that ended as the window closed.
  webhook_.Wait(std::chrono::seconds(5));
}

void NotifyWiring::SetOnShown(std::function<void(const QString& title, const QString& text)> onShown) {
  notices_.shown = nullptr;
  if (!onShown) return;
  notices_.shown = [onShown = std::move(onShown)](const Notice& notice) {
    onShown(QString::fromStdString(notice.title), QString::fromStdString(notice.text));
  };
}

void NotifyWiring::Send(const Notice& notice, const NotifySettings& s) {
  if (status_) status_->hide();
  QPointer<NotifyWiring> self(this);
  // Both formats are JSON.
  webhook_.Post(s.addresses, notice.body, "application/json; charset=utf-8", [self](const std::string& address, const std::string& reason) {
    // Told on the program's thread, among its other lines.
    QMetaObject::invokeMethod(
        self.data(),
        [self, address, reason] {
          if (self) self->Failed(address, reason);
        },
        Qt::QueuedConnection);
  });
}

void NotifyWiring::Failed(const std::string& address, const std::string& reason) {
  const std::string shown = WebhookAddressShown(address);
  if (!window_) {
    if (say) say("lanshu-collector: notification not sent: " + reason + " (" + shown + ")");
    return;
  }
  if (!status_) return;
  status_->setText(QStringLiteral("通知未发送：") + QString::fromStdString(ChineseReason(reason)));
  status_->setToolTip(QString::fromStdString(shown));
  status_->show();
}

void NotifyWiring::BatchEnd(RunKind kind, const BatchReporter& reporter, const std::string& reportJson) {
  notices_.ReportEnd(kind, reporter, reportJson);
  QElapsedTimer waited;
  waited.start();
  const auto elapsed = [&waited] { return std::chrono::milliseconds(waited.elapsed()); };
  for (;;) {
    // Rank changes and failures come as events.
    QCoreApplication::processEvents();
    if (!notices_.Waiting() && webhook_.Idle()) break;
    if (notices_.Waiting() && elapsed() >= kLookupWait) notices_.LookupGiveUp();
    if (elapsed() >= kBatchWait) {
      if (say) say("lanshu-collector: notification not sent: no answer within 30 s");
      return;
    }
    webhook_.Wait(std::chrono::milliseconds(20));
  }
  // The failures told as the last posts ended.
  QCoreApplication::processEvents();
}

}  // namespace lanshu
