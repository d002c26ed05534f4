#pragma once
// The program-wide cookie store.
//
// Every HTTP request of the engine sends its cookies from this store (libcurl's
// own cookie engine over one share handle), and the responses' cookies are put
// into it. The window connects it both ways with the embedded browser's cookie
// store: browser cookies come in through Import/Remove, and the observer hears
// of every cookie the HTTP engine added, changed or dropped.
#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lanshu {

struct Cookie {
  std::string domain;        // host name; a leading "." also covers its subdomains
  std::string path = "/";
  std::string name;
  std::string value;
  std::int64_t expires = 0;  // seconds since 1970 (UTC); 0 for a session cookie
  bool secure = false;
  bool httpOnly = false;

  bool operator==(const Cookie& o) const;
  bool operator!=(const Cookie& o) const { return !(*this == o); }
};

// Reads the text of one response header line after "Set-Cookie:" ("name=value"
// and its attributes), received from `host` (lower case, no port). Without a
// Domain attribute the cookie belongs to the host alone; without a Path
// attribute its path is "/". `*pathGiven` tells which. A Domain that the host
// does not belong to, a Secure cookie from an insecure origin, control
// characters, an empty name or a pair without "=" set no cookie (false).
bool ParseSetCookie(const std::string& text, const std::string& host, bool secureOrigin,
                    std::int64_t now, Cookie* out, bool* pathGiven = nullptr);

// The directory part of a request path that cookies without a Path attribute
// get by the usual rule: up to and including its last "/" before any "?".
std::string DefaultCookiePath(const std::string& requestPath);

class CookieJar {
 public:
  // changed: cookies added or modified; removed: cookies that are gone.
  using Observer =
      std::function<void(const std::vector<Cookie>& changed, const std::vector<Cookie>& removed)>;

  // The one store of the process (also sets up libcurl on first use).
  static CookieJar& Instance();

  // The share handle that every transfer that keeps cookies attaches.
  CURLSH* Share() const { return share_; }

  // Adds or replaces (same domain, path and name) a cookie coming from the
  // browser. Does not echo it back to the observer. False for an unusable one.
  bool Import(const Cookie& cookie);
  // Drops the cookie with the same domain, path and name.
  void Remove(const Cookie& cookie);
  // Every cookie that has not expired, in the store's order.
  std::vector<Cookie> List() const;
  // Drops every cookie.
  void Clear();

  // Stores the cookie of one Set-Cookie line (the text after "Set-Cookie:")
  // received for `requestPath` on `host`. False when the line sets nothing.
  bool StoreSetCookie(const std::string& host, const std::string& requestPath,
                      const std::string& text, bool secureOrigin);

  // "name=value; name2=value2" of the cookies for the root of `host` (secure
  // ones only when `secure`): those of the most specific domain first, each
  // domain's in the order they came; empty when there is none.
  std::string CookieString(const std::string& host, bool secure) const;

  // Installs the observer (empty to remove it) and remembers the current
  // content as already known to it.
  void SetObserver(Observer observer);
  // Tells the observer what changed since it last heard (call on the GUI thread).
  void ReportChanges();

  CookieJar(const CookieJar&) = delete;
  CookieJar& operator=(const CookieJar&) = delete;

 private:
  CookieJar();
  ~CookieJar();
  bool ImportLine(const std::string& netscapeLine) const;
  void Drop(const Cookie& cookie) const;
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void Unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_ = nullptr;
  std::mutex shareLocks_[CURL_LOCK_DATA_LAST];

  std::mutex observerMutex_;
  Observer observer_;
  std::map<std::string, Cookie> known_;  // what the observer has been told, by key
};

}  // namespace lanshu
