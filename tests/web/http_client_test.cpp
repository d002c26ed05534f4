#include "web/HttpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "hooks/Events.h"
#include "web/CookieJar.h"
#include "web/TestServers.h"
#include "web/TransferLoop.h"

namespace lanshu {
namespace {

using testing::Answer;
using testing::ArmReset;
using testing::HttpResponse;
using testing::PeerClosed;
using testing::RawServer;
using testing::RequestHeader;
using testing::RequestTarget;
using testing::WaitUntil;
using testing::WriteAll;
using Clock = std::chrono::steady_clock;

const std::string kAgentLine =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
const std::string kAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
const std::string kDirectAccept =
    "Accept: image/gif, image/jpeg, image/pjpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/msword, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/xaml+xml, application/x-ms-xbap, application/x-ms-application, "
    "application/vnd.ms-xpsdocument, */*\r\n";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string HostLine(const RawServer& s) {
  return "Host: 127.0.0.1:" + std::to_string(s.Port()) + "\r\n";
}

// Pairs of a "a=1; b=2" cookie text.
std::set<std::string> Pairs(const std::string& cookies) {
  std::set<std::string> pairs;
  std::size_t pos = 0;
  while (pos < cookies.size()) {
    std::size_t end = cookies.find("; ", pos);
    if (end == std::string::npos) end = cookies.size();
    pairs.insert(cookies.substr(pos, end - pos));
    pos = end + 2;
  }
  return pairs;
}

int ClosedPort() {
  RawServer s([](int, RawServer&) {});
  const int port = s.Port();
  s.Stop();
  return port;
}


class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CookieJar::Instance().Clear();
    SetEventPump(nullptr);
  }
  void TearDown() override { SetEventPump(nullptr); }
  HttpClient client;
};

TEST(UrlSplitTest, HostPathAndPort) {
  const std::string url = "http://WWW.Example.COM:8080/a/B?x=1&y=2";
  EXPECT_EQ(HttpClient::UrlHost(url), "www.example.com");
  EXPECT_EQ(HttpClient::UrlHost(url, true), "www.example.com:8080");
  EXPECT_EQ(HttpClient::UrlPort(url), 8080);
  EXPECT_EQ(HttpClient::UrlPath(url), "/a/B?x=1&y=2");

  EXPECT_EQ(HttpClient::UrlPath("http://Host.Example"), "/");
  EXPECT_EQ(HttpClient::UrlPort("http://Host.Example"), 80);
  EXPECT_EQ(HttpClient::UrlHost("http://Host.Example"), "host.example");

  // Without a scheme the address is split from its first character.
  EXPECT_EQ(HttpClient::UrlHost("host.example/x"), "host.example");
  EXPECT_EQ(HttpClient::UrlPath("host.example/x"), "/x");
  EXPECT_EQ(HttpClient::UrlPort("host.example/x"), 80);
  // "http://" is found anywhere, case-sensitively.
  EXPECT_EQ(HttpClient::UrlHost("a.example/?u=http://b.example/x"), "b.example");
  EXPECT_EQ(HttpClient::UrlHost("HTTP://c.example/x"), "http");
  EXPECT_EQ(HttpClient::UrlHost("HTTP://c.example/x", true), "http:");

  // The port text is read as a number, its fraction dropped.
  EXPECT_EQ(HttpClient::UrlPort("http://h.example:81.9/"), 81);
  EXPECT_EQ(HttpClient::UrlPort("http://h.example:x/"), 0);
  EXPECT_EQ(HttpClient::UrlPort("http://h.example:99999999999/"), 0);
}

TEST(UrlSplitTest, HttpsIsSkippedLikeHttp) {
  EXPECT_EQ(HttpClient::UrlHost("https://Secure.Example/p?q=1"), "secure.example");
  EXPECT_EQ(HttpClient::UrlPath("https://Secure.Example/p?q=1"), "/p?q=1");
  EXPECT_EQ(HttpClient::UrlPort("https://Secure.Example/p?q=1"), 443);
  EXPECT_EQ(HttpClient::UrlPort("https://secure.example:8443"), 8443);
  EXPECT_EQ(HttpClient::UrlPath("https://secure.example:8443"), "/");
  // The earlier of the two markers counts.
  EXPECT_EQ(HttpClient::UrlHost("https://a.example/?next=http://b.example/"), "a.example");
  EXPECT_EQ(HttpClient::UrlPort("http://a.example/?next=https://b.example/"), 80);
}

TEST(UrlSplitTest, DefaultTimeOut) {
  EXPECT_EQ(HttpClient::EffectiveTimeoutSeconds(0), 90);
  EXPECT_EQ(HttpClient::EffectiveTimeoutSeconds(-3), 90);
  EXPECT_EQ(HttpClient::EffectiveTimeoutSeconds(7), 7);
}

TEST(RequestExchangeTest, TypedFieldsInSequence) {
  RequestExchange ex;
  ex.WriteText("ReqMark");
  ex.WriteText(std::string("a\0b", 3));  // a text ends at its first zero byte
  ex.WriteBytes(std::string("x\0y", 3));
  EXPECT_EQ(ex.Size(), 8u + 2u + 4u + 3u);
  ex.Rewind();
  EXPECT_EQ(ex.ReadText(), "ReqMark");
  EXPECT_EQ(ex.ReadText(), "a");
  EXPECT_EQ(ex.ReadBytes(), std::string("x\0y", 3));
  EXPECT_EQ(ex.ReadText(), "");
  EXPECT_EQ(ex.ReadBytes(), "");
  ex.Clear();
  EXPECT_EQ(ex.Size(), 0u);
  ex.WriteText("abcdef");
  ex.Rewind();
  EXPECT_EQ(ex.ReadBytes(), std::string("ef\0", 3));  // a length beyond the end: what is there
}

TEST_F(HttpClientTest, GetSendsDefaultHeadersInOrderAndReturnsRawBlock) {
  RawServer server(Answer([](const std::string&) {
    return std::string("HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 5\r\n\r\nhello");
  }));
  const std::string url = server.Url("/p?q=1");
  std::string headers = "unset";
  EXPECT_EQ(client.Request(url, "", "", "", "", "", "", 5, &headers), "hello");
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 5\r\n\r\n");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /p?q=1 HTTP/1.1\r\n" + HostLine(server) + kAgentLine +
                                      kAccept + "Referer: " + url +
                                      "\r\nAccept-Language: zh-cn\r\n\r\n");
}

TEST_F(HttpClientTest, CallerHeadersSuppressOnlyTheirDefaults) {
  RawServer server(Answer([](const std::string&) { return HttpResponse("200 OK", "", "x"); }));
  const std::string url = server.Url("/h");
  EXPECT_EQ(client.Request(url, "GET", "", "", "", "accept: text/html\r\nX-Mine: 1\r\n"), "x");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /h HTTP/1.1\r\n" + HostLine(server) + kAgentLine +
                                      "accept: text/html\r\nX-Mine: 1\r\nReferer: " + url +
                                      "\r\nAccept-Language: zh-cn\r\n\r\n");
}

TEST_F(HttpClientTest, PostAddsContentTypeThenLength) {
  RawServer server(Answer([](const std::string&) { return HttpResponse("200 OK", "", "ok"); }));
  const std::string url = server.Url("/form");
  const std::string common = HostLine(server) + kAgentLine + kAccept + "Referer: " + url +
                             "\r\nAccept-Language: zh-cn\r\n";
  EXPECT_EQ(client.Request(url, "post", "", "", "", "", "a=1"), "ok");
  // A text body ends at its first zero byte; a bytes body is sent whole.
  EXPECT_EQ(client.Request(url, "POST", "", "", "", "", std::string("z\0z", 3)), "ok");
  EXPECT_EQ(client.RequestBytesBody(url, "Post", "", "", "", "", std::string("z\0z", 3)), "ok");
  EXPECT_EQ(client.Request(url, "POST"), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], "POST /form HTTP/1.1\r\n" + common +
                             "Content-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 3\r\n\r\na=1");
  EXPECT_EQ(requests[1], "POST /form HTTP/1.1\r\n" + common +
                             "Content-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 1\r\n\r\nz");
  EXPECT_EQ(requests[2], "POST /form HTTP/1.1\r\n" + common +
                             "Content-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 3\r\n\r\n" + std::string("z\0z", 3));
  // An empty POST carries no content type.
  EXPECT_EQ(requests[3], "POST /form HTTP/1.1\r\n" + common + "Content-Length: 0\r\n\r\n");
}

TEST_F(HttpClientTest, UnsupportedVerbSendsNothing) {
  RawServer server(Answer([](const std::string&) { return HttpResponse("200 OK", "", "x"); }));
  std::string headers = "unset";
  EXPECT_EQ(client.Request(server.Url("/"), "PUT", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");
  std::string direct = "unset";
  EXPECT_EQ(client.RequestDirect(server.Url("/"), "HEAD", "", "", "", &direct),
            std::string(255, '\0'));
  EXPECT_EQ(direct, "unset");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server.Connections(), 0);
}

TEST_F(HttpClientTest, TextVariantsCutAtZeroByte) {
  RawServer server(Answer([](const std::string&) {
    return HttpResponse("200 OK", "", std::string("ab\0cd", 5));
  }));
  EXPECT_EQ(client.Request(server.Url("/")), std::string("ab\0cd", 5));
  EXPECT_EQ(client.RequestText(server.Url("/")), "ab");
  EXPECT_EQ(client.RequestUsingUrlParts(server.Url("/")), std::string("ab\0cd", 5));
  EXPECT_EQ(client.RequestDirectText(server.Url("/")), "ab");
}

TEST_F(HttpClientTest, DirectRequestPumpsEventsAndUsesItsOwnAccept) {
  RawServer server(Answer([](const std::string&) { return HttpResponse("200 OK", "", "direct"); }));
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  const std::string url = server.Url("/d");
  std::string headers;
  EXPECT_EQ(client.RequestDirect(url, "", "", "", "", &headers), "direct");
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\n");
  EXPECT_GT(pumps, 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /d HTTP/1.1\r\n" + HostLine(server) + kAgentLine +
                                      kDirectAccept + "Referer: " + url +
                                      "\r\nAccept-Language: zh-cn\r\n\r\n");

  // A failure gives 255 zero bytes and leaves the header text alone.
  const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  headers = "unset";
  EXPECT_EQ(client.RequestDirect(closed, "", "", "", "", &headers), std::string(255, '\0'));
  EXPECT_EQ(headers, "unset");
  EXPECT_EQ(client.RequestDirectText(closed), "");
}

TEST_F(HttpClientTest, FailuresGiveEmptyBodyAndHeaders) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  std::string headers = "unset";
  EXPECT_EQ(client.Request(closed, "", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");

  // Not HTTP at all.
  RawServer garbage([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "garbage\r\n\r\nhello");
  });
  headers = "unset";
  EXPECT_EQ(client.Request(garbage.Url("/"), "", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");

  // The connection is reset in the middle of the body: nothing of it counts.
  RawServer reset([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'b'));
    s.Pause(100);
    ArmReset(fd);
  });
  headers = "unset";
  EXPECT_EQ(client.Request(reset.Url("/"), "", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");
}

TEST_F(HttpClientTest, TimeOutCountsFromTheStartAndEndsTheTransfer) {
  std::atomic<bool> sawClose{false};
  RawServer silent([&](int fd, RawServer& s) {
    s.ReadRequest(fd);
    if (PeerClosed(fd, 5000)) sawClose = true;
  });
  // A pump that runs at every chance does not extend the wait.
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  std::string headers = "unset";
  Clock::time_point start = Clock::now();
  EXPECT_EQ(client.Request(silent.Url("/"), "", "", "", "", "", "", 1, &headers), "");
  double took = SecondsSince(start);
  EXPECT_EQ(headers, "");
  EXPECT_GE(took, 0.95);
  EXPECT_LT(took, 3.0);
  EXPECT_GT(pumps, 20);
  // The transfer given up closes its connection promptly and leaves the loop.
  EXPECT_TRUE(WaitUntil([&] { return sawClose.load(); }, 2000));
  EXPECT_TRUE(WaitUntil([] { return TransfersInFlight() == 0; }, 2000));

  // Data that keeps trickling in does not extend it either.
  RawServer drip([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
    for (int i = 0; i < 100 && s.Pause(50); ++i)
      if (!WriteAll(fd, "x")) break;
  });
  SetEventPump(nullptr);
  start = Clock::now();
  EXPECT_EQ(client.Request(drip.Url("/"), "", "", "", "", "", "", 1, &headers), "");
  took = SecondsSince(start);
  EXPECT_GE(took, 0.95);
  EXPECT_LT(took, 3.0);
}

TEST_F(HttpClientTest, CancelledWaitsGiveUpAtOnce) {
  RawServer silent([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    PeerClosed(fd, 5000);
  });
  // The window closes while the request waits (a handler run by the pump).
  int pumps = 0;
  SetEventPump([&] {
    if (++pumps == 10) CancelTransferWaits();
  });
  std::string headers = "unset";
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(client.Request(silent.Url("/"), "", "", "", "", "", "", 30, &headers), "");
  EXPECT_EQ(headers, "");
  EXPECT_LT(SecondsSince(start), 10.0);  // not the 30 s time-out
  SetEventPump(nullptr);
  EXPECT_TRUE(WaitUntil([] { return TransfersInFlight() == 0; }, 5000));
}

TEST_F(HttpClientTest, SlowDripWithinTheTimeOutArrivesWhole) {
  RawServer drip([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
    for (int i = 0; i < 10 && s.Pause(30); ++i) WriteAll(fd, std::string(1, char('0' + i)));
  });
  EXPECT_EQ(client.Request(drip.Url("/"), "", "", "", "", "", "", 5), "0123456789");
}

TEST_F(HttpClientTest, HeaderBlockIsWholeUpToItsCap) {
  // Far beyond the old 1,024 bytes: returned whole, its cookies stored.
  std::string lines;
  for (int i = 0; i < 40; ++i) lines += "X-Pad-" + std::to_string(i) + ": " + std::string(80, 'p') + "\r\n";
  lines += "Set-Cookie: big=1\r\n";
  RawServer server(Answer([&](const std::string&) { return HttpResponse("200 OK", lines, "b"); }));
  std::string headers;
  EXPECT_EQ(client.Request(server.Url("/"), "", "", "", "", "", "", 5, &headers), "b");
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\n" + lines +
                         "Content-Length: 1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(client.GetCookie(server.Url("/"), "big"), "1");

  // A megabyte of header lines fails cleanly.
  RawServer huge([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    std::string block = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10000; ++i) block += "X-Pad-" + std::to_string(i) + ": " + std::string(90, 'h') + "\r\n";
    WriteAll(fd, block + "Content-Length: 2\r\n\r\nok");
  });
  headers = "unset";
  EXPECT_EQ(client.Request(huge.Url("/"), "", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");
}

TEST_F(HttpClientTest, BodyBeyondTheCapFails) {
  const HttpClient small(HttpLimits{1000, std::size_t{256} << 10});
  RawServer sized(Answer([](const std::string& request) {
    const std::size_t n = RequestTarget(request) == "/1000" ? 1000 : 1001;
    return HttpResponse("200 OK", "", std::string(n, 'x'));
  }));
  EXPECT_EQ(small.Request(sized.Url("/1000")).size(), 1000u);
  EXPECT_EQ(small.Request(sized.Url("/1001")), "");

  // An endless body ends at the cap, not when memory runs out.
  std::atomic<bool> sawClose{false};
  RawServer endless([&](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "400\r\n" + std::string(1024, 'e') + "\r\n";
    while (!s.Stopping() && WriteAll(fd, chunk)) {
    }
    sawClose = true;
  });
  const HttpClient capped(HttpLimits{std::size_t{1} << 20, std::size_t{256} << 10});
  std::string headers = "unset";
  EXPECT_EQ(capped.Request(endless.Url("/"), "", "", "", "", "", "", 20, &headers), "");
  EXPECT_EQ(headers, "");
  EXPECT_TRUE(WaitUntil([&] { return sawClose.load(); }, 2000));
}

TEST_F(HttpClientTest, RedirectsAreFollowedToTheFinalResponse) {
  RawServer server(Answer([](const std::string& request) {
    const std::string target = RequestTarget(request);
    if (target == "/r1") return HttpResponse("302 Found", "Location: /r2\r\n", "moved");
    if (target == "/r2") return HttpResponse("301 Moved Permanently", "Location: /final\r\n", "");
    if (target == "/final") return HttpResponse("200 OK", "X-Final: yes\r\n", "final");
    return HttpResponse("302 Found", "Location: /loop\r\n", "");
  }));
  std::string headers;
  EXPECT_EQ(client.Request(server.Url("/r1"), "POST", "", "", "", "", "abc", 5, &headers),
            "final");
  EXPECT_EQ(headers,
            "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  // The POST became a GET on the way, without a body or its length.
  EXPECT_EQ(requests[2].substr(0, 16), "GET /final HTTP/");
  EXPECT_EQ(requests[2].find("Content-Length"), std::string::npos);

  headers = "unset";
  EXPECT_EQ(client.Request(server.Url("/loop"), "", "", "", "", "", "", 5, &headers), "");
  EXPECT_EQ(headers, "");
  EXPECT_EQ(server.Requests().size(), 3u + 11u);  // the first request and ten redirects
}

TEST_F(HttpClientTest, HundredCookiesAreStoredAndSentBack) {
  RawServer server(Answer([](const std::string& request) {
    if (RequestTarget(request) != "/a/b/set") return HttpResponse("200 OK", "", "page");
    std::string lines;
    for (int i = 0; i < 100; ++i)
      lines += "Set-Cookie: c" + std::to_string(i) + "=v" + std::to_string(i) + "\r\n";
    return HttpResponse("200 OK", lines, "set");
  }));
  EXPECT_EQ(client.Request(server.Url("/a/b/set")), "set");
  const std::set<std::string> stored = Pairs(client.GetCookie(server.Url("/")));
  EXPECT_EQ(stored.size(), 100u);
  EXPECT_TRUE(stored.count("c0=v0") && stored.count("c99=v99"));
  EXPECT_EQ(client.GetCookie(server.Url("/"), "c57"), "v57");
  EXPECT_EQ(client.GetCookie(server.Url("/"), "c100"), "");
  // A cookie without a Path belongs to the whole host, and is sent once.
  EXPECT_EQ(client.Request(server.Url("/elsewhere/page")), "page");
  EXPECT_EQ(Pairs(RequestHeader(server.Requests().back(), "Cookie")), stored);
  EXPECT_EQ(client.Request(server.Url("/a/b/again")), "page");
  const std::string sent = RequestHeader(server.Requests().back(), "Cookie");
  EXPECT_EQ(Pairs(sent), stored);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '='), 100);
}

TEST_F(HttpClientTest, CookieLookupMatchesWholeNames) {
  RawServer server(Answer([](const std::string&) {
    return HttpResponse("200 OK",
                        "Set-Cookie: sid=1\r\nset-cookie: id=2; Path=/; HttpOnly\r\n"
                        "X-Set-Cookie: fake=3\r\n",
                        "");
  }));
  client.Request(server.Url("/"));
  EXPECT_EQ(client.GetCookie(server.Url("/x"), "id"), "2");
  EXPECT_EQ(client.GetCookie(server.Url("/x"), "ID"), "2");
  EXPECT_EQ(client.GetCookie(server.Url("/x"), "sid"), "1");
  EXPECT_EQ(client.GetCookie(server.Url("/x"), "fake"), "");
  EXPECT_EQ(Pairs(client.GetCookie(server.Url("/"))), (std::set<std::string>{"sid=1", "id=2"}));
  EXPECT_EQ(client.GetCookie("http://other.example/", ""), "");
}

TEST_F(HttpClientTest, ProxyAndCredentials) {
  RawServer proxy(Answer([](const std::string&) { return HttpResponse("200 OK", "", "via proxy"); }));
  const std::string proxyText = "127.0.0.1:" + std::to_string(proxy.Port());
  EXPECT_EQ(client.Request("http://example.invalid/x?y=1", "", proxyText), "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string line = "GET http://example.invalid/x?y=1 HTTP/1.1\r\n";
  EXPECT_EQ(proxy.Requests()[0].substr(0, line.size()), line);
  EXPECT_EQ(RequestHeader(proxy.Requests()[0], "Host"), "example.invalid");

  RawServer guarded(Answer([](const std::string& request) {
    const std::string auth = RequestHeader(request, "Authorization");
    if (auth.empty())
      return HttpResponse("401 Unauthorized", "WWW-Authenticate: Basic realm=\"t\"\r\n", "denied");
    return HttpResponse("200 OK", "", auth);
  }));
  // A proxy of spaces means a direct connection; so does a blank user name.
  EXPECT_EQ(client.Request(guarded.Url("/"), "", "   ", "u", "p"), "Basic dTpw");
  EXPECT_EQ(client.Request(guarded.Url("/"), "", "", "  ", "p"), "denied");
  EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST_F(HttpClientTest, HttpsAddressesSpeakTls) {
  std::atomic<int> firstByte{-1};
  RawServer server([&](int fd, RawServer&) {
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 3000) > 0 && ::recv(fd, &c, 1, 0) == 1)
      firstByte = static_cast<unsigned char>(c);
  });
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
  EXPECT_EQ(client.Request(url, "", "", "", "", "", "", 5), "");
  EXPECT_EQ(firstByte.load(), 0x16);  // a TLS handshake record
}

TEST_F(HttpClientTest, ConnectionsLastOneRequest) {
  // A server that keeps its connections open for further requests.
  std::atomic<int> ended{0};
  RawServer keepAlive([&](int fd, RawServer& s) {
    for (;;) {
      const std::string request = s.ReadRequest(fd);
      if (request.empty()) break;
      WriteAll(fd, RequestTarget(request) == "/r"
                       ? "HTTP/1.1 302 Found\r\nLocation: /p\r\nContent-Length: 0\r\n\r\n"
                       : "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nka");
    }
    ++ended;
  });
  // The redirect goes over the same connection; the connection is closed
  // when the request ends, and the next request opens its own.
  EXPECT_EQ(client.Request(keepAlive.Url("/r"), "", "", "", "", "", "", 5), "ka");
  EXPECT_TRUE(WaitUntil([&] { return ended.load() == 1; }, 2000));
  EXPECT_EQ(client.RequestDirect(keepAlive.Url("/p")), "ka");
  EXPECT_TRUE(WaitUntil([&] { return ended.load() == 2; }, 2000));
  EXPECT_EQ(client.Request(keepAlive.Url("/p"), "", "", "", "", "", "", 5), "ka");
  EXPECT_TRUE(WaitUntil([&] { return ended.load() == 3; }, 2000));
  EXPECT_EQ(keepAlive.Connections(), 3);
  EXPECT_EQ(keepAlive.Requests().size(), 4u);
}

TEST_F(HttpClientTest, GetTellsWhatWentWrong) {
  RawServer server([](int fd, RawServer& s) {
    const std::string target = RequestTarget(s.ReadRequest(fd));
    if (target == "/500") WriteAll(fd, HttpResponse("500 Internal Server Error", "", "oops"));
    if (target == "/cut")
      WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
    if (target == "/silent") PeerClosed(fd, 5000);
  });
  HttpResult r = client.Get(server.Url("/500"), 5);
  EXPECT_TRUE(r.Ok());  // a whole answer, whatever its status
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "oops");
  EXPECT_EQ(r.headers.substr(0, 13), "HTTP/1.1 500 ");

  r = client.Get(server.Url("/cut"), 5);
  EXPECT_EQ(r.error, "body cut short");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(client.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", 5).error,
            "connection refused");
  EXPECT_EQ(client.Get(server.Url("/silent"), 1).error, "time-out");

  // Stop ends a request in flight at once, long before its time-out.
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  const Clock::time_point start = Clock::now();
  r = client.Get(server.Url("/silent"), 30, [&] { return pumps >= 5; });
  EXPECT_EQ(r.error, "stopped");
  EXPECT_EQ(r.body, "");
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_TRUE(WaitUntil([] { return TransfersInFlight() == 0; }, 2000));
}

TEST_F(HttpClientTest, ConcurrentTransfersShareTheLoopAndGiveUpAlone) {
  // Eight slow answers in flight together take about one answer's time.
  RawServer slow([](int fd, RawServer& s) {
    const std::string target = RequestTarget(s.ReadRequest(fd));
    s.Pause(300);
    WriteAll(fd, HttpResponse("200 OK", "", target));
  });
  auto silentClosed = std::make_shared<std::atomic<bool>>(false);
  RawServer silent([silentClosed](int fd, RawServer& s) {
    s.ReadRequest(fd);
    if (PeerClosed(fd, 5000)) *silentClosed = true;
  });
  std::vector<std::shared_ptr<TransferJob>> jobs;
  std::vector<std::string> bodies(8);
  const auto append = [](char* d, std::size_t n, std::size_t m, void* out) {
    static_cast<std::string*>(out)->append(d, n * m);
    return n * m;
  };
  for (int i = 0; i < 8; ++i) {
    auto job = std::make_shared<TransferJob>();
    const std::string url = slow.Url("/" + std::to_string(i));
    curl_easy_setopt(job->easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(job->easy, CURLOPT_WRITEFUNCTION,
                     static_cast<std::size_t (*)(char*, std::size_t, std::size_t, void*)>(append));
    curl_easy_setopt(job->easy, CURLOPT_WRITEDATA, &bodies[i]);
    jobs.push_back(job);
  }
  auto stuck = std::make_shared<TransferJob>();
  const std::string stuckUrl = silent.Url("/");
  curl_easy_setopt(stuck->easy, CURLOPT_URL, stuckUrl.c_str());
  SubmitTransfers({stuck});
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(RunTransfers(jobs, Clock::now() + std::chrono::seconds(5)), WaitEnd::kDone);
  EXPECT_LT(SecondsSince(start), 1.5);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(jobs[i]->result, CURLE_OK);
    EXPECT_EQ(bodies[i], "/" + std::to_string(i));
  }
  // The silent one is still waiting, untouched by the others' ends; given up,
  // it leaves the loop at once and its connection is closed.
  EXPECT_FALSE(stuck->ended.load());
  EXPECT_EQ(TransfersInFlight(), 1u);
  GiveUpTransfer(stuck);
  EXPECT_TRUE(WaitUntil([&] { return stuck->ended.load(); }, 1000));
  EXPECT_EQ(stuck->result, CURLE_ABORTED_BY_CALLBACK);
  EXPECT_EQ(TransfersInFlight(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return silentClosed->load(); }, 2000));
}

TEST_F(HttpClientTest, RequestStartedFromEventsDuringAWait) {
  RawServer slow([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    s.Pause(200);
    WriteAll(fd, HttpResponse("200 OK", "", "outer"));
  });
  RawServer quick(Answer([](const std::string&) { return HttpResponse("200 OK", "", "inner"); }));
  bool started = false;
  std::string inner;
  SetEventPump([&] {
    if (started) return;
    started = true;
    inner = client.Request(quick.Url("/"));
  });
  EXPECT_EQ(client.Request(slow.Url("/"), "", "", "", "", "", "", 5), "outer");
  EXPECT_EQ(inner, "inner");
}

}  // namespace
}  // namespace lanshu
