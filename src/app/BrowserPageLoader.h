#pragma once
// A browser page as the rank query's page loader (the login tab's, or one
// without a view in a batch run), and the two-way cookie connection between
// its profile and the HTTP engine.
#include <QObject>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>

#include "rank/RankQuery.h"

class QWebEngineView;
class QWebEngineProfile;

namespace lanshu {

class BrowserPageLoader : public PageLoader {
 public:
  // Learns each load's status and error from the page.
  explicit BrowserPageLoader(QWebEnginePage* page);
  ~BrowserPageLoader() override { QObject::disconnect(watch_); }
  BrowserPageLoader(const BrowserPageLoader&) = delete;
  BrowserPageLoader& operator=(const BrowserPageLoader&) = delete;
  void Navigate(const std::string& address) override;
  // The page's answer to document.documentElement.outerHTML, handed over
  // when it comes (empty after timeoutMs or when the page is gone).
  void ReadDocument(std::function<void(std::string)> done) override;
  PageFetch LastFetch() override { return lastFetch_; }
  int timeoutMs = 15000;

 private:
  QPointer<QWebEnginePage> page_;
  PageFetch lastFetch_;
  QMetaObject::Connection watch_;
};

// Keeps the browser profile's cookie store and the program's cookie jar in
// step: a login made in the browser applies to every HTTP request, and a
// cookie set by a response reaches the browser.
class CookieBridge : public QObject {
  Q_OBJECT
 public:
  CookieBridge(QWebEngineProfile* profile, QObject* parent);
  ~CookieBridge() override;

 private:
  QPointer<QWebEngineProfile> profile_;
};

}  // namespace lanshu
