#include "web/RedirectResolver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "hooks/Events.h"
#include "web/CookieJar.h"
#include "web/TestServers.h"
#include "web/TransferLoop.h"

namespace lanshu {
namespace {

using testing::Answer;
using testing::HttpResponse;
using testing::PeerClosed;
using testing::RawServer;
using testing::RequestTarget;
using testing::WaitUntil;
using testing::WriteAll;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class ResolverTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEventPump(nullptr); }
  void TearDown() override { SetEventPump(nullptr); }
};

TEST_F(ResolverTest, LocationIsReturnedUnchanged) {
  RawServer server(Answer([](const std::string& request) {
    const std::string target = RequestTarget(request);
    if (target == "/link?url=abs")
      return HttpResponse("302 Found", "Location: http://target.example/page?a=1\r\n", "moved");
    if (target == "/link?url=rel")
      return HttpResponse("301 Moved Permanently", "location:   /next?x=1  \r\n", "");
    return HttpResponse("200 OK", "", "no redirect");
  }));
  // The shared store holds a cookie for the host; it is not sent.
  Cookie c;
  c.domain = "127.0.0.1";
  c.name = "k";
  c.value = "v";
  ASSERT_TRUE(CookieJar::Instance().Import(c));

  EXPECT_EQ(ResolveRedirectLink(server.Url("/link?url=abs")), "http://target.example/page?a=1");
  EXPECT_EQ(ResolveRedirectLink(server.Url("/link?url=rel")), "/next?x=1");
  EXPECT_EQ(ResolveRedirectLink(server.Url("/page")), "");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);  // nothing followed
  EXPECT_EQ(requests[0],
            "GET /link?url=abs HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)\r\n"
                "Accept-Language: zh-cn\r\nConnection: Keep-Alive\r\n"
                "Accept: image/gif, image/x-xbitmap, image/jpeg, imagepeg, "
                "application/x-shockwave-flash, application/x-silverlight, */*\r\n\r\n");
}

TEST_F(ResolverTest, TheBodyIsNotWaitedFor) {
  RawServer server([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    WriteAll(fd, "HTTP/1.1 302 Found\r\nLocation: /there\r\nContent-Length: 1000\r\n\r\n");
    s.Pause(3000);
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(ResolveRedirectLink(server.Url("/link?url=x")), "/there");
  EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(ResolverTest, FailuresGiveTheEmptyText) {
  RawServer closed([](int, RawServer&) {});
  const std::string refused = closed.Url("/link");
  closed.Stop();
  EXPECT_EQ(ResolveRedirectLink(refused), "");
  EXPECT_EQ(ResolveRedirectLink("ftp://127.0.0.1/link"), "");
  EXPECT_EQ(ResolveRedirectLink("127.0.0.1/link"), "");

  // A server that never answers: given up after the 5 s receive limit, with
  // window events processed meanwhile.
  RawServer silent([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    PeerClosed(fd, 15000);
  });
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(ResolveRedirectLink(silent.Url("/link?url=x")), "");
  const double took = SecondsSince(start);
  EXPECT_GE(took, 4.9);
  EXPECT_LT(took, 8.0);
  EXPECT_GT(pumps, 100);
}

TEST(AbsoluteLocationTest, RelativeLocationsTakeTheLinksAddress) {
  const std::string link = "http://se.test:8080/link?url=abc";
  EXPECT_EQ(AbsoluteLocation(link, "/article/19.html"), "http://se.test:8080/article/19.html");
  EXPECT_EQ(AbsoluteLocation(link, "page.html?x=1"), "http://se.test:8080/page.html?x=1");
  EXPECT_EQ(AbsoluteLocation("https://se.test/a/b/link", "../c"), "https://se.test/a/c");
  EXPECT_EQ(AbsoluteLocation(link, "//cdn.test/x"), "http://cdn.test/x");
  EXPECT_EQ(AbsoluteLocation(link, "HTTP://Other.test/p"), "HTTP://Other.test/p");  // absolute: as sent
  EXPECT_EQ(AbsoluteLocation(link, ""), "");
}

TEST_F(ResolverTest, LinksResolveTogetherInTheirOwnOrder) {
  // Answers after 100 ms with a Location naming the link; counts how many
  // requests it holds at once.
  std::atomic<int> inside{0}, most{0};
  RawServer server([&](int fd, RawServer& s) {
    const std::string target = RequestTarget(s.ReadRequest(fd));
    const int now = ++inside;
    for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
    }
    s.Pause(100);
    --inside;
    WriteAll(fd, HttpResponse("302 Found", "Location: /to" + target + "\r\n", ""));
  });
  std::vector<std::string> links, expected;
  for (int i = 0; i < 20; ++i) {
    links.push_back(server.Url("/link?url=" + std::to_string(i)));
    expected.push_back("/to/link?url=" + std::to_string(i));
  }
  links.insert(links.begin() + 5, "not a link");  // not asked for, keeps its place
  expected.insert(expected.begin() + 5, "");
  EXPECT_EQ(ResolveRedirectLinks(links), expected);
  EXPECT_EQ(server.Connections(), 20);
  EXPECT_GE(most.load(), 2);
  EXPECT_LE(most.load(), 8);

  // One at a time when asked so.
  most = 0;
  links.resize(4);
  expected.resize(4);
  EXPECT_EQ(ResolveRedirectLinks(links, 1), expected);
  EXPECT_EQ(most.load(), 1);
}

TEST_F(ResolverTest, CancelledWaitsLeaveTheRestUnanswered) {
  RawServer silent([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    PeerClosed(fd, 10000);
  });
  int pumps = 0;
  SetEventPump([&] {
    if (++pumps == 20) CancelTransferWaits();
  });
  const Clock::time_point start = Clock::now();
  const std::vector<std::string> links(12, silent.Url("/link?url=x"));
  EXPECT_EQ(ResolveRedirectLinks(links), std::vector<std::string>(12));
  EXPECT_LT(SecondsSince(start), 3.0);  // not the 5 s receive limit
  EXPECT_LE(silent.Connections(), 8);   // the last four were never asked for
  EXPECT_TRUE(WaitUntil([] { return TransfersInFlight() == 0; }, 2000));
}

// Stop during link conversion: the links in flight are given up at once and
// no further one is asked for.
TEST_F(ResolverTest, AStopEndsTheConversionWithinMoments) {
  RawServer silent([](int fd, RawServer& s) {
    s.ReadRequest(fd);
    PeerClosed(fd, 10000);
  });
  const Clock::time_point start = Clock::now();
  std::atomic<bool> stop{false};
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
  });
  const std::vector<std::string> links(12, silent.Url("/link?url=x"));
  EXPECT_EQ(ResolveRedirectLinks(links, 8, [&stop] { return stop.load(); }), std::vector<std::string>(12));
  stopper.join();
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_LE(silent.Connections(), 8);
  EXPECT_TRUE(WaitUntil([] { return TransfersInFlight() == 0; }, 2000));
}

}  // namespace
}  // namespace lanshu
