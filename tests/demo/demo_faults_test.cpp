#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "text/Codec.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>

using namespace lanshu;
using namespace lanshu::demo;

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// Paths as the program's two clients send them: the browser percent-encodes a
// domain's UTF-8, the HTTP engine a seed's UTF-8 (upper-case hex).
const std::string kExampleCn = "/baidu/%E4%BE%8B%E5%AD%90.%E4%B8%AD%E5%9B%BD/";  // 例子.中国
const std::string kJianfei = "/%E5%87%8F%E8%82%A5/";                               // 减肥

class DemoFaultsTest : public ::testing::Test {
 protected:
  // Starts the site with the faults of arg.
  void Serve(const std::string& arg) {
    Options options;
    std::string error;
    ASSERT_TRUE(ParseDemoFaults(arg, options, &error)) << error;
    site.SetOptions(options);
    ASSERT_TRUE(site.Start());
  }

  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}, int timeoutSeconds = 10) {
    httplib::Client client(site.BaseUrl());
    client.set_read_timeout(timeoutSeconds, 0);
    return client.Get(path.c_str(), headers);
  }

  int Status(const std::string& path) {
    auto res = Get(path);
    return res ? res->status : -1;
  }

  bool IsResultPage(const std::string& path) {
    auto res = Get(path);
    return res && res->status == 200 && Has(res->body, "class=\"box_05\"") && Has(res->body, "<td");
  }

  DemoSite site;
};

// Texts by which the program tells a login wall or a captcha check from a result page.
void ExpectNoWall(const std::string& page, const std::string& what) {
  for (const char* marker : {"type=\"password\"", "captcha", "验证码", "安全验证", "访问过于频繁"}) {
    EXPECT_FALSE(Has(page, marker)) << what << ": " << marker;
    EXPECT_FALSE(Has(page, Gbk(marker))) << what << ": " << marker;
  }
}

}  // namespace

TEST(DemoFaultsParse, EveryKindWithItsArgument) {
  struct Case {
    const char* kind;
    Fault::Kind expected;
    int status, delayMs, rows;
  };
  const Case cases[] = {
      {"500", Fault::Kind::kStatus500, 500, 0, 6000},  {"404", Fault::Kind::kStatus500, 404, 0, 6000},
      {"400", Fault::Kind::kStatus500, 400, 0, 6000},  {"599", Fault::Kind::kStatus500, 599, 0, 6000},
      {"hang", Fault::Kind::kHang, 500, 0, 6000},      {"cut", Fault::Kind::kCutBody, 500, 0, 6000},
      {"delay:0", Fault::Kind::kDelay, 500, 0, 6000},  {"delay:2500", Fault::Kind::kDelay, 500, 2500, 6000},
      {"login", Fault::Kind::kLogin, 500, 0, 6000},    {"verify", Fault::Kind::kVerify, 500, 0, 6000},
      {"nodata", Fault::Kind::kNoData, 500, 0, 6000},  {"garbage", Fault::Kind::kGarbage, 500, 0, 6000},
      {"huge", Fault::Kind::kHuge, 500, 0, 6000},      {"huge:5001", Fault::Kind::kHuge, 500, 0, 5001},
  };
  for (const Case& c : cases) {
    for (const char* target : {"rank:example.com:2=", "mine:减肥:*="}) {
      Options options;
      std::string error;
      ASSERT_TRUE(ParseDemoFaults(target + std::string(c.kind), options, &error)) << c.kind << ": " << error;
      ASSERT_EQ(options.faults.size(), 1u) << c.kind;
      const Fault& f = options.faults[0];
      EXPECT_EQ(f.kind, c.expected) << c.kind;
      EXPECT_EQ(f.status, c.status) << c.kind;
      EXPECT_EQ(f.delayMs, c.delayMs) << c.kind;
      EXPECT_EQ(f.rows, c.rows) << c.kind;
      EXPECT_FALSE(options.requireLogin || options.requireVerification) << c.kind;
    }
  }
}

TEST(DemoFaultsParse, ItemsAddUpAndKeepTheirOrder) {
  Options options;
  options.faults.push_back({Fault::Kind::kDelay, "/kept/", 5});
  ASSERT_TRUE(ParseDemoFaults(" rank:example.com:2=500 ,mine:减肥:1=hang,login", options));
  EXPECT_TRUE(options.requireLogin);
  EXPECT_FALSE(options.requireVerification);
  ASSERT_EQ(options.faults.size(), 3u);
  EXPECT_EQ(options.faults[0].path, "/kept/");
  EXPECT_EQ(options.faults[1].kind, Fault::Kind::kStatus500);
  EXPECT_EQ(options.faults[2].kind, Fault::Kind::kHang);

  Options bare;
  ASSERT_TRUE(ParseDemoFaults("verify", bare));
  EXPECT_TRUE(bare.requireVerification);
  EXPECT_FALSE(bare.requireLogin);
  EXPECT_TRUE(bare.faults.empty());
}

TEST(DemoFaultsParse, BadItemsAreNamedAndChangeNothing) {
  const char* bad[] = {
      "",                          // empty item
      "rank:a.com:1=500,,login",   // empty item between two good ones
      "rank:a.com:1=500,",         // trailing comma
      "logon",                     // unknown bare item
      "500",                       // a fault without a target
      "rank:a.com:1",              // no fault
      "rank:a.com:1=",             // empty fault
      "site:a.com:1=500",          // unknown kind of target
      "rank:a.com=500",            // no page
      "rank::1=500",               // empty domain
      "mine::*=500",               // empty seed
      "rank:a.com:0=500",          // pages count from 1
      "rank:a.com:x=500",          // not a page
      "rank:a.com:-1=500",         // not a page
      "rank:a.com:1=399",          // not an error status
      "rank:a.com:1=600",          // not an error status
      "rank:a.com:1=5000",         // not a status at all
      "rank:a.com:1=delay",        // delay without milliseconds
      "rank:a.com:1=delay:",       // the same
      "rank:a.com:1=delay:-5",     // negative
      "rank:a.com:1=delay:1s",     // units are not accepted
      "rank:a.com:1=huge:0",       // no rows
      "rank:a.com:1=huge:many",    // not a number
      "rank:a.com:1=Hang",         // kinds are lower case
      "mine:\xFF\xFE:1=500",       // the seed is not UTF-8
      "flaky:101",                 // a percent is at most 100
      "stall:",                    // and is given
      "logout:x",                  // as a number
      "throttle:101",              // also for the throttles
  };
  for (const char* arg : bad) {
    Options options;
    options.faults.push_back({Fault::Kind::kDelay, "/kept/", 5});
    std::string error;
    EXPECT_FALSE(ParseDemoFaults(arg, options, &error)) << arg;
    EXPECT_EQ(options.faults.size(), 1u) << arg;
    EXPECT_FALSE(options.requireLogin) << arg;
    EXPECT_FALSE(error.empty()) << arg;
  }

  // The message quotes the item that failed, not a good one before it.
  Options options;
  std::string error;
  EXPECT_FALSE(ParseDemoFaults("login,rank:a.com:1=hang,mine:减肥:2=teapot,verify", options, &error));
  EXPECT_TRUE(Has(error, "\"mine:减肥:2=teapot\"")) << error;
  EXPECT_FALSE(Has(error, "a.com")) << error;
  EXPECT_TRUE(Has(error, "teapot")) << error;
  EXPECT_FALSE(options.requireLogin);
  EXPECT_TRUE(options.faults.empty());
  EXPECT_FALSE(ParseDemoFaults("rank:a.com:1=500,,login", options, nullptr));  // no message asked for
}

TEST_F(DemoFaultsTest, StatusAndCutFaultsHitOnePageUnderEverySortWord) {
  Serve("rank:example.com:2=500,rank:example.com:3=404,rank:例子.中国:1=503,mine:减肥:1=cut,mine:减肥:3=502");
  for (const char* sort : {"position", "ip", "zhishu", "IP"}) {
    EXPECT_EQ(Status(RankPath("example.com", 2, sort)), 500) << sort;
    EXPECT_EQ(Status(RankPath("example.com", 3, sort)), 404) << sort;
    EXPECT_TRUE(IsResultPage(RankPath("example.com", 1, sort))) << sort;
  }
  auto res = Get(RankPath("example.com", 2, "position"));
  EXPECT_TRUE(Has(res->body, Gbk("服务器内部错误")));
  EXPECT_FALSE(Has(res->body, "box_05"));
  EXPECT_TRUE(Has(Get(RankPath("example.com", 3, "ip"))->body, Gbk("页面不存在")));
  // Neighbours stay healthy: another domain, a domain that starts the same.
  EXPECT_TRUE(IsResultPage(RankPath("example.com.cn", 2, "position")));
  EXPECT_TRUE(IsResultPage(RankPath("www.example.com", 2, "position")));
  EXPECT_TRUE(IsResultPage(RankPath("example.co", 2, "position")));

  EXPECT_EQ(Status(kExampleCn + "1/position/"), 503);  // a UTF-8 domain, percent-encoded
  EXPECT_TRUE(IsResultPage(kExampleCn + "2/position/"));

  EXPECT_FALSE(Get(kJianfei + "1/"));  // cut short
  EXPECT_FALSE(Get("/%e5%87%8f%e8%82%a5/1/"));  // lower-case hex is the same seed
  EXPECT_TRUE(IsResultPage(kJianfei + "2/"));
  EXPECT_EQ(Status(kJianfei + "3/"), 502);
  EXPECT_TRUE(IsResultPage(KeywordPath(Gbk("减肥药"), 1)));
  EXPECT_TRUE(IsResultPage(KeywordPath(Gbk("减"), 1)));
}

TEST_F(DemoFaultsTest, StarPagesHangAndDelayOneTargetOnly) {
  Serve("mine:减肥:*=hang,rank:example.com:*=delay:400,mine:a b/c:2=500");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(IsResultPage(RankPath("example.com", 3, "zhishu")));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  const auto quick = std::chrono::steady_clock::now();
  EXPECT_TRUE(IsResultPage(RankPath("example.org", 3, "zhishu")));
  EXPECT_LT(std::chrono::steady_clock::now() - quick, std::chrono::milliseconds(400));

  EXPECT_FALSE(Get(kJianfei + "7/", {}, 1));  // no answer within a second
  EXPECT_FALSE(Get(kJianfei + "1/", {}, 1));
  EXPECT_TRUE(IsResultPage(KeywordPath(Gbk("减肥药"), 1)));

  // A seed with a blank and a slash, as the HTTP engine encodes it.
  EXPECT_EQ(Status(KeywordPath("a b/c", 2)), 500);
  EXPECT_TRUE(IsResultPage(KeywordPath("a b/c", 1)));
  site.Stop();  // releases the hanging answers
}

TEST_F(DemoFaultsTest, LoginPagesStandUntilTheRequestCarriesASession) {
  Serve("rank:example.com:2=login,mine:减肥:1=login");
  const std::string rank = RankPath("example.com", 2, "position");
  auto res = Get(rank);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
  EXPECT_TRUE(Has(res->body, "<form"));
  EXPECT_TRUE(Has(res->body, "type=\"password\""));
  EXPECT_TRUE(Has(res->body, Gbk("登录")));
  EXPECT_TRUE(Has(res->body, Gbk("演示站：用户名 demo，密码 demo")));
  EXPECT_FALSE(Has(res->body, "box_05"));

  res = Get(kJianfei + "1/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(Has(res->body, "type=\"password\""));
  EXPECT_TRUE(Has(res->body, u8"登录"));
  EXPECT_TRUE(Has(res->body, u8"演示站：用户名 demo，密码 demo"));
  EXPECT_TRUE(Has(res->body, "charset=utf-8"));
  EXPECT_FALSE(Has(res->body, "box_05"));

  EXPECT_TRUE(IsResultPage(RankPath("example.com", 1, "position")));  // other pages unguarded
  const httplib::Headers session = {{"Cookie", std::string(DemoSite::kSessionCookie) + "=" + site.IssueSession()}};
  res = Get(rank, session);
  EXPECT_TRUE(Has(res->body, "box_05") && !Has(res->body, "type=\"password\""));
  res = Get(kJianfei + "1/", session);
  EXPECT_TRUE(Has(res->body, "box_05") && !Has(res->body, "type=\"password\""));
  EXPECT_TRUE(Has(Get(rank, {{"Cookie", "lanshu_session=forged"}})->body, "type=\"password\""));
}

TEST_F(DemoFaultsTest, BareLoginGuardsEveryRankingPage) {
  Serve("login");
  EXPECT_TRUE(Has(Get(RankPath("any.example", 3, "ip"))->body, "type=\"password\""));
  EXPECT_TRUE(IsResultPage(KeywordPath(Gbk("减肥"), 1)));  // the keyword site needs no login
}

TEST_F(DemoFaultsTest, VerificationStandsUntilTheCheckIsPassed) {
  Serve("rank:example.com:2=verify,mine:减肥:2=verify");
  const std::string rank = RankPath("example.com", 2, "position");
  auto res = Get(rank);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
  for (const char* text : {"验证码", "安全验证", "访问过于频繁"}) EXPECT_TRUE(Has(res->body, Gbk(text))) << text;
  EXPECT_TRUE(Has(res->body, "<img") && Has(res->body, "captcha"));
  EXPECT_FALSE(Has(res->body, "box_05"));
  EXPECT_FALSE(Has(res->body, "type=\"password\""));  // not a login page

  res = Get(kJianfei + "2/");
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* text : {"验证码", "安全验证", "访问过于频繁"}) EXPECT_TRUE(Has(res->body, text)) << text;
  EXPECT_TRUE(IsResultPage(kJianfei + "1/"));

  auto image = Get("/verify/captcha.gif");
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/gif");

  httplib::Client client(site.BaseUrl());
  const std::string form = "from=" + PercentEncode(rank) + "&code=";
  auto wrong = client.Post("/verify.php", form, "application/x-www-form-urlencoded");
  EXPECT_EQ(wrong->status, 200);
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));
  EXPECT_TRUE(Has(wrong->body, Gbk("验证码错误")));
  auto passed = client.Post("/verify.php", form + "x7k2", "application/x-www-form-urlencoded");
  EXPECT_EQ(passed->status, 302);
  EXPECT_EQ(passed->get_header_value("Location"), rank);
  const std::string setCookie = passed->get_header_value("Set-Cookie");
  ASSERT_EQ(setCookie.rfind(std::string(DemoSite::kCheckCookie) + "=", 0), 0u) << setCookie;
  const httplib::Headers cookie = {{"Cookie", setCookie.substr(0, setCookie.find(';'))}};
  res = Get(rank, cookie);
  EXPECT_TRUE(Has(res->body, "box_05") && !Has(res->body, Gbk("安全验证")));
  EXPECT_TRUE(Has(Get(kJianfei + "2/", cookie)->body, "box_05"));
  EXPECT_TRUE(Has(Get(rank, {{"Cookie", "lanshu_verified=forged"}})->body, Gbk("安全验证")));

  // The check sends back only to a path of this site.
  auto away = client.Post("/verify.php", "from=http%3A%2F%2Felsewhere.invalid%2F&code=1",
                          "application/x-www-form-urlencoded");
  EXPECT_EQ(away->get_header_value("Location"), "/");
}

TEST_F(DemoFaultsTest, BareVerifyGuardsEveryResultPageButNotTheRest) {
  Serve("verify,rank:example.com:1=500");
  EXPECT_TRUE(Has(Get(RankPath("any.example", 2, "ip"))->body, Gbk("安全验证")));
  EXPECT_TRUE(Has(Get(KeywordPath(Gbk("任意"), 3))->body, u8"安全验证"));
  EXPECT_EQ(Status(RankPath("example.com", 1, "ip")), 500);  // a page's own fault comes first
  EXPECT_FALSE(Has(Get("/user.php")->body, Gbk("安全验证")));
  EXPECT_EQ(Status("/verify/captcha.gif"), 200);
}

TEST_F(DemoFaultsTest, NoDataPagesHoldAnEmptyResultsBlock) {
  Serve("rank:example.com:1=nodata,mine:减肥:1=nodata");
  auto res = Get(RankPath("example.com", 1, "position"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
  const std::string& rank = res->body;
  EXPECT_TRUE(Has(rank, Gbk("暂无该域名的数据")));
  const std::size_t box = rank.find("<div class=\"box_05\">");
  ASSERT_NE(box, std::string::npos);
  const std::string block = rank.substr(box, rank.find("</table>", box) - box);
  EXPECT_EQ(Count(block, "<tr"), 1u);  // the header row only
  EXPECT_FALSE(Has(rank, "/2/position/"));  // no further pages
  ExpectNoWall(rank, "rank");

  res = Get(kJianfei + "1/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  const std::string& keyword = res->body;
  EXPECT_TRUE(Has(keyword, u8"没有找到") && Has(keyword, u8"暂无数据"));
  EXPECT_TRUE(Has(keyword, "class=\"box_05\""));
  EXPECT_EQ(Count(keyword, "<tr"), 1u);  // rows are counted in the whole page
  EXPECT_FALSE(Has(keyword, "<td"));
  EXPECT_FALSE(Has(keyword, kJianfei + "2/"));
  ExpectNoWall(keyword, "keyword");

  EXPECT_TRUE(IsResultPage(RankPath("example.com", 2, "position")));
  EXPECT_TRUE(IsResultPage(kJianfei + "2/"));
}

TEST_F(DemoFaultsTest, GarbagePagesAreNeitherResultsNorWallsNorNoData) {
  Serve("rank:example.com:*=garbage,mine:减肥:1=garbage");
  for (const std::string& path : {RankPath("example.com", 2, "ip"), kJianfei + "1/"}) {
    auto res = Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 200) << path;
    const bool keyword = path == kJianfei + "1/";
    EXPECT_EQ(res->get_header_value("Content-Type"),
              keyword ? "text/html; charset=utf-8" : "text/html; charset=gbk");
    const std::string page = keyword ? Utf8TextToGbk(res->body) : res->body;
    EXPECT_GT(page.size(), 100u) << path;
    EXPECT_FALSE(Has(page, "box_05")) << path;
    EXPECT_FALSE(Has(page, "<tr")) << path;
    for (const char* text : {"登录", "暂无", "没有找到", "数据"}) EXPECT_FALSE(Has(page, Gbk(text))) << text;
    ExpectNoWall(page, path);
  }
}

// The bare items touch a page's first requests, one fault each, so that a
// client that asks again gets the page; the percents pick the same pages
// on every site.
TEST_F(DemoFaultsTest, FirstRequestFaultsComeOnceEachInTheirOrder) {
  Serve("throttle,busy,flaky:100,logout:100");
  const std::string page = kJianfei + "2/";
  auto first = Get(page);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 500);
  auto second = Get(page);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 200);
  EXPECT_TRUE(Has(Utf8TextToGbk(second->body), "type=\"password\"")) << second->body;
  auto third = Get(page);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->status, 429);
  EXPECT_EQ(third->get_header_value("Retry-After"), "2");
  auto fourth = Get(page);
  ASSERT_TRUE(fourth);
  EXPECT_EQ(fourth->status, 200);
  const std::string notice = Utf8TextToGbk(fourth->body);
  EXPECT_TRUE(Has(notice, Gbk("访问过于频繁"))) << fourth->body;
  EXPECT_FALSE(Has(notice, "<form")) << fourth->body;
  auto fifth = Get(page);
  ASSERT_TRUE(fifth);
  EXPECT_TRUE(Has(fifth->body, "box_05"));
  // Other paths than result pages are never touched.
  EXPECT_EQ(Status("/user.php"), 200);

  // A target's throttle answers every time.
  site.Stop();
  Serve("rank:example.com:1=throttle");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Status(RankPath("example.com", 1, "ip")), 429);

  site.Stop();
  Serve("flaky:50");
  std::vector<int> picked;
  for (int p = 1; p <= 200; ++p)
    if (Status(kJianfei + std::to_string(p) + "/") == 500) picked.push_back(p);
  EXPECT_GT(picked.size(), 60u);
  EXPECT_LT(picked.size(), 140u);
  site.Stop();
  Serve("flaky:50");
  for (int p : picked) EXPECT_EQ(Status(kJianfei + std::to_string(p) + "/"), 500) << p;
}

TEST_F(DemoFaultsTest, HugePagesCarryThousandsOfRealRows) {
  Serve("rank:example.com:2=huge,mine:减肥:1=huge:5001");
  auto res = Get(RankPath("example.com", 2, "position"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  const std::string& rank = res->body;
  const std::size_t box = rank.find("<div class=\"box_05\">");
  ASSERT_NE(box, std::string::npos);
  const std::string block = rank.substr(box, rank.find("</table>", box) - box);
  EXPECT_EQ(Count(block, "<tr"), 6001u);
  EXPECT_EQ(Count(block, "class=\"blue t_l word\"") + Count(block, "class='blue t_l word'"), 6000u);
  EXPECT_TRUE(Has(block, "<td>12000</td>"));  // page 2 of 6000-row pages ends at row 12000
  EXPECT_TRUE(Has(rank, "/3/position/"));    // the listing goes on

  res = Get(kJianfei + "1/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(Count(res->body, "<tr"), 5002u);
  EXPECT_EQ(Count(res->body, "images/keyword/l"), 5001u);
  EXPECT_TRUE(Has(res->body, "<td>5001</td>"));
  EXPECT_EQ(Count(Get(kJianfei + "2/")->body, "<tr"), 9u);  // the next page is ordinary
}
