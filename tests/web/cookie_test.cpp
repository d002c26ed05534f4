#include "web/CookieJar.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "hooks/Events.h"
#include "web/HttpClient.h"
#include "web/TestServers.h"

namespace lanshu {
namespace {

using testing::Answer;
using testing::HttpResponse;
using testing::RawServer;
using testing::RequestHeader;
using testing::RequestTarget;

Cookie Make(const std::string& domain, const std::string& path, const std::string& name,
            const std::string& value, std::int64_t expires = 0, bool secure = false,
            bool httpOnly = false) {
  Cookie c;
  c.domain = domain;
  c.path = path;
  c.name = name;
  c.value = value;
  c.expires = expires;
  c.secure = secure;
  c.httpOnly = httpOnly;
  return c;
}

std::set<std::string> Names(const std::vector<Cookie>& cookies) {
  std::set<std::string> names;
  for (const Cookie& c : cookies) names.insert(c.name + "=" + c.value);
  return names;
}

TEST(ParseSetCookieTest, NameValueAndAttributes) {
  Cookie c;
  bool pathGiven = false;
  ASSERT_TRUE(ParseSetCookie(" sid = a=b ; Path=/app; Domain=.Example.COM; Secure; HttpOnly; "
                             "Max-Age=60",
                             "www.example.com", true, 1000, &c, &pathGiven));
  EXPECT_EQ(c, Make(".example.com", "/app", "sid", "a=b", 1060, true, true));
  EXPECT_TRUE(pathGiven);

  ASSERT_TRUE(ParseSetCookie("k=v", "h.example", false, 1000, &c, &pathGiven));
  EXPECT_EQ(c, Make("h.example", "/", "k", "v"));
  EXPECT_FALSE(pathGiven);

  // Max-Age wins over Expires in either order; zero or less means gone.
  ASSERT_TRUE(ParseSetCookie("k=v; Max-Age=10; Expires=Wed, 09 Jun 2021 10:18:14 GMT",
                             "h.example", false, 1000, &c));
  EXPECT_EQ(c.expires, 1010);
  ASSERT_TRUE(ParseSetCookie("k=v; expires=Wed, 09 Jun 2021 10:18:14 GMT", "h.example", false,
                             1000, &c));
  EXPECT_EQ(c.expires, 1623233894);
  ASSERT_TRUE(ParseSetCookie("k=; Max-Age=0", "h.example", false, 1000, &c));
  EXPECT_EQ(c.expires, 1);
  ASSERT_TRUE(ParseSetCookie("k=v; Max-Age=-5", "h.example", false, 1000, &c));
  EXPECT_EQ(c.expires, 1);
  ASSERT_TRUE(ParseSetCookie("k=v; Max-Age=soon; Path=relative", "h.example", false, 1000, &c,
                             &pathGiven));
  EXPECT_EQ(c, Make("h.example", "/", "k", "v"));
  EXPECT_FALSE(pathGiven);

  // The host itself as Domain; an address only ever for itself.
  ASSERT_TRUE(ParseSetCookie("k=v; Domain=h.example", "h.example", false, 0, &c));
  EXPECT_EQ(c.domain, ".h.example");
  ASSERT_TRUE(ParseSetCookie("k=v; Domain=127.0.0.1", "127.0.0.1", false, 0, &c));
  EXPECT_EQ(c.domain, "127.0.0.1");
}

TEST(ParseSetCookieTest, RejectsWhatSetsNoCookie) {
  Cookie c;
  EXPECT_FALSE(ParseSetCookie("novalue", "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("=v", "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("flag; Path=/", "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v; Domain=other.example", "www.example.com", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v; Domain=com", "www.example.com", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v; Domain=ample.com", "www.example.com", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v; Domain=0.0.1", "127.0.0.1", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v; Secure", "h.example", false, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v\x01", "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=a\tb", "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=" + std::string(5000, 'x'), "h.example", true, 0, &c));
  EXPECT_FALSE(ParseSetCookie("k=v", "", true, 0, &c));
}

TEST(DefaultCookiePathTest, DirectoryOfTheRequest) {
  EXPECT_EQ(DefaultCookiePath("/a/b/set"), "/a/b/");
  EXPECT_EQ(DefaultCookiePath("/set"), "/");
  EXPECT_EQ(DefaultCookiePath("/a/b?x=/c/d"), "/a/");
  EXPECT_EQ(DefaultCookiePath(""), "/");
  EXPECT_EQ(DefaultCookiePath("relative"), "/");
}

class CookieJarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jar.SetObserver(nullptr);
    jar.Clear();
  }
  void TearDown() override {
    jar.SetObserver(nullptr);
    SetEventPump(nullptr);
  }
  CookieJar& jar = CookieJar::Instance();
};

TEST_F(CookieJarTest, ImportListRemove) {
  const Cookie a = Make(".example.com", "/", "a", "1", 0, false, true);
  const Cookie b = Make("www.example.com", "/p", "b", "2", 4102444800, true, false);
  ASSERT_TRUE(jar.Import(a));
  ASSERT_TRUE(jar.Import(b));
  std::vector<Cookie> all = jar.List();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], a);
  EXPECT_EQ(all[1], b);

  Cookie a2 = a;
  a2.value = "changed";
  ASSERT_TRUE(jar.Import(a2));
  all = jar.List();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], a2);

  jar.Remove(b);  // a secure one too
  all = jar.List();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "a");

  EXPECT_TRUE(jar.Import(Make("x.example", "/", "old", "v", 1000)));  // long expired
  EXPECT_FALSE(jar.Import(Make("x.example", "/", "", "v")));
  EXPECT_FALSE(jar.Import(Make("x.example", "nopath", "k", "v")));
  EXPECT_FALSE(jar.Import(Make("x.example", "/", "k", "a\tb")));
  EXPECT_FALSE(jar.Import(Make("", "/", "k", "v")));
  EXPECT_EQ(jar.List().size(), 1u);
}

TEST_F(CookieJarTest, CookieStringCoversTheHostRoot) {
  jar.Import(Make("h.example", "/", "own", "1"));
  jar.Import(Make(".example", "/", "parent", "2"));
  jar.Import(Make("h.example", "/sub", "deep", "3"));
  jar.Import(Make("h.example", "/", "safe", "4", 0, true));
  jar.Import(Make("x.example", "/", "other", "5"));
  jar.Import(Make("a.h.example", "/", "child", "6"));
  EXPECT_EQ(jar.CookieString("h.example", false), "own=1; parent=2");
  EXPECT_EQ(jar.CookieString("H.Example", true), "own=1; safe=4; parent=2");
  EXPECT_EQ(jar.CookieString("a.h.example", false), "child=6; parent=2");
  EXPECT_EQ(jar.CookieString("example", false), "parent=2");
  EXPECT_EQ(jar.CookieString("nowhere.invalid", false), "");
}

TEST_F(CookieJarTest, BrowserAndEngineShareOneStore) {
  RawServer server(Answer([](const std::string& request) {
    const std::string target = RequestTarget(request);
    if (target == "/set") return HttpResponse("200 OK", "Set-Cookie: s=1; HttpOnly\r\n", "");
    if (target == "/drop") return HttpResponse("200 OK", "Set-Cookie: s=; Max-Age=0\r\n", "");
    return HttpResponse("200 OK", "", "");
  }));
  std::vector<std::vector<Cookie>> changed, removed;
  jar.SetObserver([&](const std::vector<Cookie>& c, const std::vector<Cookie>& r) {
    changed.push_back(c);
    removed.push_back(r);
  });
  // What the browser hands over is not echoed back, but it is sent.
  ASSERT_TRUE(jar.Import(Make("127.0.0.1", "/", "b", "x")));
  HttpClient client;
  client.Request(server.Url("/set"));
  ASSERT_EQ(changed.size(), 1u);
  ASSERT_EQ(changed[0].size(), 1u);
  EXPECT_EQ(changed[0][0], Make("127.0.0.1", "/", "s", "1", 0, false, true));
  EXPECT_TRUE(removed[0].empty());

  client.RequestDirect(server.Url("/none"));
  EXPECT_EQ(changed.size(), 1u);
  const std::string sent = RequestHeader(server.Requests().back(), "Cookie");
  EXPECT_TRUE(sent == "b=x; s=1" || sent == "s=1; b=x") << sent;

  client.Request(server.Url("/drop"));
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_TRUE(changed[1].empty());
  ASSERT_EQ(removed[1].size(), 1u);
  EXPECT_EQ(removed[1][0].name, "s");
  EXPECT_EQ(Names(jar.List()), std::set<std::string>{"b=x"});
}

TEST_F(CookieJarTest, WorkersReachTheStoreAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < 100; ++i) {
        jar.StoreSetCookie("t.example", "/", "k" + std::to_string(t) + "_" + std::to_string(i) + "=v",
                           false);
        if (i % 10 == 0) jar.List();
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(jar.List().size(), 800u);
}

}  // namespace
}  // namespace lanshu
