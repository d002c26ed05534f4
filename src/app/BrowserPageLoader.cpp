#include "app/BrowserPageLoader.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <memory>

#include "app/QtText.h"
#include "web/CookieJar.h"

namespace lanshu {

namespace {

// Short English words for the browser's network errors (its own codes).
std::string LoadError(const QWebEngineLoadingInfo& info) {
  switch (info.errorCode()) {
    case -7: return "time-out";              // TIMED_OUT
    case -100: case -101: return "connection reset";  // CONNECTION_CLOSED, CONNECTION_RESET
    case -102: return "connection refused";  // CONNECTION_REFUSED
    case -105: return "host not found";      // NAME_NOT_RESOLVED
    case -118: return "time-out";            // CONNECTION_TIMED_OUT
    case -324: return "empty reply";         // EMPTY_RESPONSE
    case -355: return "body cut short";      // INCOMPLETE_CHUNKED_ENCODING
    default: return "load error " + std::to_string(info.errorCode());
  }
}

}  // namespace

BrowserPageLoader::BrowserPageLoader(QWebEnginePage* page) : page_(page) {
  if (!page) return;
  watch_ = QObject::connect(page, &QWebEnginePage::loadingChanged, page,
                   [this](const QWebEngineLoadingInfo& info) {
                     if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
                       lastFetch_ = PageFetch();
                     } else if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                       lastFetch_.status = info.errorCode();
                     } else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                                info.errorDomain() != QWebEngineLoadingInfo::NoErrorDomain) {
                       lastFetch_.error = LoadError(info);
                     }
                   });
}

void BrowserPageLoader::Navigate(const std::string& address) {
  lastFetch_ = PageFetch();
  if (page_) page_->load(QUrl(FromGbk(address)));
}

void BrowserPageLoader::ReadDocument(std::function<void(std::string)> done) {
  if (!page_) {
    done(std::string());
    return;
  }
  // Whichever comes first, the answer or the time-out, is handed over.
  auto pending = std::make_shared<std::function<void(std::string)>>(std::move(done));
  auto deliver = [pending](std::string html) {
    if (!*pending) return;
    std::function<void(std::string)> once = std::move(*pending);
    *pending = nullptr;
    once(std::move(html));
  };
  QWebEnginePage* page = page_;
  page->runJavaScript(QStringLiteral("document.documentElement ? document.documentElement.outerHTML : ''"),
                      [deliver](const QVariant& result) { deliver(ToGbk(result.toString())); });
  QTimer::singleShot(timeoutMs, page, [deliver] { deliver(std::string()); });
}

namespace {

Cookie ToJarCookie(const QNetworkCookie& c) {
  Cookie out;
  out.domain = c.domain().toStdString();
  out.path = c.path().isEmpty() ? "/" : c.path().toStdString();
  out.name = c.name().toStdString();
  out.value = c.value().toStdString();
  out.expires = c.isSessionCookie() ? 0 : c.expirationDate().toSecsSinceEpoch();
  out.secure = c.isSecure();
  out.httpOnly = c.isHttpOnly();
  return out;
}

QNetworkCookie ToBrowserCookie(const Cookie& c) {
  QNetworkCookie out(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
  out.setDomain(QString::fromStdString(c.domain));
  out.setPath(QString::fromStdString(c.path));
  if (c.expires > 0) out.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires));
  out.setSecure(c.secure);
  out.setHttpOnly(c.httpOnly);
  return out;
}

QUrl OriginOf(const Cookie& c) {
  QString host = QString::fromStdString(c.domain);
  if (host.startsWith(QLatin1Char('.'))) host.remove(0, 1);
  return QUrl((c.secure ? QStringLiteral("https://") : QStringLiteral("http://")) + host + QStringLiteral("/"));
}

}  // namespace

CookieBridge::CookieBridge(QWebEngineProfile* profile, QObject* parent) : QObject(parent), profile_(profile) {
  QWebEngineCookieStore* store = profile->cookieStore();
  connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie& c) {
    CookieJar::Instance().Import(ToJarCookie(c));  // the jar does not echo imports
  });
  connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie& c) {
    CookieJar::Instance().Remove(ToJarCookie(c));
  });
  CookieJar::Instance().SetObserver([this](const std::vector<Cookie>& changed, const std::vector<Cookie>& removed) {
    if (!profile_) return;
    QWebEngineCookieStore* s = profile_->cookieStore();
    for (const Cookie& c : changed) s->setCookie(ToBrowserCookie(c), OriginOf(c));
    for (const Cookie& c : removed) s->deleteCookie(ToBrowserCookie(c), OriginOf(c));
  });
  store->loadAllCookies();
}

CookieBridge::~CookieBridge() { CookieJar::Instance().SetObserver(nullptr); }

}  // namespace lanshu
