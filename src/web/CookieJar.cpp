#include "web/CookieJar.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

#include "text/Codec.h"

namespace lanshu {
namespace {

// libcurl refuses longer lines in its cookie file format; browsers keep name
// and value within 4096 bytes.
constexpr std::size_t kMaxLine = 4999;
constexpr std::size_t kMaxNameValue = 4096;

bool HasControl(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         GbkToLowerAscii(s.substr(s.size() - tail.size())) == GbkToLowerAscii(tail);
}

bool IsIpLiteral(const std::string& host) {
  if (host.empty()) return false;
  if (host[0] == '[' || host.find(':') != std::string::npos) return true;
  return host.find_first_not_of("0123456789.") == std::string::npos;
}

bool IsTailMatch(const Cookie& c) { return !c.domain.empty() && c.domain[0] == '.'; }

std::string KeyOf(const Cookie& c) {
  return GbkToLowerAscii(c.domain) + '\t' + c.path + '\t' + c.name;
}

// One line of libcurl's cookie file format (the format its cookie list speaks).
std::string NetscapeLine(const Cookie& c) {
  std::string line = c.httpOnly ? "#HttpOnly_" : "";
  line += c.domain;
  line += IsTailMatch(c) ? "\tTRUE\t" : "\tFALSE\t";
  line += c.path;
  line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(c.expires) + '\t' + c.name + '\t' + c.value;
  return line;
}

bool ParseNetscapeLine(const std::string& line, Cookie* out) {
  static const std::string kHttpOnly = "#HttpOnly_";
  Cookie c;
  std::size_t pos = 0;
  if (line.compare(0, kHttpOnly.size(), kHttpOnly) == 0) {
    c.httpOnly = true;
    pos = kHttpOnly.size();
  }
  std::string fields[7];
  for (int i = 0; i < 6; ++i) {
    std::size_t tab = line.find('\t', pos);
    if (tab == std::string::npos) return false;
    fields[i] = line.substr(pos, tab - pos);
    pos = tab + 1;
  }
  fields[6] = line.substr(pos);  // the value may hold tabs of its own
  c.domain = fields[0];
  if (fields[1] == "TRUE" && !IsTailMatch(c)) c.domain = '.' + c.domain;
  c.path = fields[2];
  c.secure = fields[3] == "TRUE";
  c.expires = std::strtoll(fields[4].c_str(), nullptr, 10);
  c.name = fields[5];
  c.value = fields[6];
  *out = std::move(c);
  return true;
}

bool Usable(const Cookie& c) {
  const std::string domain = IsTailMatch(c) ? c.domain.substr(1) : c.domain;
  return !domain.empty() && domain[0] != '#' && domain[0] != '.' && !c.name.empty() &&
         !c.path.empty() && c.path[0] == '/' && !HasControl(c.domain) && !HasControl(c.path) &&
         !HasControl(c.name) && !HasControl(c.value) && NetscapeLine(c).size() <= kMaxLine;
}

// A handle attached to the share, used only to reach the store.
class StoreHandle {
 public:
  explicit StoreHandle(CURLSH* share) : easy_(curl_easy_init()) {
    if (easy_) curl_easy_setopt(easy_, CURLOPT_SHARE, share);
  }
  ~StoreHandle() {
    if (easy_) curl_easy_cleanup(easy_);
  }
  StoreHandle(const StoreHandle&) = delete;
  StoreHandle& operator=(const StoreHandle&) = delete;
  CURL* get() const { return easy_; }

 private:
  CURL* easy_;
};

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

bool Cookie::operator==(const Cookie& o) const {
  return domain == o.domain && path == o.path && name == o.name && value == o.value &&
         expires == o.expires && secure == o.secure && httpOnly == o.httpOnly;
}

std::string DefaultCookiePath(const std::string& requestPath) {
  const std::string p = requestPath.substr(0, requestPath.find('?'));
  const std::size_t slash = p.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return p.substr(0, slash + 1);
}

bool ParseSetCookie(const std::string& text, const std::string& host, bool secureOrigin,
                    std::int64_t now, Cookie* out, bool* pathGiven) {
  if (host.empty() || HasControl(host)) return false;
  std::size_t semi = text.find(';');
  const std::string pair = text.substr(0, semi);
  const std::size_t eq = pair.find('=');
  if (eq == std::string::npos) return false;
  Cookie c;
  c.name = Trim(pair.substr(0, eq));
  c.value = Trim(pair.substr(eq + 1));
  if (c.name.empty() || c.name.size() + c.value.size() > kMaxNameValue) return false;

  bool havePath = false, haveDomain = false, haveMaxAge = false;
  std::string domain;
  std::int64_t dateExpires = 0, maxAgeExpires = 0;
  while (semi != std::string::npos) {
    const std::size_t next = text.find(';', semi + 1);
    const std::string attr =
        text.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1);
    semi = next;
    const std::size_t e = attr.find('=');
    const std::string key = GbkToLowerAscii(Trim(attr.substr(0, e)));
    const std::string val = e == std::string::npos ? std::string() : Trim(attr.substr(e + 1));
    if (key == "domain") {
      std::string d = val.substr(std::min(val.find_first_not_of('.'), val.size()));
      if (!d.empty()) {
        domain = GbkToLowerAscii(d);
        haveDomain = true;
      }
    } else if (key == "path") {
      if (!val.empty() && val[0] == '/') {
        c.path = val;
        havePath = true;
      }
    } else if (key == "expires") {
      const time_t t = curl_getdate(val.c_str(), nullptr);
      if (t != -1) dateExpires = t <= 0 ? 1 : static_cast<std::int64_t>(t);
    } else if (key == "max-age") {
      std::size_t i = (!val.empty() && val[0] == '-') ? 1 : 0;
      if (i < val.size() && val.find_first_not_of("0123456789", i) == std::string::npos) {
        haveMaxAge = true;
        std::int64_t n = 0;
        for (; i < val.size() && n < (std::int64_t{1} << 40); ++i) n = n * 10 + (val[i] - '0');
        maxAgeExpires = (val[0] == '-' || n == 0) ? 1 : now + n;
      }
    } else if (key == "secure") {
      c.secure = true;
    } else if (key == "httponly") {
      c.httpOnly = true;
    }
  }
  c.expires = haveMaxAge ? maxAgeExpires : dateExpires;

  const std::string lowHost = GbkToLowerAscii(host);
  if (!haveDomain) {
    c.domain = lowHost;
  } else if (domain == lowHost) {
    c.domain = IsIpLiteral(lowHost) ? lowHost : '.' + domain;
  } else if (!IsIpLiteral(lowHost) && domain.find('.') != std::string::npos &&
             EndsWithNoCase(lowHost, '.' + domain)) {
    c.domain = '.' + domain;
  } else {
    return false;
  }
  if (c.secure && !secureOrigin) return false;
  if (!Usable(c)) return false;
  if (pathGiven) *pathGiven = havePath;
  *out = std::move(c);
  return true;
}

CookieJar& CookieJar::Instance() {
  static CookieJar jar;
  return jar;
}

CookieJar::CookieJar() {
  curl_global_init(CURL_GLOBAL_ALL);
  share_ = curl_share_init();
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CookieJar::Lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CookieJar::Unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

CookieJar::~CookieJar() {
  curl_share_cleanup(share_);
  curl_global_cleanup();
}

// The transfer loop and the GUI thread reach the store at once.
void CookieJar::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<CookieJar*>(self)->shareLocks_[data].lock();
}

void CookieJar::Unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<CookieJar*>(self)->shareLocks_[data].unlock();
}

bool CookieJar::ImportLine(const std::string& netscapeLine) const {
  StoreHandle h(share_);
  return h.get() && curl_easy_setopt(h.get(), CURLOPT_COOKIELIST, netscapeLine.c_str()) == CURLE_OK;
}

bool CookieJar::Import(const Cookie& cookie) {
  Cookie c = cookie;
  if (c.expires < 0) c.expires = 1;
  if (!Usable(c) || !ImportLine(NetscapeLine(c))) return false;
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (observer_) {
    if (c.expires != 0 && c.expires <= Now())
      known_.erase(KeyOf(c));
    else
      known_[KeyOf(c)] = c;
  }
  return true;
}

// A cookie is dropped by storing it again as long expired; the store forgets
// expired cookies on its next pass, and List never shows them.
void CookieJar::Drop(const Cookie& cookie) const {
  Cookie c = cookie;
  c.expires = 1;
  c.secure = true;  // may replace a secure cookie as well
  c.value.clear();
  if (Usable(c)) ImportLine(NetscapeLine(c));
}

void CookieJar::Remove(const Cookie& cookie) {
  Drop(cookie);
  std::lock_guard<std::mutex> lock(observerMutex_);
  known_.erase(KeyOf(cookie));
}

std::vector<Cookie> CookieJar::List() const {
  std::vector<Cookie> result;
  StoreHandle h(share_);
  if (!h.get()) return result;
  curl_slist* lines = nullptr;
  if (curl_easy_getinfo(h.get(), CURLINFO_COOKIELIST, &lines) != CURLE_OK) return result;
  const std::int64_t now = Now();
  for (curl_slist* l = lines; l; l = l->next) {
    Cookie c;
    if (ParseNetscapeLine(l->data, &c) && (c.expires == 0 || c.expires > now))
      result.push_back(std::move(c));
  }
  curl_slist_free_all(lines);
  return result;
}

void CookieJar::Clear() {
  ImportLine("ALL");
  std::lock_guard<std::mutex> lock(observerMutex_);
  known_.clear();
}

bool CookieJar::StoreSetCookie(const std::string& host, const std::string& requestPath,
                               const std::string& text, bool secureOrigin) {
  Cookie c;
  bool pathGiven = false;
  if (!ParseSetCookie(text, host, secureOrigin, Now(), &c, &pathGiven)) return false;
  if (!ImportLine(NetscapeLine(c))) return false;
  // libcurl itself has already kept a cookie without a Path under the request's
  // directory; the cookie belongs to the whole host, so that copy goes.
  const std::string curlPath = DefaultCookiePath(requestPath);
  if (!pathGiven && curlPath != "/") {
    Cookie copy = c;
    copy.path = curlPath;
    Drop(copy);
  }
  return true;
}

std::string CookieJar::CookieString(const std::string& host, bool secure) const {
  std::vector<Cookie> matching;
  for (Cookie& c : List()) {
    if (c.path != "/" || (c.secure && !secure)) continue;
    const bool tail = IsTailMatch(c);
    const std::string domain = tail ? c.domain.substr(1) : c.domain;
    if (GbkToLowerAscii(host) == GbkToLowerAscii(domain) ||
        (tail && EndsWithNoCase(host, '.' + domain)))
      matching.push_back(std::move(c));
  }
  // The most specific domain first; the store keeps each domain's cookies in
  // the order they came.
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie& a, const Cookie& b) {
    return a.domain.size() - IsTailMatch(a) > b.domain.size() - IsTailMatch(b);
  });
  std::string result;
  for (const Cookie& c : matching) {
    if (!result.empty()) result += "; ";
    result += c.name + '=' + c.value;
  }
  return result;
}

void CookieJar::SetObserver(Observer observer) {
  std::map<std::string, Cookie> current;
  if (observer)
    for (Cookie& c : List()) current[KeyOf(c)] = std::move(c);
  std::lock_guard<std::mutex> lock(observerMutex_);
  observer_ = std::move(observer);
  known_ = std::move(current);
}

void CookieJar::ReportChanges() {
  Observer observer;
  std::vector<Cookie> changed, removed;
  {
    std::lock_guard<std::mutex> lock(observerMutex_);
    if (!observer_) return;
    std::map<std::string, Cookie> current;
    for (Cookie& c : List()) current[KeyOf(c)] = std::move(c);
    for (const auto& [key, c] : current) {
      auto it = known_.find(key);
      if (it == known_.end() || it->second != c) changed.push_back(c);
    }
    for (const auto& [key, c] : known_)
      if (!current.count(key)) removed.push_back(c);
    known_ = std::move(current);
    observer = observer_;
  }
  if (!changed.empty() || !removed.empty()) observer(changed, removed);
}

}  // namespace lanshu
