#include "web/HttpClient.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "hooks/Events.h"
#include "web/CookieJar.h"
#include "web/TransferLoop.h"

namespace lanshu {

std::string TransferError(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT: return "connection refused";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return "host not found";
    case CURLE_OPERATION_TIMEDOUT: return "time-out";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR: return "connection reset";
    case CURLE_PARTIAL_FILE: return "body cut short";
    case CURLE_GOT_NOTHING: return "empty reply";
    case CURLE_WRITE_ERROR: return "response too large";
    case CURLE_TOO_MANY_REDIRECTS: return "too many redirects";
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: return "not an HTTP answer";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION: return "TLS failure";
    default: return "network error";
  }
}

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
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t len = size * count;
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

// One request on the transfer loop, with everything its callbacks write into.
struct RequestJob : TransferJob {
  explicit RequestJob(std::size_t maxHeaderBytes)
      : sink{&body, 0}, block(maxHeaderBytes, false, &body) {}
  ~RequestJob() override {
    if (easy) curl_easy_cleanup(easy);  // before the header list it points to
    easy = nullptr;
    curl_slist_free_all(headerList);
  }

  curl_slist* headerList = nullptr;
  std::string postBody;  // libcurl sends it from here, without a copy
  std::string body;
  BodySink sink;
  ResponseHeaderBlock block;
};

// The steps every variant shares before the transfer: verb check, header
// completion and the easy handle's setup. Null when nothing is to be sent.
std::shared_ptr<RequestJob> PrepareRequest(const RequestArgs& a, const char* acceptDefault,
                                           bool withCredentials, const HttpLimits& limits) {
  bool post = false;
  if (a.method.empty() || EqualsNoCase(a.method, "GET"))
    post = false;
  else if (EqualsNoCase(a.method, "POST"))
    post = true;
  else
    return nullptr;  // nothing is sent

  const bool https = FindHostStart(a.url).https;
  const std::string host = HttpClient::UrlHost(a.url);
  const std::string path = HttpClient::UrlPath(a.url);
  std::int32_t port = HttpClient::UrlPort(a.url);
  if (port == 0) port = https ? 443 : 80;  // no number means the scheme's port
  if (host.empty() || port < 0 || port > 65535) return nullptr;

  auto job = std::make_shared<RequestJob>(limits.maxHeaderBytes);
  CURL* easy = job->easy;
  if (!easy) return nullptr;

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
  job->headerList = list;

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
  // Nothing is reused between requests: no connection another request left
  // (redirects of this one still go over its own), no name looked up before.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
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
    job->postBody = a.body;
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(job->postBody.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, job->postBody.data());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  job->sink.cap = limits.maxBodyBytes;
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &job->sink);
  job->block.Attach(easy);
  return job;
}


// Runs a prepared request on the loop until it ends, the deadline passes or
// the wait is stopped, then stores the final response's cookies. False on any
// failure; `detail` learns the status and what went wrong.
bool PerformRequest(const std::shared_ptr<RequestJob>& job, Clock::time_point deadline,
                    bool pumpEvents, const std::function<bool()>& stopped, Outcome* out,
                    HttpResult* detail) {
  if (!job) {
    detail->error = "request not sent";
    return false;
  }
  const WaitEnd end = RunTransfers({job}, deadline, stopped);
  if (end != WaitEnd::kDone) {  // given up: nothing of it is read
    detail->error = end == WaitEnd::kTimedOut ? "time-out" : "stopped";
    return false;
  }
  long status = 0;
  curl_easy_getinfo(job->easy, CURLINFO_RESPONSE_CODE, &status);
  detail->status = static_cast<int>(status);
  if (job->result != CURLE_OK || !job->block.Complete()) {
    detail->error = TransferError(job->result == CURLE_OK ? CURLE_GOT_NOTHING : job->result);
    return false;
  }
  StoreResponseCookies(job->easy, job->block.Text(), pumpEvents);
  out->headers = job->block.Text();
  out->body = std::move(job->body);
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
                                std::string* responseHeaders, const std::function<bool()>& stopped,
                                HttpResult* result) const {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(EffectiveTimeoutSeconds(timeoutSeconds));
  // The parameters travel as typed fields: a text field ends at its first
  // zero byte, a bytes body is taken whole.
  RequestExchange ex;
  ex.WriteText("ReqMark");
  for (const std::string* field : {&url, &method, &proxy, &userName, &password, &headers})
    ex.WriteText(*field);
  if (bytesBody)
    ex.WriteBytes(body);
  else
    ex.WriteText(body);
  ex.Rewind();
  Outcome out;
  HttpResult detail;
  if (ex.ReadText() == "ReqMark") {
    RequestArgs a;
    for (std::string* field : {&a.url, &a.method, &a.proxy, &a.userName, &a.password, &a.headers})
      *field = ex.ReadText();
    a.body = bytesBody ? ex.ReadBytes() : ex.ReadText();
    ex.Clear();
    if (!PerformRequest(PrepareRequest(a, kGuardedAccept, true, limits_), deadline, false, stopped,
                        &out, &detail))
      out = Outcome();
  }
  CookieJar::Instance().ReportChanges();
  if (responseHeaders) *responseHeaders = out.headers;
  if (result) {
    result->headers = out.headers;
    result->status = detail.status;
    result->error = detail.error;
  }
  return std::move(out.body);
}

std::string HttpClient::Request(const std::string& url, const std::string& method,
                                const std::string& proxy, const std::string& userName,
                                const std::string& password, const std::string& headers,
                                const std::string& body, int timeoutSeconds,
                                std::string* responseHeaders) const {
  return Guarded(url, method, proxy, userName, password, headers, body, false, timeoutSeconds,
                 responseHeaders, nullptr, nullptr);
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
                 responseHeaders, nullptr, nullptr);
}

std::string HttpClient::RequestBytesBody(const std::string& url, const std::string& method,
                                         const std::string& proxy, const std::string& userName,
                                         const std::string& password, const std::string& headers,
                                         const std::string& body, int timeoutSeconds,
                                         std::string* responseHeaders) const {
  return Guarded(url, method, proxy, userName, password, headers, body, true, timeoutSeconds,
                 responseHeaders, nullptr, nullptr);
}

std::string HttpClient::RequestDirect(const std::string& url, const std::string& method,
                                      const std::string& proxy, const std::string& headers,
                                      const std::string& body,
                                      std::string* responseHeaders) const {
  RequestArgs a{url, method, proxy, std::string(), std::string(), headers, body};
  const HttpLimits limits = limits_;  // window events may run anything meanwhile
  ProcessPendingEvents();  // events come first, as before every read
  Outcome out;
  HttpResult detail;
  const bool ok = PerformRequest(PrepareRequest(a, kDirectAccept, false, limits),
                                 Clock::time_point::max(), true, nullptr, &out, &detail);
  CookieJar::Instance().ReportChanges();
  if (!ok) return std::string(255, '\0');
  if (responseHeaders) *responseHeaders = out.headers;
  return out.body;
}

HttpResult HttpClient::Get(const std::string& url, int timeoutSeconds,
                           const std::function<bool()>& stopped) const {
  HttpResult result;
  const std::string none;
  result.body = Guarded(url, none, none, none, none, none, none, false, timeoutSeconds, nullptr,
                        stopped, &result);
  return result;
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
