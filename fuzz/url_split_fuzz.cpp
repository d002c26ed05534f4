// Addresses through the splitting operations and Set-Cookie texts through the
// cookie parser and the shared store: no crash, and the promises they make.
// Input: an address, then optionally "\n" and the text after "Set-Cookie:".
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "web/CookieJar.h"
#include "web/HttpClient.h"

using namespace lanshu;

namespace {

bool Clean(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nl = input.find('\n');
  const std::string url = input.substr(0, nl);

  const std::string host = HttpClient::UrlHost(url);
  const std::string hostPort = HttpClient::UrlHost(url, true);
  const std::string path = HttpClient::UrlPath(url);
  const std::int32_t port = HttpClient::UrlPort(url);
  if (hostPort.compare(0, host.size(), host) != 0) abort();
  if (path.empty() || path[0] != '/') abort();
  if (hostPort == host && port != 80 && port != 443) abort();
  if (GbkToLowerAscii(hostPort) != hostPort) abort();

  if (nl == std::string::npos) return 0;
  const std::string text = input.substr(nl + 1);
  const std::string from = host.empty() ? "h.example" : host;
  Cookie c;
  bool pathGiven = false;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (!ParseSetCookie(text, from, true, now, &c, &pathGiven)) return 0;
  if (c.name.empty() || c.domain.empty() || c.path.empty() || c.path[0] != '/') abort();
  if (!Clean(c.name) || !Clean(c.value) || !Clean(c.domain) || !Clean(c.path)) abort();
  if (!pathGiven && c.path != "/") abort();
  const std::string dir = DefaultCookiePath(path);
  if (dir.empty() || dir.front() != '/' || dir.back() != '/') abort();

  // What the parser accepts, the store takes and gives back unchanged.
  CookieJar& jar = CookieJar::Instance();
  jar.Clear();
  if (!jar.Import(c)) abort();
  const bool expiring = c.expires != 0 && c.expires <= now + 2;
  const auto listed = jar.List();
  if (!expiring && (listed.size() != 1 || listed[0] != c)) abort();
  jar.Clear();
  return 0;
}
