#include "web/HttpClient.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "text/Events.h"
#include "web/CookieJar.h"

namespace lanshu {

// Gives RunTransfer access to the signal's transfer slot.
struct TransferAccess {
  static void Set(StopSignal* stop, CURLM* multi) {
    std::lock_guard<std::mutex> lock(stop->mutex_);
    stop->multi_ = multi;
  }
};

namespace {

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr char kGuardedAccept[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr char kDirectAccept[] =
    "Accept: image/gif, image/jpeg, image/pjpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/msword, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/xaml+xml, application/x-ms-xbap, application/x-ms-application, "
    "application/vnd.ms-xpsdocument, */*\r\n";
constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr int kDefaultTimeoutSeconds = 90;
constexpr long kMaxRedirects = 10;

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && GbkToLowerAscii(a) == GbkToLowerAscii(b);
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// "Empty once all spaces are removed".
bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

std::string TextOf(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// Large buffers are reused rather than freed: a buffer that a worker thread
// allocated and another thread frees makes the C library give memory back to
// the system every time, which costs as much as a loopback request.
class BufferPool {
 public:
  static constexpr std::size_t kKeptCapacity = std::size_t{1} << 20;
  static constexpr std::size_t kKept = 8;

  static BufferPool& Get() {
    static BufferPool pool;
    return pool;
  }
  std::string Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty()) return std::string();
    std::string buffer = std::move(free_.back());
    free_.pop_back();
    return buffer;
  }
  void Give(std::string buffer) {
    if (buffer.capacity() > kKeptCapacity) return;
    buffer.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.size() < kKept) free_.push_back(std::move(buffer));
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> free_;
};

// Multi handles are kept for the next transfer: making one costs a socket
// pair and a handle of libcurl's own. One is kept only when its transfer left
// no connection open in it (the transfer's sockets are counted), so no
// connection outlives its request and none is reused by the next one.
struct PooledMulti {
  CURLM* multi = nullptr;
  int openSockets = 0;
};

class MultiPool {
 public:
  static constexpr std::size_t kKept = 4;

  static MultiPool& Get() {
    static MultiPool pool;
    return pool;
  }
  // Null when libcurl cannot make one.
  std::unique_ptr<PooledMulti> Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<PooledMulti> m = std::move(free_.back());
        free_.pop_back();
        return m;
      }
    }
    auto m = std::make_unique<PooledMulti>();
    m->multi = curl_multi_init();
    if (!m->multi) return nullptr;
    return m;
  }
  void Give(std::unique_ptr<PooledMulti> m) {
    if (m->openSockets == 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (free_.size() < kKept) {
        free_.push_back(std::move(m));
        return;
      }
    }
    curl_multi_cleanup(m->multi);  // closes what is left (counted down through m)
  }

  // Attached to every transfer run in `m`.
  static curl_socket_t OpenSocket(void* m, curlsocktype, curl_sockaddr* address) {
    const curl_socket_t s = ::socket(address->family, address->socktype, address->protocol);
    if (s != CURL_SOCKET_BAD) ++static_cast<PooledMulti*>(m)->openSockets;
    return s;
  }
  static int CloseSocket(void* m, curl_socket_t s) {
    --static_cast<PooledMulti*>(m)->openSockets;
    return ::close(s);
  }

 private:
  // libcurl is set up before the first handle and torn down after the last.
  MultiPool() { CookieJar::Instance(); }
  ~MultiPool() {
    for (std::unique_ptr<PooledMulti>& m : free_) curl_multi_cleanup(m->multi);
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<PooledMulti>> free_;
};

struct HostStart {
  std::size_t pos;  // 0-based index where the host begins
  bool https;
};

// The host begins after the first scheme marker, else at the first character.
HostStart FindHostStart(const std::string& url) {
  const std::size_t p = GbkFind(url, "http://");
  const std::size_t q = GbkFind(url, "https://");
  if (q != std::string::npos && (p == std::string::npos || q < p)) return {q + 8, true};
  if (p != std::string::npos) return {p + 7, false};
  return {0, false};
}

// The leading decimal number of a port text (fraction dropped); 0 when there
// is none or it does not fit.
std::int32_t LeadingNumber(const std::string& s) {
  std::size_t i = s.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  std::int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

struct RequestArgs {
  std::string url, method, proxy, userName, password, headers, body;
};

struct Outcome {
  std::string headers;
  std::string body;
};

// The header text completed with the defaults, each added at the very end.
std::string CompleteHeaders(std::string text, const std::string& url, const char* accept) {
  if (GbkFindNoCase(text, "Accept: ") == std::string::npos) text += accept;
  if (GbkFindNoCase(text, "Referer: ") == std::string::npos) text += "Referer: " + url + "\r\n";
  if (GbkFindNoCase(text, "Accept-Language: ") == std::string::npos)
    text += "Accept-Language: zh-cn\r\n";
  return text;
}

curl_slist* AppendLine(curl_slist* list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list, line.c_str());
  return grown ? grown : list;
}

// One list entry per non-empty line of the header text.
curl_slist* HeaderList(const std::string& text) {
  curl_slist* list = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) list = AppendLine(list, line);
    pos = end + 1;
  }
  return list;
}

struct BodySink {
  std::string* body;
  std::size_t cap;
  bool pumpEvents;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t len = size * count;
  if (sink->pumpEvents) ProcessPendingEvents();
  if (sink->body->size() + len > sink->cap) return 0;  // fails the transfer
  sink->body->append(data, len);
  return len;
}

// Host and path of the address that answered last (after redirects).
void FinalAddress(CURL* easy, std::string* scheme, std::string* host, std::string* path) {
  char* effective = nullptr;
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
  CURLU* u = curl_url();
  if (!u) return;
  if (effective && curl_url_set(u, CURLUPART_URL, effective, 0) == CURLUE_OK) {
    char* part = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) *scheme = part;
    curl_free(part);
    part = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK) *host = GbkToLowerAscii(part);
    curl_free(part);
    part = nullptr;
    if (curl_url_get(u, CURLUPART_PATH, &part, 0) == CURLUE_OK) *path = part;
    curl_free(part);
  }
  curl_url_cleanup(u);
}

// libcurl's cookie engine has already taken the response's cookies as they
// arrived (for every response of a redirect chain, like a browser). Its
// handling differs from the store's rules in two ways that matter: it keeps at
// most 50 cookies of one response, and a cookie without a Path attribute gets
// the request's directory instead of the whole host. So each "Set-Cookie:"
// line of the final response is stored again, for the host that sent it,
// with name (before the first "="), value and attributes as sent.
void StoreResponseCookies(CURL* easy, const std::string& headerBlock, bool pumpEvents) {
  static const std::string kMarker = "Set-Cookie:";
  const auto sameNoCase = [](char a, char b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
  };
  // Most responses set none: then where they came from need not be found out.
  if (std::search(headerBlock.begin(), headerBlock.end(), kMarker.begin(), kMarker.end(),
                  sameNoCase) == headerBlock.end())
    return;
  std::string scheme, host, path;
  FinalAddress(easy, &scheme, &host, &path);
  if (host.empty()) return;
  const bool secureOrigin = scheme == "https" || host == "localhost" || host == "127.0.0.1" ||
                            host == "[::1]";
  CookieJar& jar = CookieJar::Instance();
  std::size_t pos = 0;
  while (pos < headerBlock.size()) {
    std::size_t end = headerBlock.find("\r\n", pos);
    if (end == std::string::npos) end = headerBlock.size();
    const std::string line = headerBlock.substr(pos, end - pos);
    if (StartsWithNoCase(line, kMarker))
      jar.StoreSetCookie(host, path, line.substr(kMarker.size()), secureOrigin);
    if (pumpEvents) ProcessPendingEvents();
    pos = end + 2;
  }
}

// The steps every variant shares: verb check, header completion, transfer and
// storing the final response's cookies. False on any failure.
bool PerformRequest(const RequestArgs& a, const char* acceptDefault, bool withCredentials,
                    const HttpLimits& limits, StopSignal* stop, bool pumpEvents, Outcome* out) {
  bool post = false;
  if (a.method.empty() || EqualsNoCase(a.method, "GET"))
    post = false;
  else if (EqualsNoCase(a.method, "POST"))
    post = true;
  else
    return false;  // nothing is sent

  const bool https = FindHostStart(a.url).https;
  const std::string host = HttpClient::UrlHost(a.url);
  const std::string path = HttpClient::UrlPath(a.url);
  std::int32_t port = HttpClient::UrlPort(a.url);
  if (port == 0) port = https ? 443 : 80;  // no number means the scheme's port
  if (host.empty() || port < 0 || port > 65535) return false;

  std::string headerText = CompleteHeaders(a.headers, a.url, acceptDefault);
  const bool hasContentType = GbkFindNoCase(headerText, "Content-Type: ") != std::string::npos;
  if (post && !a.body.empty() && !hasContentType) headerText += kContentType;
  // A POST with a body ends its header text with "Content-Length: " + length.
  // libcurl writes exactly that line itself, last before the body, and leaves
  // it out when a redirect turns the POST into a GET; so it is not handed over.
  curl_slist* list = HeaderList(headerText);
  list = AppendLine(list, "Expect:");  // no "Expect: 100-continue" of libcurl's own
  if (post && a.body.empty() && !hasContentType)
    list = AppendLine(list, "Content-Type:");  // an empty POST sends no content type

  CURL* easy = curl_easy_init();
  if (!easy) {
    curl_slist_free_all(list);
    return false;
  }
  std::string target = std::string(https ? "https://" : "http://") + host;
  if (port != (https ? 443 : 80)) target += ':' + std::to_string(port);
  target += path;
  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kAgent);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_SHARE, CookieJar::Instance().Share());
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // turns the cookie engine on
  // The proxy list names "http=" only, so addresses of other schemes go direct.
  // An empty proxy also keeps proxies of the environment out.
  std::string proxy;
  if (!IsBlank(a.proxy) && !https)
    proxy = a.proxy.substr(a.proxy.find_first_not_of(' '),
                           a.proxy.find_last_not_of(' ') - a.proxy.find_first_not_of(' ') + 1);
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  if (withCredentials && !IsBlank(a.userName)) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, a.userName.c_str());
    if (!IsBlank(a.password)) curl_easy_setopt(easy, CURLOPT_PASSWORD, a.password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }
  if (post) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(a.body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, a.body.data());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  std::string body = BufferPool::Get().Take();
  BodySink sink{&body, limits.maxBodyBytes, pumpEvents};
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  ResponseHeaderBlock block(limits.maxHeaderBytes, false, &body);
  block.Attach(easy);

  TransferWatch watch;
  watch.pumpEvents = pumpEvents;
  watch.pollMs = pumpEvents ? 10 : 1000;
  const CURLcode result = RunTransfer(easy, stop, watch);
  const bool ok = result == CURLE_OK && block.Complete();
  if (ok) {
    StoreResponseCookies(easy, block.Text(), pumpEvents);
    out->headers = block.Text();
    out->body = std::move(body);
  } else {
    BufferPool::Get().Give(std::move(body));
  }
  curl_easy_cleanup(easy);
  curl_slist_free_all(list);
  return ok;
}

// --- Guarded workers ---

struct GuardState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  StopSignal stop;
};

// Worker threads run on stacks kept here for the next worker. The C library
// hands the unused pages of a stack it allocated back to the system at every
// thread's end, which on some machines costs more than a whole loopback
// request; a stack the program provides is left alone.
class StackPool {
 public:
  static constexpr std::size_t kGuard = 64 * 1024;
  static constexpr std::size_t kSize = 4 * 1024 * 1024;  // usable part, committed lazily
  static constexpr std::size_t kKept = 8;

  ~StackPool() {
    for (void* block : free_) ::munmap(block, kGuard + kSize);
  }
  // The lowest address of a block; its first kGuard bytes are inaccessible.
  void* Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        void* block = free_.back();
        free_.pop_back();
        return block;
      }
    }
    void* block = ::mmap(nullptr, kGuard + kSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    ::mprotect(block, kGuard, PROT_NONE);
    return block;
  }
  void Give(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.size() < kKept)
      free_.push_back(block);
    else
      ::munmap(block, kGuard + kSize);
  }

 private:
  std::mutex mutex_;
  std::vector<void*> free_;
};

// Worker threads stay a while after their work, waiting for the next guarded
// request: starting a thread costs about as much as a loopback request on a
// small virtual machine. A worker whose caller gave up on it ends with its
// work and is never handed anything new.
class WorkerRegistry {
 public:
  static WorkerRegistry& Get() {
    static WorkerRegistry registry;
    return registry;
  }

  bool Start(std::shared_ptr<GuardState> state, std::function<void(StopSignal&)> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    ReapLocked();
    for (const std::unique_ptr<Worker>& w : workers_) {
      {
        std::lock_guard<std::mutex> workerLock(w->mutex);
        if (w->phase != Phase::kIdle) continue;
        w->phase = Phase::kBusy;
        w->state = std::move(state);
        w->work = std::move(work);
      }
      w->wake.notify_one();  // unlocked, so the worker does not wake into a held lock
      return true;
    }
    auto w = std::make_unique<Worker>();
    w->stack = stacks_.Take();
    if (!w->stack) return false;
    w->phase = Phase::kBusy;
    w->state = std::move(state);
    w->work = std::move(work);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, static_cast<char*>(w->stack) + StackPool::kGuard,
                          StackPool::kSize);
    const int rc = pthread_create(&w->thread, &attr, &WorkerRegistry::Run, w.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
      stacks_.Give(w->stack);
      return false;
    }
    workers_.push_back(std::move(w));
    return true;
  }

  // Workers that have work that has not ended (idle ones do not count).
  std::size_t Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    ReapLocked();
    std::size_t busy = 0;
    for (const std::unique_ptr<Worker>& w : workers_) {
      std::lock_guard<std::mutex> workerLock(w->mutex);
      busy += w->phase == Phase::kBusy;
    }
    return busy;
  }

  // Tells every worker to end (busy ones are told to stop their work first)
  // and waits for them.
  void JoinAll() {
    std::vector<std::unique_ptr<Worker>> all;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      all.swap(workers_);
    }
    for (const std::unique_ptr<Worker>& w : all) {
      std::shared_ptr<GuardState> state;
      {
        std::lock_guard<std::mutex> workerLock(w->mutex);
        w->quit = true;
        state = w->state;
      }
      w->wake.notify_one();
      if (state) state->stop.Request();
    }
    for (const std::unique_ptr<Worker>& w : all) Join(*w);
  }

 private:
  // How long a worker waits for its next request before it ends.
  static constexpr std::chrono::seconds kIdleWait{10};

  // kBusy from the hand-over of work until that work has ended; kEnded once
  // the thread is about to return (it is joined then).
  enum class Phase { kBusy, kIdle, kEnded };

  struct Worker {
    pthread_t thread{};
    void* stack = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    Phase phase = Phase::kIdle;
    bool quit = false;
    std::function<void(StopSignal&)> work;
    std::shared_ptr<GuardState> state;  // of the work under way
  };

  // What workers use must outlive them, so it is set up first (and so torn
  // down after this registry at exit).
  WorkerRegistry() {
    CookieJar::Instance();
    BufferPool::Get();
    MultiPool::Get();
  }
  ~WorkerRegistry() { JoinAll(); }

  static void* Run(void* arg) {
    Worker& w = *static_cast<Worker*>(arg);
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
      w.wake.wait_for(lock, kIdleWait, [&w] { return w.phase == Phase::kBusy || w.quit; });
      if (w.phase != Phase::kBusy) break;  // idle too long, or told to end
      std::function<void(StopSignal&)> work = std::move(w.work);
      const std::shared_ptr<GuardState> state = w.state;
      lock.unlock();
      work(state->stop);
      work = nullptr;  // the worker's share of its data goes before the end is reported
      lock.lock();
      // Free for new work before the caller hears of the end, so that its
      // next request finds this worker waiting.
      const bool retire = w.quit || state->stop.Requested();
      w.phase = retire ? Phase::kEnded : Phase::kIdle;
      w.state.reset();
      lock.unlock();
      {
        std::lock_guard<std::mutex> stateLock(state->mutex);
        state->done = true;
      }
      state->ended.notify_all();
      if (retire) return nullptr;
      lock.lock();
    }
    w.phase = Phase::kEnded;
    return nullptr;
  }

  void Join(Worker& w) {
    pthread_join(w.thread, nullptr);
    stacks_.Give(w.stack);
  }

  void ReapLocked() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      bool ended;
      {
        std::lock_guard<std::mutex> workerLock((*it)->mutex);
        ended = (*it)->phase == Phase::kEnded;
      }
      if (ended) {
        Join(**it);
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }

  StackPool stacks_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Worker>> workers_;
};

// The data one guarded request's worker owns together with its caller; a
// worker that was given up keeps it alive on its own until it ends.
struct RequestJob {
  RequestExchange exchange;
  bool bytesBody = false;
  HttpLimits limits;
};

// Worker side of the guarded request. True on success.
bool RunRequestWorker(RequestJob& job, StopSignal& stop) {
  RequestExchange& ex = job.exchange;
  ex.Rewind();
  if (ex.ReadText() != "ReqMark") return false;
  RequestArgs a;
  a.url = ex.ReadText();
  a.method = ex.ReadText();
  a.proxy = ex.ReadText();
  a.userName = ex.ReadText();
  a.password = ex.ReadText();
  a.headers = ex.ReadText();
  a.body = job.bytesBody ? ex.ReadBytes() : ex.ReadText();
  ex.Clear();  // a failure from here on leaves the exchange empty
  Outcome out;
  if (!PerformRequest(a, kGuardedAccept, true, job.limits, &stop, false, &out)) return false;
  ex.Rewind();
  ex.WriteText("ReqMark_OK");
  ex.WriteText(out.headers);
  ex.WriteBytes(out.body);
  BufferPool::Get().Give(std::move(out.body));
  return true;
}

}  // namespace

// --- RequestExchange ---

void RequestExchange::Put(const char* p, std::size_t n) {
  const std::size_t end = pos_ + n;
  if (end > data_.capacity()) data_.reserve((end + 1023) / 1024 * 1024);
  const std::size_t overlap = std::min(n, data_.size() - pos_);
  data_.replace(pos_, overlap, p, n);  // overwrites, then extends
  pos_ = end;
}

void RequestExchange::WriteText(const std::string& text) {
  const std::size_t len = std::min(text.find('\0'), text.size());
  Put(text.data(), len);
  Put("", 1);
}

void RequestExchange::WriteBytes(const std::string& bytes) {
  const std::uint32_t len = static_cast<std::uint32_t>(
      std::min<std::size_t>(bytes.size(), std::numeric_limits<std::uint32_t>::max()));
  const char prefix[4] = {static_cast<char>(len & 0xFF), static_cast<char>((len >> 8) & 0xFF),
                          static_cast<char>((len >> 16) & 0xFF),
                          static_cast<char>((len >> 24) & 0xFF)};
  Put(prefix, 4);
  Put(bytes.data(), len);
}

std::string RequestExchange::ReadText() {
  if (pos_ >= data_.size()) return std::string();
  const std::size_t zero = data_.find('\0', pos_);
  const std::size_t end = zero == std::string::npos ? data_.size() : zero;
  std::string text = data_.substr(pos_, end - pos_);
  pos_ = zero == std::string::npos ? data_.size() : zero + 1;
  return text;
}

std::string RequestExchange::ReadBytes() {
  if (data_.size() < pos_ + 4) {
    pos_ = data_.size();
    return std::string();
  }
  std::uint32_t len = 0;
  for (int i = 3; i >= 0; --i) len = (len << 8) | static_cast<unsigned char>(data_[pos_ + i]);
  pos_ += 4;
  const std::size_t n = std::min<std::size_t>(len, data_.size() - pos_);
  std::string bytes = data_.substr(pos_, n);
  pos_ += n;
  return bytes;
}

// --- StopSignal, guarded runs, transfers ---

void StopSignal::Request() {
  std::lock_guard<std::mutex> lock(mutex_);
  requested_.store(true, std::memory_order_release);
  if (multi_) curl_multi_wakeup(multi_);
}

namespace {
std::atomic<unsigned> cancelGeneration{0};
}  // namespace

void CancelGuardedWaits() { cancelGeneration.fetch_add(1); }

bool RunGuarded(std::function<void(StopSignal&)> work, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const unsigned generation = cancelGeneration.load();
  const Clock::time_point deadline = Clock::now() + limit;
  auto state = std::make_shared<GuardState>();
  if (!WorkerRegistry::Get().Start(state, std::move(work))) return false;

  // Short waits, each followed by window events; a finished worker wakes the
  // wait at once. Events never extend the time-out.
  constexpr auto kSlice = std::chrono::milliseconds(5);
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (state->done || now >= deadline || cancelGeneration.load() != generation) break;
    state->ended.wait_until(lock, std::min(now + kSlice, deadline));
    if (state->done) break;
    lock.unlock();
    ProcessPendingEvents();
    lock.lock();
  }
  if (state->done) return true;
  lock.unlock();
  state->stop.Request();
  return false;
}

std::size_t GuardedWorkersRunning() { return WorkerRegistry::Get().Running(); }

void JoinGuardedWorkers() { WorkerRegistry::Get().JoinAll(); }

CURLcode RunTransfer(CURL* easy, StopSignal* stop, const TransferWatch& watch) {
  std::unique_ptr<PooledMulti> pooled = MultiPool::Get().Take();
  if (!pooled) return CURLE_OUT_OF_MEMORY;
  CURLM* multi = pooled->multi;
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &MultiPool::OpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, pooled.get());
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &MultiPool::CloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, pooled.get());
  // Names are looked up afresh by every request, as with a multi handle of its own.
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    MultiPool::Get().Give(std::move(pooled));
    return CURLE_FAILED_INIT;
  }
  if (stop) TransferAccess::Set(stop, multi);
  CURLcode result = CURLE_GOT_NOTHING;
  for (;;) {
    if ((stop && stop->Requested()) || (watch.giveUp && watch.giveUp())) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (watch.pumpEvents) ProcessPendingEvents();
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) {
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) result = msg->data.result;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, watch.pollMs, nullptr) != CURLM_OK) break;
  }
  if (stop) TransferAccess::Set(stop, nullptr);
  curl_multi_remove_handle(multi, easy);  // an unfinished transfer closes its connection here
  MultiPool::Get().Give(std::move(pooled));
  return result;
}

// --- ResponseHeaderBlock ---

void ResponseHeaderBlock::Attach(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &ResponseHeaderBlock::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
}

std::size_t ResponseHeaderBlock::OnHeader(char* data, std::size_t size, std::size_t count,
                                          void* self) {
  return static_cast<ResponseHeaderBlock*>(self)->Take(data, size * count);
}

std::size_t ResponseHeaderBlock::Take(const char* data, std::size_t len) {
  std::size_t n = len;  // the line without its end
  while (n > 0 && (data[n - 1] == '\n' || data[n - 1] == '\r')) --n;
  if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    // A new response: an interim answer, a redirect, or the final one.
    text_.clear();
    complete_ = false;
    const char* sp = static_cast<const char*>(std::memchr(data, ' ', n));
    interim_ = sp != nullptr && sp + 1 < data + n && sp[1] == '1';
    if (body_) body_->clear();
  } else if (complete_) {
    return len;  // trailer fields after the body
  }
  text_.append(data, n);
  text_ += "\r\n";
  if (text_.size() > cap_) return 0;
  if (n == 0) {
    complete_ = true;
    if (endAtBlock_ && !interim_) return 0;
  }
  return len;
}

std::string ResponseHeaderBlock::Field(const std::string& name) const {
  const std::string prefix = name + ':';
  std::size_t pos = text_.find("\r\n");  // past the status line
  while (pos != std::string::npos && pos + 2 < text_.size()) {
    pos += 2;
    const std::size_t end = text_.find("\r\n", pos);
    const std::string line = text_.substr(pos, end - pos);
    if (StartsWithNoCase(line, prefix)) {
      const std::size_t b = line.find_first_not_of(" \t", prefix.size());
      if (b == std::string::npos) return std::string();
      return line.substr(b, line.find_last_not_of(" \t") - b + 1);
    }
    pos = end;
  }
  return std::string();
}

// --- HttpClient ---

HttpClient::HttpClient(HttpLimits limits) : limits_(limits) { CookieJar::Instance(); }

HttpClient::~HttpClient() { JoinGuardedWorkers(); }

int HttpClient::EffectiveTimeoutSeconds(int timeoutSeconds) {
  return timeoutSeconds > 0 ? timeoutSeconds : kDefaultTimeoutSeconds;
}

std::string HttpClient::UrlHost(const std::string& url, bool keepPort) {
  const std::size_t start = FindHostStart(url).pos;
  const std::size_t slash = GbkFind(url, "/", start);
  std::string host = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
  if (!keepPort) {
    const std::size_t colon = GbkFind(host, ":");
    if (colon != std::string::npos) host.resize(colon);
  }
  return GbkToLowerAscii(host);
}

std::string HttpClient::UrlPath(const std::string& url) {
  const std::size_t at = GbkFindNoCase(url, UrlHost(url));
  if (at == std::string::npos) return "/";
  const std::size_t slash = GbkFind(url, "/", at);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

std::int32_t HttpClient::UrlPort(const std::string& url) {
  const std::string host = UrlHost(url, true);
  const std::size_t colon = GbkFind(host, ":");
  if (colon == std::string::npos) return FindHostStart(url).https ? 443 : 80;
  return LeadingNumber(host.substr(colon + 1));
}

std::string HttpClient::Guarded(const std::string& url, const std::string& method,
                                const std::string& proxy, const std::string& userName,
                                const std::string& password, const std::string& headers,
                                const std::string& body, bool bytesBody, int timeoutSeconds,
                                std::string* responseHeaders) const {
  auto job = std::make_shared<RequestJob>();
  job->exchange = RequestExchange(BufferPool::Get().Take());
  job->bytesBody = bytesBody;
  job->limits = limits_;
  RequestExchange& ex = job->exchange;
  ex.WriteText("ReqMark");
  for (const std::string* field : {&url, &method, &proxy, &userName, &password, &headers})
    ex.WriteText(*field);
  if (bytesBody)
    ex.WriteBytes(body);
  else
    ex.WriteText(body);

  const bool finished = RunGuarded([job](StopSignal& stop) { RunRequestWorker(*job, stop); },
                                   std::chrono::seconds(EffectiveTimeoutSeconds(timeoutSeconds)));
  std::string headerText, result;
  if (finished) {  // else the worker keeps the exchange, and nothing of it is read
    ex.Rewind();
    const std::string marker = ex.ReadText();
    headerText = ex.ReadText();
    std::string bytes = ex.ReadBytes();
    if (marker == "ReqMark_OK") result = std::move(bytes);
    BufferPool::Get().Give(ex.Release());
  }
  job.reset();
  CookieJar::Instance().ReportChanges();
  if (responseHeaders) *responseHeaders = headerText;
  return result;
}

std::string HttpClient::Request(const std::string& url, const std::string& method,
                                const std::string& proxy, const std::string& userName,
                                const std::string& password, const std::string& headers,
                                const std::string& body, int timeoutSeconds,
                                std::string* responseHeaders) const {
  return Guarded(url, method, proxy, userName, password, headers, body, false, timeoutSeconds,
                 responseHeaders);
}

std::string HttpClient::RequestText(const std::string& url, const std::string& method,
                                    const std::string& proxy, const std::string& userName,
                                    const std::string& password, const std::string& headers,
                                    const std::string& body, int timeoutSeconds,
                                    std::string* responseHeaders) const {
  return TextOf(Request(url, method, proxy, userName, password, headers, body, timeoutSeconds,
                        responseHeaders));
}

// Every request splits its address with the public UrlHost/UrlPath/UrlPort,
// so this is the same request.
std::string HttpClient::RequestUsingUrlParts(const std::string& url, const std::string& method,
                                             const std::string& proxy,
                                             const std::string& userName,
                                             const std::string& password,
                                             const std::string& headers, const std::string& body,
                                             int timeoutSeconds,
                                             std::string* responseHeaders) const {
  return Guarded(url, method, proxy, userName, password, headers, body, false, timeoutSeconds,
                 responseHeaders);
}

std::string HttpClient::RequestBytesBody(const std::string& url, const std::string& method,
                                         const std::string& proxy, const std::string& userName,
                                         const std::string& password, const std::string& headers,
                                         const std::string& body, int timeoutSeconds,
                                         std::string* responseHeaders) const {
  return Guarded(url, method, proxy, userName, password, headers, body, true, timeoutSeconds,
                 responseHeaders);
}

std::string HttpClient::RequestDirect(const std::string& url, const std::string& method,
                                      const std::string& proxy, const std::string& headers,
                                      const std::string& body,
                                      std::string* responseHeaders) const {
  RequestArgs a{url, method, proxy, std::string(), std::string(), headers, body};
  const HttpLimits limits = limits_;  // window events may run anything meanwhile
  Outcome out;
  const bool ok = PerformRequest(a, kDirectAccept, false, limits, nullptr, true, &out);
  CookieJar::Instance().ReportChanges();
  if (!ok) return std::string(255, '\0');
  if (responseHeaders) *responseHeaders = out.headers;
  return out.body;
}

std::string HttpClient::RequestDirectText(const std::string& url, const std::string& method,
                                          const std::string& proxy, const std::string& headers,
                                          const std::string& body,
                                          std::string* responseHeaders) const {
  return TextOf(RequestDirect(url, method, proxy, headers, body, responseHeaders));
}

std::string HttpClient::GetCookie(const std::string& url, const std::string& name) const {
  const std::string cookies =
      CookieJar::Instance().CookieString(UrlHost(url), FindHostStart(url).https);
  if (name.empty()) return cookies;
  // Whole names only: "id" must not find the value of "sid".
  std::size_t pos = 0;
  for (;;) {
    const std::size_t end = cookies.find("; ", pos);
    const std::string pair = cookies.substr(pos, end == std::string::npos ? end : end - pos);
    const std::size_t eq = pair.find('=');
    if (eq != std::string::npos && EqualsNoCase(pair.substr(0, eq), name))
      return pair.substr(eq + 1);
    if (end == std::string::npos) return std::string();
    pos = end + 2;
  }
}

}  // namespace lanshu
