#include "mining/ResultFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "text/Codec.h"

using namespace lanshu;

namespace {

std::string TempDir() {
  char tmpl[] = "/tmp/lanshu-files-XXXXXX";
  return mkdtemp(tmpl);
}

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::tm At(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return t;
}

}  // namespace

TEST(ResultFiles, DateTimeTextLeavesOutTrailingZeroParts) {
  EXPECT_EQ(GbkToUtf8Text(DateTimeText(At(2024, 3, 5, 14, 7, 9))), "2024年3月5日14时7分9秒");
  EXPECT_EQ(GbkToUtf8Text(DateTimeText(At(2024, 3, 5, 14, 0, 9))), "2024年3月5日14时0分9秒");
  EXPECT_EQ(GbkToUtf8Text(DateTimeText(At(2024, 3, 5, 14, 7, 0))), "2024年3月5日14时7分");
  EXPECT_EQ(GbkToUtf8Text(DateTimeText(At(2024, 3, 5, 14, 0, 0))), "2024年3月5日14时");
  EXPECT_EQ(GbkToUtf8Text(DateTimeText(At(2024, 12, 31, 0, 0, 0))), "2024年12月31日");
}

TEST(ResultFiles, CleanFileNameUsesFullWidthFormsAndDropsBreaks) {
  EXPECT_EQ(GbkToUtf8Text(CleanFileName("a/b:c")), "a／b：c");
  EXPECT_EQ(GbkToUtf8Text(CleanFileName("\\*?|<>")), "＼＊？｜＜＞");
  EXPECT_EQ(CleanFileName("say \"hi\"\r\nx\ty\rz\n"), "say hixyz");
  EXPECT_EQ(CleanFileName(""), "");
  // 0xB0 0x5C is one character whose second byte is a backslash: kept whole.
  EXPECT_EQ(CleanFileName("\xB0\x5C"), "\xB0\x5C");
}

TEST(ResultFiles, MakeDirectoryPathCreatesEveryLevel) {
  const std::string base = TempDir();
  const std::string path = base + "/a/" + Utf8TextToGbk("挖掘的关键词") + "/";
  EXPECT_TRUE(MakeDirectoryPath(path));
  EXPECT_TRUE(IsDir(base + "/a/挖掘的关键词"));
  EXPECT_TRUE(MakeDirectoryPath(path));  // existing levels are fine
  std::ofstream(base + "/file") << "x";
  EXPECT_FALSE(MakeDirectoryPath(base + "/file/sub/"));
}

TEST(ResultFiles, LinesReachTheFileAtOnceAndRewriteTruncates) {
  const std::string name = TempDir() + "/" + Utf8TextToGbk("全部结果_1") + ".csv";
  const std::string native = NativePath(name);
  {
    ResultFile file;
    ASSERT_TRUE(file.OpenForRewrite(name));
    file.Write("one\r\n");
    EXPECT_EQ(lanshu::testing::FileBytes(native), "one\r\n");  // visible before close
    file.Write("two\r\n");
  }
  EXPECT_EQ(lanshu::testing::FileBytes(native), "one\r\ntwo\r\n");
  ResultFile again;
  ASSERT_TRUE(again.OpenForRewrite(name));
  again.Close();
  EXPECT_EQ(lanshu::testing::FileBytes(native), "");
  again.Write("ignored");  // writing to a closed file does nothing
  EXPECT_FALSE(ResultFile().OpenForRewrite("/nonexistent-dir/x.csv"));
}

TEST(ResultFiles, PrepareResultFolderCreatesItOrSaysWhyNot) {
  const std::string dir = TempDir();
  EXPECT_EQ(PrepareResultFolder(dir + "/"), 0);
  EXPECT_EQ(PrepareResultFolder(Utf8TextToGbk(dir + "/结果/深/")), 0);
  EXPECT_TRUE(IsDir(dir + "/结果/深"));
  // The probe file is gone again.
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/结果/深"));

  { std::ofstream(dir + "/file") << "x"; }
  EXPECT_EQ(PrepareResultFolder(dir + "/file/"), ENOTDIR);     // exists, but as a file
  EXPECT_EQ(PrepareResultFolder(dir + "/file/sub/"), ENOTDIR); // cannot be made
  int error = 0;
  EXPECT_FALSE(MakeDirectoryPath(dir + "/file/sub/", &error));
  EXPECT_EQ(error, ENOTDIR);

  EXPECT_EQ(GbkToUtf8Text(FolderErrorText(ENOTDIR)), "路径中有同名的文件");
  EXPECT_EQ(GbkToUtf8Text(FolderErrorText(EACCES)), "没有写入权限");
  EXPECT_EQ(GbkToUtf8Text(FolderErrorText(EIO)), "错误代码 " + std::to_string(EIO));
  EXPECT_EQ(FolderErrorTextEnglish(ENOTDIR), "a file stands in the path");
  EXPECT_EQ(FolderErrorTextEnglish(EIO), "error " + std::to_string(EIO));
}

// Every way a line can fail to reach the disk is told, with its reason.
TEST(ResultFiles, FailuresToOpenWriteOrCloseAreTold) {
  ResultFile file;
  EXPECT_FALSE(file.OpenForRewrite("/nonexistent-lanshu-dir/a.csv"));
  EXPECT_EQ(file.Error(), ENOENT);
  EXPECT_TRUE(file.Write("ignored\r\n"));  // nothing open: nothing to lose
  EXPECT_TRUE(file.Close());

  // /dev/full takes the open and refuses every byte.
  ASSERT_TRUE(file.OpenForAppend("/dev/full"));
  EXPECT_FALSE(file.Write("line\r\n"));
  EXPECT_EQ(file.Error(), ENOSPC);
  file.Close();

  const std::string dir = TempDir();
  ASSERT_TRUE(file.OpenForRewrite(dir + "/ok.csv"));
  EXPECT_TRUE(file.Write("a\r\n"));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(file.Error(), 0);
  std::filesystem::remove_all(dir);
}
