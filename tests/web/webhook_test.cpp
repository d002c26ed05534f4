// Posting notices to receivers on loopback sockets: the bytes that arrive,
// several addresses, retries of a failing receiver and the one failure told.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "TestServers.h"
#include "web/Webhook.h"

namespace lanshu {
namespace {

using lanshu::testing::HttpResponse;
using lanshu::testing::RawServer;
using lanshu::testing::RequestHeader;
using lanshu::testing::RequestTarget;

// Retries without the waits of a real receiver.
WebhookOptions Quick() {
  WebhookOptions o;
  o.waits = {std::chrono::milliseconds(10)};
  return o;
}

// Answers the statuses given in turn, the last one for ever after.
RawServer Receiver(std::vector<std::string> statuses) {
  auto answered = std::make_shared<std::atomic<std::size_t>>(0);
  return RawServer([statuses, answered](int fd, RawServer& server) {
    if (server.ReadRequest(fd).empty()) return;
    const std::size_t n = answered->fetch_add(1);
    lanshu::testing::WriteAll(fd, HttpResponse(statuses[std::min(n, statuses.size() - 1)], "", "{}"));
  });
}

std::string Body(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }

struct Told {
  std::mutex lock;
  std::vector<std::string> failures;
  void operator()(const std::string& address, const std::string& reason) {
    const std::lock_guard<std::mutex> hold(lock);
    failures.push_back(address + " " + reason);
  }
};

TEST(WebhookTest, PostsTheBodyAsItIsToEveryAddress) {
  RawServer a = Receiver({"200 OK"});
  RawServer b = Receiver({"204 No Content"});
  auto told = std::make_shared<Told>();
  const std::string body = "{\"content\":\"排名查询完成\\n行数 20\"}\n";
  {
    Webhook hook(Quick());
    hook.Post({a.Url("/hook?key=1"), b.Url("/other")}, body, "application/json; charset=utf-8",
              [told](const std::string& address, const std::string& reason) { (*told)(address, reason); });
    ASSERT_TRUE(hook.Wait(std::chrono::seconds(60)));
    EXPECT_TRUE(hook.Idle());
  }
  ASSERT_EQ(a.Requests().size(), 1u);
  ASSERT_EQ(b.Requests().size(), 1u);
  const std::string request = a.Requests()[0];
  EXPECT_EQ(request.rfind("POST /hook?key=1 HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_EQ(RequestHeader(request, "Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(Body(request), body);
  EXPECT_EQ(RequestTarget(b.Requests()[0]), "/other");
  EXPECT_EQ(Body(b.Requests()[0]), body);
  EXPECT_TRUE(told->failures.empty());
}

TEST(WebhookTest, AFailingReceiverIsTriedThreeTimesAndToldOnce) {
  RawServer failing = Receiver({"500 Internal Server Error"});
  RawServer flaky = Receiver({"503 Service Unavailable", "500 Internal Server Error", "200 OK"});
  RawServer redirecting = Receiver({"302 Found"});
  // A port nobody listens on.
  std::string refused;
  {
    RawServer gone = Receiver({"200 OK"});
    refused = gone.Url("/hook");
  }
  auto told = std::make_shared<Told>();
  {
    Webhook hook(Quick());
    hook.Post({failing.Url("/hook"), flaky.Url("/hook"), redirecting.Url("/r"), refused}, "{}", "application/json",
              [told](const std::string& address, const std::string& reason) { (*told)(address, reason); });
    ASSERT_TRUE(hook.Wait(std::chrono::seconds(120)));
  }
  EXPECT_EQ(failing.Requests().size(), 3u);
  EXPECT_EQ(flaky.Requests().size(), 3u);
  EXPECT_EQ(redirecting.Requests().size(), 3u);
  std::vector<std::string> failures = told->failures;
  std::sort(failures.begin(), failures.end());
  std::vector<std::string> expected = {failing.Url("/hook") + " HTTP 500", redirecting.Url("/r") + " HTTP 302",
                                       refused + " connection refused"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(failures, expected);
}

TEST(WebhookTest, AReceiverThatNeverAnswersIsBrokenOffAtTheEndUntold) {
  RawServer silent([](int fd, RawServer& server) {
    server.ReadRequest(fd);
    while (server.Pause(50)) {
    }
  });
  auto told = std::make_shared<Told>();
  {
    WebhookOptions o = Quick();
    o.timeoutSeconds = 600;
    Webhook hook(o);
    hook.Post({silent.Url("/hook")}, "{}", "application/json",
              [told](const std::string& address, const std::string& reason) { (*told)(address, reason); });
    ASSERT_TRUE(lanshu::testing::WaitUntil([&] { return silent.Requests().size() == 1; }, 60000));
    EXPECT_FALSE(hook.Idle());
  }
  EXPECT_TRUE(told->failures.empty());
}

}  // namespace
}  // namespace lanshu
