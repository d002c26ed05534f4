#include "text/Reasons.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace lanshu {
namespace {

// The window shows the program's own reasons in Chinese, with names and
// numbers kept, and a driver's or the system's text unchanged after 原因.
TEST(ReasonsTest, OwnReasonsAreChineseAndForeignTextsFollowReason) {
  const struct {
    const char* english;
    const char* chinese;
  } cases[] = {
      {"time-out", "超时"},
      {"HTTP 503", "服务器返回 HTTP 503"},
      {"cannot store the page: database is locked", "无法保存页面，原因：database is locked"},
      {"cannot open /home/u/h.sqlite: unable to open database file",
       "无法打开 /home/u/h.sqlite，原因：unable to open database file"},
      {"not a database address: postgresql://u@h:x/db", "不是数据库地址：postgresql://u@h:x/db"},
      {"the history was written by a newer program (schema 4, this program knows up to 2)",
       "历史记录由较新的程序写入（结构 4，本程序最高支持 2）"},
      {"cannot write /tmp/全部结果.csv: no space left on device",
       "无法写入 /tmp/全部结果.csv，原因：no space left on device"},
      {"no run 7 in the history", "历史记录中没有运行 7"},
      {"error 71", "错误代码 71"},
      // Unknown to the table: all of it is someone else's text.
      {"database disk image is malformed", "原因：database disk image is malformed"},
      {"cannot open", "原因：cannot open"},  // a name is carried, never empty
      {"", "原因："},
  };
  for (const auto& c : cases) EXPECT_EQ(ChineseReason(c.english), c.chinese) << c.english;
}

TEST(ReasonsTest, FileErrorsInBothLanguages) {
  EXPECT_EQ(FileErrorEnglish(ENOSPC), "no space left on device");
  EXPECT_EQ(FileErrorChinese(ENOSPC), "磁盘已满");
  EXPECT_EQ(FileErrorChinese(EACCES), "没有写入权限");
  EXPECT_EQ(FileErrorEnglish(EIO), "error " + std::to_string(EIO));
  EXPECT_EQ(FileErrorChinese(EIO), "错误代码 " + std::to_string(EIO));
}

}  // namespace
}  // namespace lanshu
