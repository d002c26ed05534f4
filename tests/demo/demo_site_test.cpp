#include "demo/DemoSite.h"
#include "text/Codec.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <set>

using namespace lanshu;
using namespace lanshu::demo;

namespace {

class DemoSiteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site.Start()); }

  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) {
    httplib::Client client(site.BaseUrl());
    client.set_read_timeout(10, 0);
    return client.Get(path.c_str(), headers);
  }

  DemoSite site;
};

std::string Between(const std::string& text, const std::string& head, const std::string& tail) {
  const std::size_t h = text.find(head);
  if (h == std::string::npos) return "";
  const std::size_t t = text.find(tail, h + head.size());
  return t == std::string::npos ? "" : text.substr(h + head.size(), t - h - head.size());
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + with.size())) {
    text.replace(p, what.size(), with);
  }
  return text;
}

// The contents of a row's td elements, cut by hand rather than by the site's code.
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  for (std::size_t p = row.find("<td"); p != std::string::npos; p = row.find("<td", p + 1)) {
    const std::size_t open = row.find('>', p);
    cells.push_back(row.substr(open + 1, row.find("</td>", open) - open - 1));
  }
  return cells;
}

// A cell as a reader sees it: no tags, no line breaks or tabs, no &nbsp;, trimmed.
std::string Text(const std::string& html, bool dropSpaces = false) {
  std::string text;
  for (std::size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<') {
      i = html.find('>', i);
      if (i == std::string::npos) break;
    } else if (html.compare(i, 6, "&nbsp;") == 0) {
      i += 5;
    } else if (html[i] != '\r' && html[i] != '\n' && html[i] != '\t' && !(dropSpaces && html[i] == ' ')) {
      text += html[i];
    }
  }
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(DemoSiteTest, RankPageIsGbkAndItsRowsMatchTheMarkup) {
  auto res = Get(RankPath("example-1.com", 1, "position"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
  const std::string& page = res->body;
  EXPECT_NE(page.find(Gbk("网站排名查询")), std::string::npos);       // GBK bytes
  EXPECT_EQ(page.find(u8"网站排名查询"), std::string::npos);          // not UTF-8
  EXPECT_EQ(Count(page, "class=\"box_05\""), 1u);

  const std::string box = Between(page, "<div class=\"box_05\">", "</table>");
  const auto rows = site.ExpectedRankRows("example-1.com", 1, "position");
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(Count(box, "<tr"), rows.size() + 1);  // header row first
  std::size_t at = box.find("<tr");
  for (const RankRow& row : rows) {
    const std::size_t found = box.find(row.html, at);
    ASSERT_NE(found, std::string::npos) << row.serial;
    at = found + row.html.size();

    const auto cells = Cells(row.html);
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(Between(row.html, "<td>", "</td>"), row.serial);
    EXPECT_EQ(Text(cells[1], true),
              row.keyword + (row.hint.empty() ? "" : Gbk("此关键词包含:") + row.hint));
    EXPECT_EQ(Text(cells[2]), row.rank);
    EXPECT_EQ(ReplaceAll(Text(cells[3]), "&#44;", ","), row.volume);
    EXPECT_EQ(ReplaceAll(Text(cells[4]), "&#44;", ","), row.indexed);
    EXPECT_EQ(Text(cells[5]), row.title);
    EXPECT_NE(cells[5].find(row.href), std::string::npos);
    EXPECT_EQ(row.href.rfind(site.BaseUrl() + "/link?url=", 0), 0u);
  }
  // The quirks a parser has to live with all occur on one page.
  for (const char* quirk : {"class='blue'", "class=blue>", "align=right>", "align='right'", "href='",
                            "href=http", "&nbsp;", "&#44;", "&amp;", "<th"}) {
    EXPECT_NE(box.find(quirk), std::string::npos) << quirk;
  }
  EXPECT_NE(page.find("2/position/\">2</a>"), std::string::npos);
  EXPECT_NE(page.find("3/position/\">3</a>"), std::string::npos);
  EXPECT_EQ(page.find("4/position/\">4</a>"), std::string::npos);
}

TEST_F(DemoSiteTest, RankListingsAreDeterministicWithDeliberateDuplicates) {
  const auto a1 = site.ExpectedRankRows("a.example", 1, "position");
  const auto a2 = site.ExpectedRankRows("a.example", 2, "position");
  const auto b1 = site.ExpectedRankRows("b.example", 1, "position");
  EXPECT_EQ(a1[0].keyword, b1[0].keyword);  // shared across domains
  EXPECT_EQ(a2[0].keyword, a1[1].keyword);  // repeated on a later page
  EXPECT_EQ(a2[0].serial, "11");
  EXPECT_EQ(Get(RankPath("a.example", 2, "position"))->body.find(a2[0].html) != std::string::npos, true);

  // Without the duplicates each sort shows the same distinct keywords in its own order.
  site.UpdateOptions([](Options& o) { o.rankDuplicates = false; });
  std::multiset<std::string> bySort[3];
  std::vector<std::string> firstPages[3];
  const char* sorts[3] = {"position", "ip", "zhishu"};
  for (int s = 0; s < 3; ++s) {
    for (int p = 1; p <= 3; ++p) {
      for (const RankRow& row : site.ExpectedRankRows("c.example", p, sorts[s])) {
        if (p == 1) firstPages[s].push_back(row.keyword);
        bySort[s].insert(row.keyword);
      }
    }
  }
  EXPECT_EQ(std::set<std::string>(bySort[0].begin(), bySort[0].end()).size(), 30u);
  EXPECT_EQ(bySort[0], bySort[1]);
  EXPECT_EQ(bySort[0], bySort[2]);
  EXPECT_NE(firstPages[0], firstPages[2]);
}

TEST_F(DemoSiteTest, RankPageKnobsAndAddresses) {
  site.UpdateOptions([](Options& o) {
    o.rankPagesByDomain["many.example"] = 60;
    o.rankRowsPerPage = 2;
  });
  std::string page = Get(RankPath("many.example", 1, "ip"))->body;
  EXPECT_NE(page.find("/50/ip/\">50</a>"), std::string::npos);
  EXPECT_NE(page.find("/60/ip/\">60</a>"), std::string::npos);
  EXPECT_EQ(site.ExpectedRankRows("many.example", 60, "ip").size(), 2u);

  site.UpdateOptions([](Options& o) {
    o.pageLinks = PageLinks::kBeyond50Only;
    o.pageLinksInCapitals = true;
  });
  page = Get(RankPath("many.example", 1, "ip"))->body;
  EXPECT_EQ(page.find("/2/IP/\">2</A>"), std::string::npos);
  EXPECT_EQ(page.find("/50/IP/\">50</A>"), std::string::npos);
  EXPECT_NE(page.find("/51/IP/\">51</A>"), std::string::npos);
  EXPECT_EQ(Get("/baidu/many.example/51/IP/")->status, 200);  // the capitalised link works

  site.UpdateOptions([](Options& o) { o.rankLastPageWithoutResults = true; });
  EXPECT_EQ(Get(RankPath("x.example", 3, "zhishu"))->body.find("\"box_05"), std::string::npos);
  EXPECT_TRUE(site.ExpectedRankRows("x.example", 3, "zhishu").empty());
  EXPECT_NE(Get(RankPath("x.example", 2, "zhishu"))->body.find("\"box_05"), std::string::npos);

  page = Get(RankPath("x.example", 9, "position"))->body;  // past the last page: header only
  EXPECT_EQ(Count(Between(page, "\"box_05", "</table>"), "<tr"), 1u);
  EXPECT_EQ(Get(RankPath("", 1, "position"))->status, 200);  // empty domain
  EXPECT_EQ(site.ExpectedRankRows("", 1, "position").size(), 2u);
  EXPECT_EQ(Get("/baidu/x.example/1/other/")->status, 404);
  EXPECT_EQ(Get("/baidu/x.example/0/ip/")->status, 404);
  EXPECT_EQ(Get("/nothing")->status, 404);
}

TEST_F(DemoSiteTest, KeywordPageIsUtf8AndItsRowsMatchTheMarkup) {
  const std::string seed = Gbk("减肥");
  EXPECT_EQ(KeywordPath(seed, 2), "/%E5%87%8F%E8%82%A5/2/");
  auto res = Get(KeywordPath(seed, 2));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(res->body.find(u8"减肥"), std::string::npos);
  const std::string page = Utf8TextToGbk(res->body);
  EXPECT_EQ(Count(page, "class=\"box_05\""), 1u);
  const auto rows = site.ExpectedKeywordRows(seed, 2);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(Count(page, "<tr"), rows.size() + 1);
  std::set<std::string> siteTexts;
  for (const KeywordRow& row : rows) {
    ASSERT_NE(page.find(row.html), std::string::npos) << row.serial;
    const auto cells = Cells(row.html);
    ASSERT_EQ(cells.size(), 7u);
    EXPECT_EQ(cells[0], row.serial);
    EXPECT_EQ(Text(ReplaceAll(cells[1], Gbk("　"), "")), row.keyword);
    EXPECT_EQ(cells[2], row.volume);
    EXPECT_EQ(cells[3], row.indexed);
    EXPECT_EQ(Text(cells[4]), row.first);
    EXPECT_EQ(Text(cells[5]), row.second);
    EXPECT_EQ(Between(cells[6], "images/keyword/l", "."), std::to_string(row.level));
    siteTexts.insert(row.first);
  }
  EXPECT_EQ(rows.back().keyword, site.ExpectedKeywordRows(seed, 1)[0].keyword);  // duplicate
  for (const char* quirk : {",", "&amp;", "&#44;", "&lt;b&gt;"}) {
    EXPECT_TRUE(std::any_of(siteTexts.begin(), siteTexts.end(),
                            [&](const std::string& t) { return t.find(quirk) != std::string::npos; }))
        << quirk;
  }
  EXPECT_NE(page.find("/%E5%87%8F%E8%82%A5/3/\">3</a>"), std::string::npos);
  EXPECT_EQ(page.find("/4/\">4</a>"), std::string::npos);

  site.UpdateOptions([](Options& o) { o.pageLinksInCapitals = true; });
  EXPECT_NE(Get(KeywordPath(seed, 2))->body.find("/1/\">1</A>"), std::string::npos);
  res = Get("//1/");  // an empty seed works like any other
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(Count(res->body, "<tr"), 9u);
}

TEST_F(DemoSiteTest, NoResultsSeedShowsTheBoxAndARowWithoutCells) {
  const std::string seed = Gbk("无结果");
  site.UpdateOptions([&](Options& o) { o.keywordNoResultSeeds.insert(seed); });
  const std::string page = Utf8TextToGbk(Get(KeywordPath(seed, 1))->body);
  EXPECT_NE(page.find("\"box_05"), std::string::npos);
  const auto rows = site.ExpectedKeywordRows(seed, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].hasCells);
  EXPECT_NE(page.find(rows[0].html), std::string::npos);
  EXPECT_EQ(Count(page, "<tr"), 2u);
  EXPECT_EQ(page.find("<td"), std::string::npos);
  EXPECT_EQ(page.find("</a>"), page.rfind("</a>"));  // the logo only: no page links
  EXPECT_EQ(site.ExpectedKeywordRows(Gbk("别的"), 1).size(), 8u);
}

TEST_F(DemoSiteTest, LoginSwitchGuardsTheRankingPages) {
  site.UpdateOptions([](Options& o) { o.requireLogin = true; });
  const std::string path = RankPath("guarded.example", 1, "position");
  auto res = Get(path);
  EXPECT_EQ(res->body.find("\"box_05"), std::string::npos);
  EXPECT_NE(res->body.find("name=\"pass\""), std::string::npos);
  EXPECT_NE(res->body.find(Gbk("演示站：用户名 demo，密码 demo")), std::string::npos);
  EXPECT_NE(Get("/user.php")->body.find(Gbk("演示站：用户名 demo，密码 demo")), std::string::npos);
  EXPECT_EQ(Get(path, {{"Cookie", "lanshu_session=forged"}})->body.find("\"box_05"), std::string::npos);

  httplib::Client client(site.BaseUrl());
  auto bad = client.Post("/user.php", "user=demo&pass=wrong", "application/x-www-form-urlencoded");
  EXPECT_FALSE(bad->has_header("Set-Cookie"));
  EXPECT_NE(bad->body.find(Gbk("用户名或密码错误")), std::string::npos);
  auto good = client.Post("/user.php", "user=demo&pass=demo", "application/x-www-form-urlencoded");
  EXPECT_EQ(good->status, 302);
  const std::string setCookie = good->get_header_value("Set-Cookie");
  const std::string session = Between(setCookie, "lanshu_session=", ";");
  EXPECT_EQ(setCookie, "lanshu_session=" + session + "; Path=/");
  EXPECT_TRUE(site.IsSessionValid(session));
  const httplib::Headers cookie = {{"Cookie", "other=1; lanshu_session=" + session}};
  EXPECT_NE(Get(path, cookie)->body.find("\"box_05"), std::string::npos);
  EXPECT_NE(Get("/user.php", cookie)->body.find(Gbk("已登录")), std::string::npos);

  res = Get("/user.php?action=login&user=demo&pass=demo");
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find(Gbk("已登录")), std::string::npos);
  EXPECT_TRUE(site.IsSessionValid(Between(res->get_header_value("Set-Cookie"), "=", ";")));

  Get("/user.php?action=logout", cookie);
  EXPECT_FALSE(site.IsSessionValid(session));
  EXPECT_EQ(Get(path, cookie)->body.find("\"box_05"), std::string::npos);
  EXPECT_NE(Get(path, {{"Cookie", "lanshu_session=" + site.IssueSession()}})->body.find("\"box_05"),
            std::string::npos);
}

TEST_F(DemoSiteTest, SearchEngineRedirectsAndEchoes) {
  std::set<std::string> kinds;
  for (int p = 1; p <= 3; ++p) {
    for (const RankRow& row : site.ExpectedRankRows("redirect.example", p, "position")) {
      auto res = Get(row.href.substr(site.BaseUrl().size()));
      ASSERT_TRUE(res);
      if (row.target.empty()) {
        kinds.insert("none");
        EXPECT_EQ(res->status, 200);
        EXPECT_FALSE(res->has_header("Location"));
      } else {
        kinds.insert(row.target[0] == '/' ? "relative" : "absolute");
        EXPECT_EQ(res->status, 302);
        EXPECT_EQ(res->get_header_value("Location"), row.target);
      }
    }
  }
  EXPECT_EQ(kinds.size(), 3u);
  EXPECT_EQ(Get("/link?url=AAAA")->status, 404);

  auto res = Get("/baidu?word=%BC%F5%B7%CA");
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
  EXPECT_NE(res->body.find("<b>" + Gbk("减肥") + "</b>"), std::string::npos);
}

TEST_F(DemoSiteTest, FaultsMisbehaveOnTheirPathsOnly) {
  const std::string failing = RankPath("f.example", 2, "position");
  site.UpdateOptions([&](Options& o) {
    o.faults.push_back({Fault::Kind::kStatus500, failing, 0});
    o.faults.push_back({Fault::Kind::kCutBody, KeywordPath(Gbk("断开"), 1), 0});
    o.faults.push_back({Fault::Kind::kDelay, "/slow/*", 300});
  });
  EXPECT_EQ(Get(failing)->status, 500);
  EXPECT_EQ(Get(RankPath("f.example", 1, "position"))->status, 200);
  EXPECT_FALSE(Get(KeywordPath(Gbk("断开"), 1)));  // body shorter than announced
  EXPECT_TRUE(Get(KeywordPath(Gbk("完整"), 1)));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get("/slow/1/")->status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  // A request that is never answered does not keep Stop waiting.
  site.UpdateOptions([](Options& o) { o.faults.push_back({Fault::Kind::kHang, "/hang/1/", 0}); });
  auto pending = std::async(std::launch::async, [this] { return Get("/hang/1/"); });
  while (site.Requests().empty() || site.Requests().back().path != "/hang/1/") {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  site.Stop();
  EXPECT_FALSE(site.Running());
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  auto late = pending.get();
  EXPECT_TRUE(!late || late->status == 503);
  EXPECT_TRUE(site.Start());  // and the site can start again
}

TEST_F(DemoSiteTest, LogRecordsEveryRequest) {
  Get(RankPath("log.example", 1, "ip"), {{"Cookie", "a=1; lanshu_session=xyz"}, {"X-Test", "yes"}});
  Get(KeywordPath(Gbk("减肥"), 1));
  httplib::Client(site.BaseUrl()).Post("/user.php", "user=demo&pass=demo", "application/x-www-form-urlencoded");
  auto log = site.Requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].path, "/baidu/log.example/1/ip/");
  EXPECT_EQ(log[0].Header("x-test"), "yes");
  EXPECT_EQ(log[0].cookies.at("lanshu_session"), "xyz");
  EXPECT_EQ(log[0].cookies.at("a"), "1");
  EXPECT_FALSE(log[0].HasHeader("REMOTE_ADDR"));
  EXPECT_EQ(log[1].target, "/%E5%87%8F%E8%82%A5/1/");
  EXPECT_EQ(log[1].path, u8"/减肥/1/");
  EXPECT_FALSE(log[1].HasHeader("Cookie"));
  EXPECT_TRUE(log[1].cookies.empty());
  EXPECT_EQ(log[2].method, "POST");
  EXPECT_EQ(log[2].body, "user=demo&pass=demo");
  site.ClearLog();
  EXPECT_TRUE(site.Requests().empty());
}
