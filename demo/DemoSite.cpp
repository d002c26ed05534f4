#include "demo/DemoSite.h"

#include "demo/FaultPages.h"

#include "text/Codec.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <thread>

namespace lanshu::demo {

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// One thread per connection, so that held-back answers never starve the
// others; all are joined when the server stops.
class ConnectionThreads : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (*it->done) {
        it->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([fn = std::move(fn), done] {
                          fn();
                          *done = true;
                        }),
                        done});
  }

  void shutdown() override {
    std::list<Worker> all;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      all.swap(workers_);
    }
    for (Worker& w : all) w.thread.join();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::list<Worker> workers_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form and query decoding: "+" is a space, "%XX" a byte, anything else kept.
std::string FormDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::map<std::string, std::string> ParseForm(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    if (!pair.empty()) {
      const std::string name = FormDecode(pair.substr(0, eq));
      if (!fields.count(name)) fields[name] = eq == std::string::npos ? "" : FormDecode(pair.substr(eq + 1));
    }
    start = end + 1;
  }
  return fields;
}

std::string QueryOf(const httplib::Request& req) {
  const std::size_t q = req.target.find('?');
  return q == std::string::npos ? "" : req.target.substr(q + 1);
}

// A browser sends a non-ASCII domain as UTF-8; the site works in GBK.
std::string DomainFromPath(const std::string& bytes) { return IsValidUtf8(bytes) ? Utf8TextToGbk(bytes) : bytes; }

bool ParsePageNumber(const std::string& digits, int& page) {
  if (digits.empty() || digits.size() > 6) return false;
  page = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    page = page * 10 + (c - '0');
  }
  return page >= 1;
}

// "/baidu/" + domain + "/" + page + "/" + sort + "/"; the domain may be empty.
bool ParseRankPath(const std::string& path, std::string& domain, int& page, std::string& sort) {
  const std::string prefix = "/baidu/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0 || path.back() != '/') {
    return false;
  }
  const std::string rest = path.substr(prefix.size(), path.size() - prefix.size() - 1);
  const std::size_t sortSlash = rest.rfind('/');
  if (sortSlash == std::string::npos || sortSlash == 0) return false;
  const std::size_t pageSlash = rest.rfind('/', sortSlash - 1);
  if (pageSlash == std::string::npos) return false;
  sort = rest.substr(sortSlash + 1);
  domain = DomainFromPath(rest.substr(0, pageSlash));
  return IsSortWord(sort) && ParsePageNumber(rest.substr(pageSlash + 1, sortSlash - pageSlash - 1), page);
}

// "/" + seed + "/" + page + "/"; the seed may be empty or hold slashes.
bool ParseKeywordPath(const std::string& path, std::string& seed, int& page) {
  if (path.size() < 4 || path.front() != '/' || path.back() != '/') return false;
  const std::size_t pageSlash = path.rfind('/', path.size() - 2);
  if (pageSlash == 0 || !ParsePageNumber(path.substr(pageSlash + 1, path.size() - pageSlash - 2), page)) {
    return false;
  }
  seed = Utf8TextToGbk(path.substr(1, pageSlash - 1));
  return true;
}

enum class PageKind { kRank, kKeyword, kOther };

PageKind PageKindOf(const std::string& path) {
  std::string name, sort;
  int page = 0;
  if (ParseRankPath(path, name, page, sort)) return PageKind::kRank;
  if (ParseKeywordPath(path, name, page)) return PageKind::kKeyword;
  return PageKind::kOther;
}

bool PathMatches(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '*') {
    return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  }
  return pattern == path;
}

const char kGbkHtml[] = "text/html; charset=gbk";
const char kUtf8Html[] = "text/html; charset=utf-8";

const std::string kGif1x1(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    43);

}  // namespace

bool LoggedRequest::HasHeader(const std::string& name) const {
  for (const auto& h : headers) {
    if (SameNoCase(h.first, name)) return true;
  }
  return false;
}

std::string LoggedRequest::Header(const std::string& name) const {
  for (const auto& h : headers) {
    if (SameNoCase(h.first, name)) return h.second;
  }
  return "";
}

struct DemoSite::Impl {
  mutable std::mutex mutex;  // options, log, sessions
  Options options;
  std::vector<LoggedRequest> log;
  std::map<std::string, std::string> sessions;  // session value -> user
  unsigned sessionCounter = 0;
  std::map<std::string, int> pageRequests;  // result page path -> requests so far

  std::mutex stopMutex;
  std::condition_variable stopCv;
  bool stopping = false;

  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  std::atomic<int> port{0};

  std::string BaseUrl() const {
    const int p = port.load();
    return p == 0 ? "" : "http://127.0.0.1:" + std::to_string(p);
  }

  // Sleeps ms unless the site stops first; false when it stopped.
  bool Wait(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex);
    if (ms < 0) {
      stopCv.wait(lock, [this] { return stopping; });
    } else {
      stopCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }
    return !stopping;
  }

  std::string NewSession(const std::string& user) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t h = std::hash<std::string>()(user + '\x1f' + std::to_string(++sessionCounter));
    const std::string value = "d" + std::to_string(sessionCounter) + "x" + std::to_string(h % 1000000007u);
    sessions[value] = user;
    return value;
  }

  // Tokens of passed captcha checks, as set in kCheckCookie.
  std::set<std::string> passedChecks;

  std::string PassCheck() {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string value = "v" + std::to_string(++sessionCounter);
    passedChecks.insert(value);
    return value;
  }

  bool HasPassedCheck(const LoggedRequest& entry) const {
    auto cookie = entry.cookies.find(kCheckCookie);
    if (cookie == entry.cookies.end()) return false;
    std::lock_guard<std::mutex> lock(mutex);
    return passedChecks.count(cookie->second) > 0;
  }

  std::string SessionUser(const LoggedRequest& entry) const {
    auto cookie = entry.cookies.find(kSessionCookie);
    if (cookie == entry.cookies.end()) return "";
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions.find(cookie->second);
    return it == sessions.end() ? "" : it->second;
  }

  void Handle(const httplib::Request& req, httplib::Response& res);
  void Route(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
             httplib::Response& res);
  void UserPage(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
                httplib::Response& res);
  bool FaultPage(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
                 const Fault& fault, httplib::Response& res);
  // The first-request fault of a result page (Options::flakyPercent, ...),
  // counting the page's requests.
  bool OnceFault(const std::string& path, const Options& opt, Fault& fault);
  void CheckPage(const httplib::Request& req, httplib::Response& res);
};

namespace {

LoggedRequest MakeEntry(const httplib::Request& req) {
  LoggedRequest entry;
  entry.method = req.method;
  entry.target = req.target;
  entry.path = req.path;
  entry.body = req.body;
  for (const auto& h : req.headers) {
    // The server library adds the peer's addresses as pseudo headers.
    if (h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" || h.first == "LOCAL_ADDR" ||
        h.first == "LOCAL_PORT") {
      continue;
    }
    entry.headers.push_back(h);
    if (!SameNoCase(h.first, "Cookie")) continue;
    std::size_t start = 0;
    while (start < h.second.size()) {
      std::size_t end = h.second.find(';', start);
      if (end == std::string::npos) end = h.second.size();
      std::string pair = h.second.substr(start, end - start);
      pair.erase(0, pair.find_first_not_of(' '));
      const std::size_t eq = pair.find('=');
      if (eq != std::string::npos && !entry.cookies.count(pair.substr(0, eq))) {
        entry.cookies[pair.substr(0, eq)] = pair.substr(eq + 1);
      }
      start = end + 1;
    }
  }
  return entry;
}

// Sends the first half of the prepared body, then drops the connection.
void CutBody(httplib::Response& res) {
  const std::string body = res.body;
  if (body.empty()) return;
  const std::string type = res.get_header_value("Content-Type");
  res.headers.erase("Content-Type");
  res.body.clear();
  res.set_content_provider(body.size(), type, [body](size_t offset, size_t, httplib::DataSink& sink) {
    if (offset == 0) return sink.write(body.data(), body.size() / 2);
    return false;
  });
}

}  // namespace

void DemoSite::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
  const LoggedRequest entry = MakeEntry(req);
  Options opt;
  {
    std::lock_guard<std::mutex> lock(mutex);
    opt = options;
    log.push_back(entry);
  }
  const std::string rawPath = req.target.substr(0, req.target.find('?'));
  const Fault* fault = nullptr;
  for (const Fault& f : opt.faults) {
    if (PathMatches(f.path, rawPath) || PathMatches(f.path, req.path)) {
      fault = &f;
      break;
    }
  }
  Fault onceFault;
  if (!fault && PageKindOf(req.path) != PageKind::kOther && OnceFault(req.path, opt, onceFault)) fault = &onceFault;
  Fault everyPageCheck;
  if (!fault && opt.requireVerification && PageKindOf(req.path) != PageKind::kOther) {
    everyPageCheck.kind = Fault::Kind::kVerify;
    fault = &everyPageCheck;
  }
  int delay = opt.delayMs;
  if (fault && fault->kind == Fault::Kind::kDelay) delay += fault->delayMs;
  const bool hang = fault && fault->kind == Fault::Kind::kHang;
  if ((hang && !Wait(-1)) || (delay > 0 && !Wait(delay))) {
    res.status = 503;
    res.set_header("Connection", "close");
    res.set_content("stopped", "text/plain");
    return;
  }
  if (fault && fault->kind == Fault::Kind::kStatus500) {
    res.status = fault->status;
    res.set_content(ErrorPageHtml(fault->status), kGbkHtml);
    return;
  }
  if (fault && fault->kind == Fault::Kind::kThrottle) {
    res.status = 429;
    res.set_header("Retry-After", "2");
    res.set_content(ErrorPageHtml(429), kGbkHtml);
    return;
  }
  if (fault && FaultPage(req, entry, opt, *fault, res)) return;
  Route(req, entry, opt, res);
  if (fault && fault->kind == Fault::Kind::kCutBody) CutBody(res);
}

bool DemoSite::Impl::OnceFault(const std::string& path, const Options& opt, Fault& fault) {
  // A page's own number in 0..99, the same on every run, a different one
  // for each kind of fault.
  const auto picked = [&path](int percent, unsigned salt) {
    unsigned h = 2166136261u ^ salt;
    for (unsigned char c : path) h = (h ^ c) * 16777619u;
    return static_cast<int>(h % 100) < percent;
  };
  std::vector<Fault::Kind> kinds;
  if (picked(opt.flakyPercent, 1)) kinds.push_back(Fault::Kind::kStatus500);
  if (picked(opt.stallPercent, 2)) kinds.push_back(Fault::Kind::kDelay);
  if (picked(opt.logoutPercent, 3)) kinds.push_back(Fault::Kind::kLogin);
  if (picked(opt.throttlePercent, 4)) kinds.push_back(Fault::Kind::kThrottle);
  if (picked(opt.busyPercent, 5)) kinds.push_back(Fault::Kind::kBusy);
  if (kinds.empty()) return false;
  int request = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    request = ++pageRequests[path];
  }
  if (request > static_cast<int>(kinds.size())) return false;
  fault = Fault();
  fault.kind = kinds[request - 1];
  fault.delayMs = 10000;
  // The ended session is renewed at once: the page's next request passes
  // whatever cookie it carries.
  if (fault.kind == Fault::Kind::kLogin) fault.kind = Fault::Kind::kLoggedOut;
  return true;
}

bool DemoSite::Impl::FaultPage(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
                               const Fault& fault, httplib::Response& res) {
  std::string domain, sort, seed;
  int page = 0;
  const bool rank = ParseRankPath(req.path, domain, page, sort);
  const bool keyword = !rank && ParseKeywordPath(req.path, seed, page);
  std::string html;
  switch (fault.kind) {
    case Fault::Kind::kLogin:
      if (!SessionUser(entry).empty()) return false;
      html = LoginRequiredPageHtml(opt, keyword);
      break;
    case Fault::Kind::kLoggedOut:
      html = LoginRequiredPageHtml(opt, keyword);
      break;
    case Fault::Kind::kVerify:
      if (HasPassedCheck(entry)) return false;
      html = VerificationPageHtml(req.target, false, keyword);
      break;
    case Fault::Kind::kGarbage:
      html = GarbagePageHtml(keyword);
      break;
    case Fault::Kind::kBusy:
      html = BusyPageHtml(keyword);
      break;
    case Fault::Kind::kNoData:
      if (rank) html = RankNoDataPageHtml(domain, page, sort, opt);
      if (keyword) html = KeywordNoDataPageHtml(seed, page);
      break;
    case Fault::Kind::kHuge: {
      Options big = opt;
      big.rankRowsPerPage = fault.rows;
      big.keywordRowsPerPage = fault.rows;
      big.keywordNoResults = false;
      big.keywordNoResultSeeds.clear();
      if (rank) html = RankPageHtml(BaseUrl(), domain, page, sort, big);
      if (keyword) html = KeywordPageHtml(seed, page, big);
      break;
    }
    default:
      break;
  }
  if (html.empty()) return false;
  if (keyword) {
    res.set_content(GbkToUtf8Text(html), kUtf8Html);
  } else {
    res.set_content(html, kGbkHtml);
  }
  return true;
}

void DemoSite::Impl::CheckPage(const httplib::Request& req, httplib::Response& res) {
  auto fields = ParseForm(QueryOf(req));
  if (req.method == "POST") {
    for (const auto& f : ParseForm(req.body)) fields[f.first] = f.second;
  }
  // Only a path of this site, so the check cannot send the browser elsewhere.
  std::string from = fields["from"];
  if (from.empty() || from[0] != '/' || (from.size() > 1 && from[1] == '/')) from = "/";
  std::string location;
  for (unsigned char c : from) {
    if (c <= 0x20 || c >= 0x7F) {
      location += PercentEncode(std::string(1, static_cast<char>(c)));
    } else {
      location += static_cast<char>(c);
    }
  }
  if (req.method == "POST" && !fields["code"].empty()) {
    res.status = 302;
    res.set_header("Set-Cookie", std::string(kCheckCookie) + "=" + PassCheck() + "; Path=/");
    res.set_header("Location", location);
    return;
  }
  res.set_content(VerificationPageHtml(location, req.method == "POST"), kGbkHtml);
}

void DemoSite::Impl::Route(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
                           httplib::Response& res) {
  const std::string& path = req.path;
  std::string domain, sort, seed;
  int page = 0;
  if (path == "/user.php") {
    UserPage(req, entry, opt, res);
  } else if (path == "/verify.php") {
    CheckPage(req, res);
  } else if (path == "/verify/captcha.gif") {
    res.set_content(kGif1x1, "image/gif");
  } else if (path == "/link") {
    std::string location;
    if (!RedirectTarget(ParseForm(QueryOf(req))["url"], location)) {
      res.status = 404;
      res.set_content(SimplePage("404", Gbk("链接已失效")), kGbkHtml);
    } else if (location.empty()) {
      res.set_content(SimplePage(Gbk("跳转"), Gbk("该链接没有跳转目标")), kGbkHtml);
    } else {
      res.status = 302;
      res.set_header("Location", location);
    }
  } else if (path == "/baidu") {
    const std::string word = HtmlEscape(ParseForm(QueryOf(req))["word"]);
    res.set_content(SimplePage(word + Gbk("_搜索结果"),
                                  "<div class=\"result\">" + Gbk("您搜索的是：") + "<b>" + word + "</b></div>"),
                    kGbkHtml);
  } else if (ParseRankPath(path, domain, page, sort)) {
    if (opt.requireLogin && SessionUser(entry).empty()) {
      res.set_content(LoginRequiredPageHtml(opt), kGbkHtml);
    } else {
      res.set_content(RankPageHtml(BaseUrl(), domain, page, sort, opt), kGbkHtml);
    }
  } else if (path == "/") {
    res.set_content(GbkToUtf8Text(SimplePage(Gbk("览数演示站"),
                                                "<ul>\r\n<li><a href=\"/baidu/example.com/1/position/\">" +
                                                    Gbk("百度排名") + "</a></li>\r\n<li><a href=\"" +
                                                    KeywordPath(Gbk("减肥"), 1) + "\">" + Gbk("关键词挖掘") +
                                                    "</a></li>\r\n<li><a href=\"/user.php\">" + Gbk("用户中心") +
                                                    "</a></li>\r\n</ul>")),
                    kUtf8Html);
  } else if (path.size() == 22 && path.compare(0, 17, "/images/keyword/l") == 0 &&
             path[17] >= '1' && path[17] <= '5' && path.compare(18, 4, ".gif") == 0) {
    res.set_content(kGif1x1, "image/gif");
  } else if (ParseKeywordPath(path, seed, page)) {
    res.set_content(GbkToUtf8Text(KeywordPageHtml(seed, page, opt)), kUtf8Html);
  } else {
    res.status = 404;
    res.set_content(SimplePage("404", Gbk("页面不存在")), kGbkHtml);
  }
}

void DemoSite::Impl::UserPage(const httplib::Request& req, const LoggedRequest& entry, const Options& opt,
                              httplib::Response& res) {
  auto fields = ParseForm(QueryOf(req));
  if (req.method == "POST") {
    for (const auto& f : ParseForm(req.body)) fields[f.first] = f.second;
  }
  const std::string action = req.method == "POST" ? "login" : fields["action"];
  std::string body;
  if (action == "login") {
    const std::string user = fields["user"];
    if (user != opt.loginUser || fields["pass"] != opt.loginPassword) {
      body = "<p class=\"error\">" + Gbk("用户名或密码错误") + "</p>\r\n" + LoginForm(user, opt);
    } else {
      res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + NewSession(user) + "; Path=/");
      if (req.method == "POST") {
        res.status = 302;
        res.set_header("Location", "/user.php");
        return;
      }
      body = "<p class=\"status\">" + Gbk("已登录：") + HtmlEscape(user) + "</p>";
    }
  } else if (action == "logout") {
    auto cookie = entry.cookies.find(kSessionCookie);
    if (cookie != entry.cookies.end()) {
      std::lock_guard<std::mutex> lock(mutex);
      sessions.erase(cookie->second);
    }
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0");
    body = "<p class=\"status\">" + Gbk("已退出登录") + "</p>\r\n" + LoginForm("", opt);
  } else {
    const std::string user = SessionUser(entry);
    body = user.empty() ? "<p class=\"status\">" + Gbk("未登录") + "</p>\r\n" + LoginForm("", opt)
                        : "<p class=\"status\">" + Gbk("已登录：") + HtmlEscape(user) +
                              "</p>\r\n<p><a href=\"/user.php?action=logout\">" + Gbk("退出") + "</a></p>";
  }
  res.set_content(SimplePage(Gbk("用户中心_览数"), "<div class=\"user\">\r\n" + body + "\r\n</div>"), kGbkHtml);
}

DemoSite::DemoSite() : DemoSite(Options()) {}

DemoSite::DemoSite(Options options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }

DemoSite::~DemoSite() { Stop(); }

bool DemoSite::Start(int port) {
  if (impl_->server) return false;
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new ConnectionThreads; };
  // One request per connection and a short idle wait keep Stop prompt.
  server->set_keep_alive_max_count(1);
  server->set_keep_alive_timeout(1);
  Impl* impl = impl_.get();
  const auto handler = [impl](const httplib::Request& req, httplib::Response& res) { impl->Handle(req, res); };
  server->Get("[\\s\\S]*", handler);
  server->Post("[\\s\\S]*", handler);
  int bound = -1;
  if (port == 0) {
    bound = server->bind_to_any_port("127.0.0.1");
  } else if (server->bind_to_port("127.0.0.1", port)) {
    bound = port;
  }
  if (bound <= 0) return false;
  {
    std::lock_guard<std::mutex> lock(impl_->stopMutex);
    impl_->stopping = false;
  }
  impl_->server = std::move(server);
  httplib::Server* s = impl_->server.get();
  impl_->thread = std::thread([s] { s->listen_after_bind(); });
  // Stop only works on a server that is listening.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!s->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  impl_->port = bound;
  return true;
}

void DemoSite::Stop() {
  if (!impl_->server) return;
  {
    std::lock_guard<std::mutex> lock(impl_->stopMutex);
    impl_->stopping = true;
  }
  impl_->stopCv.notify_all();
  impl_->server->stop();
  impl_->thread.join();
  impl_->server.reset();
  impl_->port = 0;
}

bool DemoSite::Running() const { return impl_->server != nullptr; }
int DemoSite::Port() const { return impl_->port; }
std::string DemoSite::BaseUrl() const { return impl_->BaseUrl(); }

Options DemoSite::GetOptions() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->options;
}

void DemoSite::SetOptions(const Options& options) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options = options;
  impl_->pageRequests.clear();  // first-request faults begin anew
}

void DemoSite::UpdateOptions(const std::function<void(Options&)>& change) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  change(impl_->options);
}

std::vector<LoggedRequest> DemoSite::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->log;
}

void DemoSite::ClearLog() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->log.clear();
}

std::string DemoSite::IssueSession(const std::string& user) { return impl_->NewSession(user); }

bool DemoSite::IsSessionValid(const std::string& session) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->sessions.count(session) > 0;
}

std::vector<RankRow> DemoSite::ExpectedRankRows(const std::string& domain, int page,
                                                const std::string& sortWord) const {
  return demo::ExpectedRankRows(BaseUrl(), domain, page, sortWord, GetOptions());
}

std::vector<KeywordRow> DemoSite::ExpectedKeywordRows(const std::string& seed, int page) const {
  return demo::ExpectedKeywordRows(seed, page, GetOptions());
}

std::string DemoSite::RankUrl(const std::string& domain, int page, const std::string& sortWord) const {
  return BaseUrl() + RankPath(domain, page, sortWord);
}

std::string DemoSite::KeywordUrl(const std::string& seed, int page) const {
  return BaseUrl() + KeywordPath(seed, page);
}

std::string DemoSite::KeywordSiteRoot() const { return BaseUrl() + "/"; }

}  // namespace lanshu::demo
