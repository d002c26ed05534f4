#include "text/Reasons.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace lanshu {
namespace {

// English and Chinese, "%s" for a name or number carried along.
struct Reason {
  const char* english;
  const char* chinese;
};

constexpr Reason kReasons[] = {
    // Files and folders.
    {"permission denied", "没有写入权限"},
    {"no such file or directory", "路径不存在"},
    {"a file stands in the path", "路径中有同名的文件"},
    {"read-only file system", "磁盘只读"},
    {"no space left on device", "磁盘已满"},
    {"path too long", "路径太长"},
    {"error %s", "错误代码 %s"},
    {"cannot write %s", "无法写入 %s"},
    {"no temporary folder", "没有临时文件夹"},
    {"cannot create a temporary folder", "无法创建临时文件夹"},
    // Workbooks.
    {"too many rows for one sheet", "行数超过工作表的上限"},
    {"too many columns for one sheet", "列数超过工作表的上限"},
    {"no columns to write", "没有可写的列"},
    {"cannot create the workbook", "无法创建工作簿"},
    {"cannot add the sheet", "无法添加工作表"},
    {"cannot write a cell", "无法写入单元格"},
    {"cannot build the workbook", "无法生成工作簿"},
    {"cannot read the built workbook", "无法读取生成的工作簿"},
    // Pages.
    {"HTTP %s", "服务器返回 HTTP %s"},
    {"time-out", "超时"},
    {"connection refused", "连接被拒绝"},
    {"connection reset", "连接被重置"},
    {"host not found", "找不到主机"},
    {"body cut short", "内容不完整"},
    {"empty reply", "服务器没有回应内容"},
    {"response too large", "回应过大"},
    {"too many redirects", "重定向次数过多"},
    {"not an HTTP answer", "不是 HTTP 回应"},
    {"TLS failure", "TLS 连接失败"},
    {"network error", "网络错误"},
    {"load error %s", "加载错误 %s"},
    {"no results block", "页面没有结果区"},
    {"empty page", "空白页面"},
    {"too many rows", "行数过多"},
    {"no answer", "没有回应"},
    {"request not sent", "请求未发出"},
    {"stopped", "已停止"},
    {"login page", "需要登录"},
    {"verification page", "需要验证"},
    {"throttled", "访问受限，等待超时"},
    // The history store.
    {"the history store failed", "历史记录库出错"},
    {"history store is not open", "历史记录库未打开"},
    {"the SQLite driver of Qt SQL is missing", "缺少 Qt SQL 的 SQLite 驱动"},
    {"the PostgreSQL driver of Qt SQL is missing", "缺少 Qt SQL 的 PostgreSQL 驱动"},
    {"not a database address: %s", "不是数据库地址：%s"},
    {"cannot open %s", "无法打开 %s"},
    {"cannot use %s", "无法使用 %s"},
    {"cannot reach %s", "无法连接 %s"},
    {"cannot set up the session", "无法设置数据库会话"},
    {"cannot read the database", "无法读取数据库"},
    {"the database holds other tables and no history", "数据库中有其他表，不是历史记录"},
    {"cannot read the schema version", "无法读取数据库结构版本"},
    {"cannot read the schema step %s", "无法读取数据库结构步骤 %s"},
    {"schema step %s failed", "数据库结构步骤 %s 失败"},
    {"no schema steps under %s", "%s 下没有数据库结构步骤"},
    {"the history was written by a newer program (schema %s, this program knows up to %s)",
     "历史记录由较新的程序写入（结构 %s，本程序最高支持 %s）"},
    {"no upgrade step to schema %s", "没有升级到结构 %s 的步骤"},
    {"cannot lock the schema", "无法锁定数据库结构"},
    {"cannot record the schema version", "无法记录数据库结构版本"},
    {"cannot start a transaction", "无法开始事务"},
    {"cannot commit", "无法提交"},
    {"cannot record the run", "无法记录运行"},
    {"cannot record the run's targets", "无法记录运行的域名或关键词"},
    {"cannot store the page", "无法保存页面"},
    {"cannot store the rows", "无法保存数据行"},
    {"cannot store the lines", "无法保存结果行"},
    {"cannot count the rows", "无法统计行数"},
    {"cannot record the end of the run", "无法记录运行的结束"},
    {"no run %s in the history", "历史记录中没有运行 %s"},
    // Before "no rank run %s", which would take them too.
    {"no rank run in the history", "历史记录中没有排名运行"},
    {"no rank run from %s to %s", "%s 至 %s 没有排名运行"},
    {"no rank run since %s", "%s 以来没有排名运行"},
    {"no rank run until %s", "%s 以前没有排名运行"},
    {"no rank run %s", "没有排名运行 %s"},
    {"fewer than two finished runs of %s", "%s 完成的运行不足两次"},
    {"cannot list the runs", "无法列出运行"},
    {"cannot read the run", "无法读取运行"},
    {"cannot read the domain's runs", "无法读取域名的运行"},
    {"cannot read the pages", "无法读取页面"},
    {"cannot read the rows", "无法读取数据行"},
    {"cannot read the lines", "无法读取结果行"},
    {"cannot read the other store", "无法读取另一个历史记录库"},
    {"cannot replace the run", "无法替换运行"},
    {"cannot copy the run", "无法复制运行"},
    {"cannot copy the pages", "无法复制页面"},
    {"cannot copy the rows", "无法复制数据行"},
};

// The texts that stand for the pattern's "%s" in `text`, or false when the
// text is not of that pattern. A carried text never holds ": ", which starts
// a text from elsewhere.
bool Match(const std::string& pattern, const std::string& text, std::vector<std::string>& carried) {
  carried.clear();
  std::size_t p = 0, t = 0;
  for (;;) {
    const std::size_t hole = pattern.find("%s", p);
    const std::string literal = pattern.substr(p, hole == std::string::npos ? std::string::npos : hole - p);
    if (text.compare(t, literal.size(), literal) != 0) return false;
    t += literal.size();
    if (hole == std::string::npos) return t == text.size();
    p = hole + 2;
    const std::size_t next = pattern.find("%s", p);
    const std::string after = pattern.substr(p, next == std::string::npos ? std::string::npos : next - p);
    // The carried text ends where the literal after it begins; the pattern's
    // last literal must end the text.
    std::size_t end;
    if (next == std::string::npos)
      end = text.size() >= after.size() && text.compare(text.size() - after.size(), after.size(), after) == 0
                ? text.size() - after.size()
                : std::string::npos;
    else
      end = after.empty() ? std::string::npos : text.find(after, t);
    if (end == std::string::npos || end < t) return false;
    const std::string value = text.substr(t, end - t);
    if (value.empty() || value.find(": ") != std::string::npos) return false;
    carried.push_back(value);
    t = end;
  }
}

std::string Fill(const char* chinese, const std::vector<std::string>& carried) {
  std::string out;
  std::size_t next = 0;
  for (const char* c = chinese; *c; ++c) {
    if (c[0] == '%' && c[1] == 's' && next < carried.size()) {
      out += carried[next++];
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

bool Translate(const std::string& english, std::string& chinese) {
  std::vector<std::string> carried;
  for (const Reason& r : kReasons)
    if (Match(r.english, english, carried)) {
      chinese = Fill(r.chinese, carried);
      return true;
    }
  return false;
}

struct FileError {
  int error;
  const char* english;
};
constexpr FileError kFileErrors[] = {
    {EACCES, "permission denied"},
    {EPERM, "permission denied"},
    {ENOENT, "no such file or directory"},
    {ENOTDIR, "a file stands in the path"},
    {EEXIST, "a file stands in the path"},
    {EROFS, "read-only file system"},
    {ENOSPC, "no space left on device"},
    {ENAMETOOLONG, "path too long"},
};

}  // namespace

std::string ChineseReason(const std::string& english) {
  std::string chinese;
  if (Translate(english, chinese)) return chinese;
  for (std::size_t split = english.find(": "); split != std::string::npos; split = english.find(": ", split + 2))
    if (Translate(english.substr(0, split), chinese)) return chinese + "，原因：" + english.substr(split + 2);
  return "原因：" + english;
}

std::string FileErrorEnglish(int error) {
  for (const FileError& known : kFileErrors)
    if (known.error == error) return known.english;
  return "error " + std::to_string(error);
}

std::string FileErrorChinese(int error) { return ChineseReason(FileErrorEnglish(error)); }

}  // namespace lanshu
