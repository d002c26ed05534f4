#pragma once
// Notices of runs in the program: the settings of section "通知", the
// notices of both runs (run/Notice.h) posted to their webhook addresses
// (web/Webhook.h), the rank changes read from the history, and a post that
// failed told once: on the status bar, or on standard error in a batch run.
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "run/Notice.h"
#include "web/Webhook.h"

class QLabel;

namespace lanshu {

class ConfigStore;
class HistoryWiring;
class KeywordMining;
class MainWindow;
class RankQuery;

// Section "通知": "网址" (addresses split at "|"), "格式" (报告, the default,
// or 文本) and "排名变化" (N; 0 or missing: off). Written by the settings
// tab's saving only; a file without the section sends nothing.
NotifySettings LoadNotifySettings(ConfigStore& store);

class NotifyWiring : public QObject {
  Q_OBJECT
 public:
  // How long a batch run waits for its end notice, retries included.
  static constexpr std::chrono::seconds kBatchWait{30};
  // How long an end waits for its rank changes before it goes without them.
  static constexpr std::chrono::seconds kLookupWait{10};

  // window: null in a batch run; history: null when there is none.
  NotifyWiring(ConfigStore& settings, MainWindow* window, RankQuery& rank, KeywordMining& mining,
               HistoryWiring* history, WebhookOptions options = WebhookOptions(), QObject* parent = nullptr);
  // What is being posted gets at most a few seconds more.
  ~NotifyWiring() override;

  // Every notice as it is made, posted or not, goes to onShown: its title
  // and the 文本 summary (the tray's balloon). Null: none.
  void SetOnShown(std::function<void(const QString& title, const QString& text)> onShown);
  // A batch run's standard-error line (UTF-8, without its line end).
  std::function<void(const std::string& line)> say;

  RunNotices& Notices() { return notices_; }

  // A batch run: its end is told with the report it wrote (RunNotices::
  // ReportEnd), then this waits up to kBatchWait for it to be posted.
  void BatchEnd(RunKind kind, const BatchReporter& reporter, const std::string& reportJson);

 private:
  void Send(const Notice& notice, const NotifySettings& settings);
  void Failed(const std::string& address, const std::string& reason);

  QPointer<MainWindow> window_;
  RankQuery& rank_;
  KeywordMining& mining_;
  QPointer<QLabel> status_;
  RunNotices notices_;
  Webhook webhook_;
};

}  // namespace lanshu
