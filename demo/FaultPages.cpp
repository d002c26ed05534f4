#include "demo/FaultPages.h"

#include "demo/DemoContent.h"

namespace lanshu::demo {

std::string SimplePage(const std::string& title, const std::string& body, bool utf8Meta) {
  return "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
         std::string(utf8Meta ? "utf-8" : "gbk") + "\" />\r\n"
         "<title>" + title + "</title>\r\n</head>\r\n<body>\r\n" + body + "\r\n</body>\r\n</html>\r\n";
}

std::string LoginForm(const std::string& user, const Options& opt) {
  return "<form method=\"post\" action=\"/user.php\">\r\n"
         "  <p>" + Gbk("用户名：") + "<input type=\"text\" name=\"user\" value=\"" + HtmlEscape(user) + "\" /></p>\r\n"
         "  <p>" + Gbk("密　码：") + "<input type=\"password\" name=\"pass\" /></p>\r\n"
         "  <p class=\"tip\">" + Gbk("演示站：用户名 ") + HtmlEscape(opt.loginUser) + Gbk("，密码 ") +
         HtmlEscape(opt.loginPassword) + "</p>\r\n"
         "  <p><input type=\"submit\" value=\"" + Gbk("登录") + "\" /></p>\r\n"
         "</form>";
}

std::string LoginRequiredPageHtml(const Options& opt, bool keywordSite) {
  return SimplePage(Gbk("请先登录_览数"),
                    "<div class=\"login\">\r\n<p>" +
                        Gbk(keywordSite ? "查看关键词数据请先登录" : "查看排名数据请先登录") + "</p>\r\n" +
                        LoginForm("", opt) + "\r\n</div>",
                    keywordSite);
}

std::string ErrorPageHtml(int status) {
  const char* text = "服务器错误";
  switch (status) {
    case 400: text = "错误的请求"; break;
    case 403: text = "禁止访问"; break;
    case 404: text = "页面不存在"; break;
    case 429: text = "请求过多"; break;
    case 500: text = "服务器内部错误"; break;
    case 502: text = "网关错误"; break;
    case 503: text = "服务暂时不可用"; break;
    case 504: text = "网关超时"; break;
    default: if (status < 500) text = "请求错误";
  }
  return SimplePage(std::to_string(status), "<h1>" + Gbk(text) + "</h1>");
}

std::string VerificationPageHtml(const std::string& returnPath, bool failed, bool utf8Meta) {
  const std::string error = failed ? "  <p class=\"error\">" + Gbk("验证码错误，请重新输入") + "</p>\r\n" : "";
  return SimplePage(
      Gbk("安全验证_览数"),
      "<div class=\"verify\">\r\n"
      "  <h2>" + Gbk("安全验证") + "</h2>\r\n"
      "  <p class=\"tip\">" + Gbk("您的访问过于频繁，请输入验证码后继续访问。") + "</p>\r\n" + error +
          "  <form method=\"post\" action=\"/verify.php\">\r\n"
          "    <input type=\"hidden\" name=\"from\" value=\"" + HtmlEscape(returnPath) + "\" />\r\n"
          "    <p><img id=\"captcha\" class=\"captcha\" src=\"/verify/captcha.gif\" width=\"120\" height=\"40\" alt=\"" +
          Gbk("验证码") + "\" /></p>\r\n"
          "    <p>" + Gbk("验证码：") + "<input type=\"text\" name=\"code\" maxlength=\"6\" autocomplete=\"off\" /> " +
          Gbk("（演示站：输入任意字符）") + "</p>\r\n"
          "    <p><input type=\"submit\" value=\"" + Gbk("提交") + "\" /></p>\r\n"
          "  </form>\r\n"
          "</div>",
      utf8Meta);
}

std::string GarbagePageHtml(bool utf8Meta) {
  return SimplePage(Gbk("站点创建成功"),
                    "<div class=\"placeholder\">\r\n"
                    "  <h1>" + Gbk("恭喜，站点创建成功！") + "</h1>\r\n"
                    "  <p>" + Gbk("这是默认首页。请将网站程序上传到网站根目录，并删除本页面。") + "</p>\r\n"
                    "  <p>" + Gbk("本页面由虚拟主机控制面板自动生成。") + "</p>\r\n"
                    "</div>",
                    utf8Meta);
}

std::string BusyPageHtml(bool utf8Meta) {
  return SimplePage(Gbk("提示"),
                    "<div class=\"notice\">\r\n"
                    "  <p>" + Gbk("访问过于频繁，请稍后再试。") + "</p>\r\n"
                    "</div>",
                    utf8Meta);
}

}  // namespace lanshu::demo
