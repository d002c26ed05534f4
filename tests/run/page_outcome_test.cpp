#include "run/PageOutcome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/Codec.h"
#include "text/Reasons.h"

namespace lanshu {
namespace {

std::string G(const std::string& utf8) { return Utf8TextToGbk(utf8); }

// A page of the site's layout around `main`: a header with the site's own
// login box (a password field) as a visitor sees it on every page.
std::string Page(const std::string& mainUtf8) {
  return G("<html><head><title>览数 - 百度排名</title></head><body>\r\n"
           "<div class=\"top\"><form action=\"/login\" method=\"post\">用户名 <input name=\"u\">"
           " 密码 <input name=\"p\" type=\"password\"> <input type=\"submit\" value=\"登录\"></form></div>\r\n") +
         G(mainUtf8) + "\r\n</body></html>";
}

std::string ResultsBlock(int rows, const std::string& titleUtf8) {
  std::string html = "<div class=\"box_05\"><table><tr><th>序号</th><th>关键词</th></tr>";
  for (int i = 1; i <= rows; ++i)
    html += "<tr><td>" + std::to_string(i) + "</td><td class=\"blue t_l word\">词" + std::to_string(i) +
            "</td><td class=\"blue t_l\"><a href=\"/x\">" + titleUtf8 + "</a></td></tr>";
  return html + "</table></div>";
}

TEST(PageOutcomeTest, NoUsablePageFailsBeforeParsing) {
  const std::string results = Page(ResultsBlock(10, "首页"));
  EXPECT_TRUE(PrecheckPage({200, ""}, results).Ok());
  EXPECT_TRUE(PrecheckPage({0, ""}, results).Ok());  // status unknown (a fake loader)

  const PageOutcome refused = PrecheckPage({0, "connection refused"}, "");
  EXPECT_EQ(refused.outcome, Outcome::kFailed);
  EXPECT_EQ(refused.reason, "connection refused");
  // An error status fails even when the error page carries a results block.
  EXPECT_EQ(PrecheckPage({500, ""}, results).reason, "HTTP 500");
  EXPECT_EQ(PrecheckPage({404, ""}, "<h1>Not Found</h1>").reason, "HTTP 404");
  EXPECT_TRUE(PrecheckPage({302, ""}, results).Ok());

  // Rows beyond any listing: the header row and 5,000 rows pass, one more fails.
  EXPECT_TRUE(PrecheckPage({200, ""}, ResultsBlock(kMaxRowsPerPage, "t")).Ok());
  const PageOutcome huge = PrecheckPage({200, ""}, ResultsBlock(kMaxRowsPerPage + 1, "t"));
  EXPECT_EQ(huge.outcome, Outcome::kFailed);
  EXPECT_EQ(huge.reason, "too many rows");
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage += "<TR><td>";
  EXPECT_EQ(PrecheckPage({200, ""}, garbage).reason, "too many rows");
}

TEST(PageOutcomeTest, RowTagsAreCountedAsTagsOnly) {
  EXPECT_EQ(CountRowTags("<tr><TR class=a><tr\r\n><tr/><track><trow><td>tr</td>", 100), 4);
  EXPECT_EQ(CountRowTags("<tr><tr><tr><tr>", 2), 3);  // stops once past the limit
  EXPECT_EQ(CountRowTags("", 10), 0);
  EXPECT_EQ(CountRowTags("<tr", 10), 0);  // cut off before the tag is whole
}

TEST(PageOutcomeTest, PagesWithoutResultsAreToldApart) {
  struct Case {
    const char* what;
    std::string html;
    Outcome outcome;
    const char* reason;
  };
  const Case cases[] = {
      {"no data for the domain", Page("<div class=\"box_06\">暂无该域名的数据</div>"), Outcome::kOk, ""},
      {"no data", Page("<p>暂无数据</p>"), Outcome::kOk, ""},
      {"nothing found", Page("<p>没有找到相关记录</p>"), Outcome::kOk, ""},
      {"login page",
       G("<html><body><h2>用户登录</h2><form method=post action=/login>"
         "<input type=text name=user><INPUT TYPE = 'PASSWORD' name=pw></form></body></html>"),
       Outcome::kBlocked, "login page"},
      {"captcha text",
       G("<html><body><h3>安全验证</h3><p>您的访问过于频繁，请输入验证码后继续。</p>"
         "<img src=\"/code.php\"><input name=\"code\"></body></html>"),
       Outcome::kBlocked, "verification page"},
      {"slider", "<html><body><div id=\"Nc_Slider_wrapper\"></div></body></html>", Outcome::kBlocked,
       "verification page"},
      {"captcha image", "<html><body><img src=\"/Captcha/get?t=1\"></body></html>", Outcome::kBlocked,
       "verification page"},
      {"server error page", "<html><body><h1>502 Bad Gateway</h1><hr>nginx</body></html>",
       Outcome::kFailed, "no results block"},
      {"empty", "", Outcome::kFailed, "empty page"},
      // A site that only asks to be asked later is waited out, not passed.
      {"throttle notice", G("<html><body><p>您的访问过于频繁，请稍后再试。</p></body></html>"), Outcome::kFailed,
       "throttled"},
      {"throttle notice in other words", G("<div class=\"tip\">操作太频繁</div>"), Outcome::kFailed, "throttled"},
      // With something to fill in beside it, it stays what it was.
      {"throttle text and a form", G("<p>访问过于频繁</p><form action=\"/v\"><input name=\"a\"></form>"),
       Outcome::kBlocked, "verification page"},
      {"throttle text and a code field", G("<p>访问过于频繁</p><input name=\"vcode\">"), Outcome::kBlocked,
       "verification page"},
      {"throttle text and a captcha", G("<p>请稍后再试</p><img src=\"/captcha.png\">"), Outcome::kBlocked,
       "verification page"},
      {"throttle text and a slider text", G("<p>请稍后再试，拖动滑块</p>"), Outcome::kBlocked, "verification page"},
      // Near misses: a password-like word that is no password field.
      {"password word only",
       G("<html><body><input type=\"passwordx\"><p>password 登录</p><input data-type=password></body></html>"),
       Outcome::kFailed, "no results block"},
  };
  for (const Case& c : cases) {
    const PageOutcome got = ClassifyPageWithoutResults(c.html);
    EXPECT_EQ(got.outcome, c.outcome) << c.what;
    EXPECT_EQ(got.reason, c.reason) << c.what;
  }
  // A no-data page keeps the site's header login box and is still ok.
  EXPECT_TRUE(ClassifyPageWithoutResults(Page("<p>暂无数据</p>")).Ok());
}

TEST(PageOutcomeTest, ResultsBlockIsTheElementTheParsersRead) {
  // Every legal way of writing the block that the element search reads.
  for (const char* tag : {
           "<div class=\"box_05\">", "<DIV CLASS=\"BOX_05\">", "<div class='box_05'>",
           "<div class=box_05>", "<div class=\" box_05 \">", "<div class=' Box_05 '>",
           "<div id=\"r\" class=\"box_05\" style=\"x\">", "<div class=box_05 id=r>",
           "<Div data-x=\"1\" Class='box_05' title=\"t\">"}) {
    const std::string html = std::string("<p>x</p>") + tag + "<table><tr><td>1</td></tr></table></div>";
    const std::string block = FindResultsBlock(html);
    EXPECT_EQ(block, html.substr(8)) << tag;
  }
  // The site's stylesheet and texts name the class too, and near misses are
  // other elements: no block.
  for (const char* html : {"<style>.box_05{margin:0}</style><p>box_05</p>", "<span class=\"box_05\">x</span>",
                           "<div class=\"box_050\">", "<div data-class=\"box_05\">", "class=\"box_05\">", ""})
    EXPECT_EQ(FindResultsBlock(html), "") << html;
  // A nested div belongs to the block.
  EXPECT_EQ(FindResultsBlock("<div class=box_05><div>a</div>b</div>c"), "<div class=box_05><div>a</div>b</div>");
}

TEST(PageOutcomeTest, ResultsPagesNamingLoginOrCaptchaPassThePrecheck) {
  // A results page whose titles speak of logging in and captchas is a
  // results page: the precheck lets it through, and the parser finds its
  // block, so the page is never judged by its words.
  const std::string html = Page(ResultsBlock(50, "登录验证码失效怎么办 captcha 识别"));
  EXPECT_TRUE(PrecheckPage({200, ""}, html).Ok());
  EXPECT_FALSE(FindResultsBlock(html).empty());
  EXPECT_STREQ(OutcomeName(Outcome::kOk), "ok");
  EXPECT_STREQ(OutcomeName(Outcome::kFailed), "failed");
  EXPECT_STREQ(OutcomeName(Outcome::kBlocked), "blocked");
}


// Every reason a page can end with is decided as an enum and has both its
// texts: the English one reports and the history keep, and a Chinese one
// for the window (a reason missing from the table would show as "原因：…").
TEST(PageOutcomeTest, ThrottleAnswersAreToldByTheirStatusAndNeverFromAnErrorPage) {
  EXPECT_EQ(PrecheckPage({429, ""}, "").why, Reason::kThrottled);
  EXPECT_EQ(PrecheckPage({429, "", 5}, "").why, Reason::kThrottled);
  EXPECT_EQ(PrecheckPage({503, "", 0}, "").why, Reason::kThrottled);
  EXPECT_EQ(PrecheckPage({503, ""}, "").reason, "HTTP 503");
  // A transport error wins over any status.
  EXPECT_EQ(PrecheckPage({429, "time-out"}, "").reason, "time-out");
  // A notice served with an error status is that error.
  EXPECT_EQ(PrecheckPage({500, ""}, G("<p>访问过于频繁，请稍后再试</p>")).reason, "HTTP 500");
}

TEST(PageOutcomeTest, EveryReasonHasItsEnglishAndChineseText) {
  const PageOutcome status = PrecheckPage({503, ""}, "");
  EXPECT_EQ(status.why, Reason::kHttpStatus);
  EXPECT_EQ(status.reason, "HTTP 503");
  EXPECT_EQ(ClassifyPageWithoutResults("").why, Reason::kEmptyPage);
  EXPECT_EQ(ClassifyPageWithoutResults("<p>x</p>").why, Reason::kNoResultsBlock);
  const PageOutcome wall = PageOutcome::Blocked(Wall::kLogin);
  EXPECT_EQ(wall.why, Reason::kLoginPage);
  const PageOutcome skipped = wall.AsFailed();
  EXPECT_EQ(skipped.outcome, Outcome::kFailed);
  EXPECT_EQ(skipped.why, Reason::kLoginPage);
  EXPECT_EQ(skipped.reason, "login page");
  EXPECT_EQ(skipped.wall, Wall::kNone);

  std::vector<std::string> texts = {ReasonText(Reason::kHttpStatus, "404")};
  for (Reason why : {Reason::kTooManyRows, Reason::kEmptyPage, Reason::kNoResultsBlock, Reason::kLoginPage,
                     Reason::kVerificationPage, Reason::kThrottled})
    texts.push_back(ReasonText(why));
  // The words of the transfer engine and the browser, and mining's own.
  for (const char* word : {"connection refused", "host not found", "time-out", "connection reset", "body cut short",
                           "empty reply", "response too large", "too many redirects", "not an HTTP answer",
                           "TLS failure", "network error", "stopped", "request not sent", "load error -3",
                           "no answer"})
    texts.push_back(ReasonText(Reason::kFetch, word));
  for (const std::string& text : texts) {
    ASSERT_FALSE(text.empty());
    EXPECT_NE(ChineseReason(text).rfind("原因：", 0), 0u) << text;
  }
  EXPECT_EQ(ReasonText(Reason::kNone), "");
}

}  // namespace
}  // namespace lanshu
