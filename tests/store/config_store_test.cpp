#include "store/ConfigStore.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "TestSupport.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;
namespace fs = std::filesystem;

namespace {

const std::string kMarker = "\xA9\xAE*\xA9\xAE";  // ┊*┊
const std::string kTrue = "\xD5\xE6";              // 真
const std::string kFalse = "\xBC\xD9";             // 假
const std::string kTitle = "\xC7\xE0\xC0\xE9\xA3\xBA";  // 青篱：

struct Box : CheckableControl {
  std::string caption;
  bool checked = false;
  std::string Caption() const override { return caption; }
  bool Checked() const override { return checked; }
  void SetChecked(bool c) override { checked = c; }
};

struct Window : WindowGeometry {
  int placement = 0, left = 0, top = 0, width = 0, height = 0;
  int Placement() const override { return placement; }
  void SetPlacement(int p) override { placement = p; }
  int Left() const override { return left; }
  int Top() const override { return top; }
  int Width() const override { return width; }
  int Height() const override { return height; }
  void Move(int l, int t, int w, int h) override { std::tie(left, top, width, height) = std::tie(l, t, w, h); }
};

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/config_store_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/settings.ini";
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      boxes_.push_back({text, flags, title});
      return kIdOk;
    });
  }
  void TearDown() override {
    SetMessageBoxHook(nullptr);
    SetConfigStoreFaultHook(nullptr);
    SetEventPump(nullptr);
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  static void PutFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  int FilesInDir() const { return static_cast<int>(std::distance(fs::directory_iterator(dir_), {})); }

  struct Shown {
    std::string text;
    int flags;
    std::string title;
  };
  std::string dir_, path_;
  std::vector<Shown> boxes_;
  ConfigStore store_;
};

TEST_F(ConfigStoreTest, EditsTheFileExactlyAsDefined) {
  ASSERT_TRUE(store_.Open(path_));
  EXPECT_TRUE(fs::exists(path_));  // a missing file is created empty
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "");

  EXPECT_TRUE(store_.WriteValue("S", "k", "v"));
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=v");
  EXPECT_TRUE(store_.WriteValue("T", "j", "1"));
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=v\r\n[T]\r\nj=1");
  EXPECT_TRUE(store_.WriteValue("S", "k2", "w"));  // a new key goes above the first
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk2=w\r\nk=v\r\n[T]\r\nj=1");
  EXPECT_TRUE(store_.WriteValue("S", "k", "longer value"));
  EXPECT_TRUE(store_.WriteValue("T", "j", ""));
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk2=w\r\nk=longer value\r\n[T]\r\nj=");
  EXPECT_EQ(store_.GetAllText(), lanshu::testing::FileBytes(path_));
  EXPECT_EQ(store_.ReadValue("S", "k"), "longer value");
  EXPECT_EQ(store_.ReadValue("S", "k2"), "w");
  EXPECT_TRUE(store_.LastWriteReachedDisk());
}

TEST_F(ConfigStoreTest, TextValuesKeepLineBreaksAsMarker) {
  store_.SetSection("S");
  store_.WriteText("k", "a\r\nb\r\n");
  EXPECT_EQ(store_.GetAllText(), "[S]\r\nk=a" + kMarker + "b" + kMarker);
  EXPECT_EQ(store_.ReadText("k"), "a\r\nb\r\n");
  EXPECT_EQ(store_.ReadText("missing", "x" + kMarker + "y"), "x\r\ny");  // the default takes the same path
  store_.WriteText("lone", "a\nb\rc");                                    // only CR LF pairs are replaced
  EXPECT_EQ(store_.ReadValue("S", "lone"), "a\nb\rc");
}

TEST_F(ConfigStoreTest, EmptyValueIsAValueNotTheDefault) {
  store_.SetAllText("[S]\r\nk=\r\nb=");
  store_.SetSection("S");
  EXPECT_EQ(store_.ReadValue("S", "k", "d"), "");
  EXPECT_EQ(store_.ReadValue("S", "k", "d", true), "d");
  EXPECT_EQ(store_.ReadText("k", "d"), "");
  EXPECT_EQ(store_.ReadNumber("k", 5), 0);
  EXPECT_FALSE(store_.ReadBool("b", true));
  EXPECT_TRUE(store_.ReadBoolNotFalse("b", false));
  EXPECT_EQ(store_.ReadValue("S", "none", "d"), "d");
  EXPECT_EQ(store_.ReadValue("Q", "k", "d"), "d");
}

TEST_F(ConfigStoreTest, SectionsAreFoundOnlyAtLineStarts) {
  store_.SetAllText("k=top\r\n[A]\r\nk=1\r\nv=x [B]\r\n[B]\r\nk=2\r\nonly=b\r\n[C] \r\nc=3");
  EXPECT_EQ(store_.ReadValue("A", "k"), "1");
  EXPECT_EQ(store_.ReadValue("B", "k"), "2");
  EXPECT_EQ(store_.ReadValue("A", "only", "d"), "d");  // a later section's entry is not ours
  EXPECT_EQ(store_.ReadValue("C", "c"), "3");          // text after "]" does not hide a header
  EXPECT_EQ(store_.FindSectionHeader(0, 1000), 8);     // "[A]" at byte 8
  EXPECT_EQ(store_.FindSectionHeader(8, 1000), 27);
  EXPECT_EQ(store_.FindSectionHeader(8, 27), -1);      // strictly between
  store_.WriteValue("A", "only", "a");                 // so writing makes a new entry in A
  EXPECT_EQ(store_.ReadValue("A", "only"), "a");
  EXPECT_EQ(store_.ReadValue("B", "only"), "b");

  store_.SetAllText("[X]\r\nv=[S]\r\n [S]\r\nk=no");
  EXPECT_EQ(store_.ReadValue("S", "k", "d"), "d");
  store_.WriteValue("S", "k", "yes");  // neither text counts, so the section is appended
  EXPECT_EQ(store_.GetAllText(), "[X]\r\nv=[S]\r\n [S]\r\nk=no\r\n[S]\r\nk=yes");
  store_.WriteValue("X", "k", "x");    // " [S]" ends no section: that entry is X's
  EXPECT_EQ(store_.GetAllText(), "[X]\r\nv=[S]\r\n [S]\r\nk=x\r\n[S]\r\nk=yes");
}

TEST_F(ConfigStoreTest, NumbersBoolsAndDateTimesAsText) {
  store_.SetSection("S");
  const std::vector<std::pair<double, std::string>> numbers = {
      {2, "2"}, {-3, "-3"}, {0.5, "0.5"}, {0.1, "0.1"}, {1e20, "100000000000000000000"}, {-0.0, "0"}};
  for (const auto& [number, text] : numbers) {
    store_.WriteNumber("n", number);
    EXPECT_EQ(store_.ReadValue("S", "n"), text);
    EXPECT_EQ(store_.ReadNumber("n", 7), number);
  }
  store_.WriteNumber("n", 1.0 / 3);
  EXPECT_EQ(store_.ReadNumber("n"), 1.0 / 3);
  for (const auto& [text, number] : std::vector<std::pair<std::string, double>>{
           {"12abc", 12}, {" -4.5e1x", -45}, {"+3", 3}, {"abc", 0}, {".5", 0.5}, {"1e999", HUGE_VAL}}) {
    store_.WriteValue("S", "n", text);
    EXPECT_EQ(store_.ReadNumber("n", 7), number) << text;
  }
  EXPECT_EQ(store_.ReadNumber("missing", 7.25), 7.25);

  store_.WriteBool("t", true);
  store_.WriteBool("f", false);
  EXPECT_EQ(store_.ReadValue("S", "t"), kTrue);
  EXPECT_EQ(store_.ReadValue("S", "f"), kFalse);
  EXPECT_TRUE(store_.ReadBool("t"));
  EXPECT_FALSE(store_.ReadBoolNotFalse("f", true));
  store_.WriteValue("S", "o", "1");
  EXPECT_FALSE(store_.ReadBool("o", true));
  EXPECT_TRUE(store_.ReadBoolNotFalse("o"));
  EXPECT_TRUE(store_.ReadBool("missing", true));

  const std::tm when = lanshu::testing::FixedClock();
  store_.WriteDateTime("d", when);
  EXPECT_EQ(store_.ReadValue("S", "d"), "2024-03-05 14:07:09");
  std::tm back = store_.ReadDateTime("d", std::tm{});
  EXPECT_EQ(ConfigStore::DateTimeText(back), "2024-03-05 14:07:09");
  EXPECT_EQ(back.tm_wday, 2);  // a Tuesday
  EXPECT_EQ(back.tm_yday, 64);
  store_.WriteValue("S", "d", "2023-02-29 10:00:00");  // no such day
  EXPECT_EQ(store_.ReadDateTime("d", when).tm_mday, 5);
  store_.WriteValue("S", "d", "2024-02-29");
  EXPECT_EQ(ConfigStore::DateTimeText(store_.ReadDateTime("d", when)), "2024-02-29 00:00:00");
}

TEST_F(ConfigStoreTest, ControlStatesKeyOnTheCaption) {
  store_.SetSection("\xBB\xF9\xB1\xBE");
  Box box;
  box.caption = "\xCB\xD1\xCB\xF7\xC1\xBF";  // 搜索量
  box.checked = true;
  EXPECT_TRUE(store_.SaveCheckBox(box));
  EXPECT_EQ(store_.GetAllText(), "[\xBB\xF9\xB1\xBE]\r\n" + box.caption + "=" + kTrue);
  box.checked = false;
  EXPECT_TRUE(store_.LoadCheckBox(box));
  EXPECT_TRUE(box.checked);

  Box other;
  other.caption = "other";
  other.checked = true;  // a missing key leaves the control as it is
  EXPECT_TRUE(store_.LoadMenuCheck(other));
  EXPECT_TRUE(other.checked);
  other.checked = false;
  EXPECT_FALSE(store_.LoadOptionBox(other));
  store_.SaveOptionBox(other);
  other.checked = true;
  EXPECT_FALSE(store_.LoadCheckBox(other));
  EXPECT_FALSE(other.checked);

  Window w;
  w.placement = 1, w.left = 10, w.top = 20, w.width = 990, w.height = 602;
  store_.SaveWindowGeometry(w);
  EXPECT_EQ(store_.Section(), "\xBB\xF9\xB1\xBE");  // untouched
  EXPECT_EQ(store_.ReadValue("\xD6\xF7\xBD\xE7\xC3\xE6.\xB3\xDF\xB4\xE7", "\xBF\xED\xB6\xC8"), "990");  // 主界面.尺寸/宽度
  Window restored;
  store_.RestoreWindowGeometry(restored);
  EXPECT_EQ(std::tie(restored.placement, restored.left, restored.top, restored.width, restored.height),
            std::tie(w.placement, w.left, w.top, w.width, w.height));
  Window maximised;
  maximised.placement = 3, maximised.width = 5;
  store_.SaveWindowGeometry(maximised, "x");
  EXPECT_NE(store_.GetAllText().find("\r\n[x.\xB3\xDF\xB4\xE7]\r\n\xCE\xBB\xD6\xC3=3"), std::string::npos);
  EXPECT_EQ(store_.ReadValue("x.\xB3\xDF\xB4\xE7", "\xBF\xED\xB6\xC8", "none"), "none");
}

TEST_F(ConfigStoreTest, ListsRenamesAndDeletes) {
  store_.SetAllText("junk=0\r\n[A]\r\nk=1\r\nx=10\r\n[B]\r\nk=\r\ny=1\r\n[C]\r\nz=2");
  std::vector<std::string> out;
  EXPECT_EQ(store_.ListSections(out), 3);
  EXPECT_EQ(out, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(store_.ListSections(out, "", "B"), 2);
  EXPECT_EQ(store_.ListKeys(out, "B"), 2);
  EXPECT_EQ(out, (std::vector<std::string>{"k", "y"}));
  EXPECT_EQ(store_.ListKeys(out, "A", "x"), 1);
  EXPECT_EQ(store_.SectionsWithKey("k", out), 2);
  EXPECT_EQ(out, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(store_.KeysWithValue("1", out), 3);  // "1", "10", "1"
  EXPECT_EQ(out, (std::vector<std::string>{"k", "x", "y"}));
  EXPECT_EQ(store_.KeysWithValue("1", out, "A"), 2);
  EXPECT_EQ(store_.KeysWithValue("", out), 1);
  EXPECT_EQ(out, (std::vector<std::string>{"k"}));

  EXPECT_TRUE(store_.RenameKey("B", "y", "yy"));
  EXPECT_FALSE(store_.RenameKey("A", "y", "q"));
  EXPECT_TRUE(store_.RenameSection("C", "CC"));
  EXPECT_EQ(store_.GetAllText(), "junk=0\r\n[A]\r\nk=1\r\nx=10\r\n[B]\r\nk=\r\nyy=1\r\n[CC]\r\nz=2");
  EXPECT_TRUE(store_.DeleteSection("A"));
  EXPECT_EQ(store_.GetAllText(), "junk=0\r\n[B]\r\nk=\r\nyy=1\r\n[CC]\r\nz=2");
  EXPECT_TRUE(store_.DeleteSection("CC"));
  EXPECT_EQ(store_.GetAllText(), "junk=0\r\n[B]\r\nk=\r\nyy=1");
  EXPECT_FALSE(store_.DeleteSection("CC"));
  EXPECT_TRUE(store_.DeleteSection("B"));
  EXPECT_EQ(store_.GetAllText(), "junk=0");
}

TEST_F(ConfigStoreTest, ReloadsAndKeepsModesApart) {
  PutFile(path_, "[S]\r\nk=1");
  ASSERT_TRUE(store_.Open(path_));
  PutFile(path_, "[S]\r\nk=2");
  EXPECT_EQ(store_.ReadValue("S", "k"), "1");  // reads never touch the disk
  EXPECT_TRUE(store_.Reload());
  EXPECT_EQ(store_.ReadValue("S", "k"), "2");
  fs::remove(path_);
  EXPECT_FALSE(store_.Reload());  // content kept
  EXPECT_EQ(store_.ReadValue("S", "k"), "2");
  store_.WriteValue("S", "k", "3");  // the next change brings the file back whole
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=3");

  for (int mode : {1, 2}) {  // memory mode; mode 2 behaves the same here
    ConfigStore memory;
    ASSERT_TRUE(memory.Open(path_, mode));
    EXPECT_EQ(memory.FileName(), path_);
    memory.WriteValue("S", "k", "memory");
    EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=3");
    EXPECT_TRUE(memory.SaveAs(dir_ + "/copy.ini"));
    EXPECT_EQ(lanshu::testing::FileBytes(dir_ + "/copy.ini"), "[S]\r\nk=memory");
  }
  store_.Close();
  EXPECT_EQ(store_.GetAllText(), "");
  store_.WriteValue("S", "k", "closed");  // no file any more: memory only
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=3");
}

TEST_F(ConfigStoreTest, FailedReplacementLeavesTheOldFileWhole) {
  ASSERT_TRUE(store_.Open(path_));
  store_.WriteValue("S", "k", "old");
  const std::string old = lanshu::testing::FileBytes(path_);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  for (DiskStep failing : {DiskStep::kCreateTemp, DiskStep::kWrite, DiskStep::kSync, DiskStep::kRename}) {
    SetConfigStoreFaultHook([failing](DiskStep step) { return step == failing; });
    EXPECT_TRUE(store_.WriteValue("S", "k", "a much longer new value"));  // memory took the change
    EXPECT_FALSE(store_.LastWriteReachedDisk());
    EXPECT_EQ(store_.ReadValue("S", "k"), "a much longer new value");
    EXPECT_EQ(lanshu::testing::FileBytes(path_), old);
    EXPECT_EQ(FilesInDir(), 1);  // no temporary file left behind
  }
  SetConfigStoreFaultHook(nullptr);
  store_.WriteValue("T", "j", "1");
  EXPECT_TRUE(store_.LastWriteReachedDisk());
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=a much longer new value\r\n[T]\r\nj=1");
  EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  // A directory that takes no new files: the store works in memory, the caller
  // can fall back to another place.
  SetConfigStoreFaultHook([](DiskStep step) { return step == DiskStep::kCreateTemp; });
  ConfigStore elsewhere;
  EXPECT_FALSE(elsewhere.Open(dir_ + "/new.ini"));
  EXPECT_FALSE(fs::exists(dir_ + "/new.ini"));
  EXPECT_TRUE(elsewhere.WriteValue("S", "k", "v"));
  EXPECT_EQ(elsewhere.ReadValue("S", "k"), "v");
  EXPECT_FALSE(elsewhere.Open(path_));  // an existing file cannot be replaced either
  EXPECT_EQ(elsewhere.ReadValue("T", "j"), "1");
}

TEST_F(ConfigStoreTest, ReadOnlyDirectoryIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  PutFile(path_, "[S]\r\nk=1");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(store_.Open(path_));
  EXPECT_EQ(store_.ReadValue("S", "k"), "1");
  EXPECT_TRUE(store_.WriteValue("S", "k", "2"));
  EXPECT_EQ(lanshu::testing::FileBytes(path_), "[S]\r\nk=1");
}

TEST_F(ConfigStoreTest, NestedChangesDuringEventsEndInTheWarning) {
  // A handler run while events are processed empties the store each time, so
  // the appended section never stays: after 11 appends the write gives up.
  int pumps = 0;
  SetEventPump([&] {
    ++pumps;
    store_.SetAllText("");
  });
  EXPECT_FALSE(store_.WriteValue("S", "k", "v"));
  EXPECT_EQ(pumps, 12);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text,
            "\xC5\xE4\xD6\xC3\xC4\xA3\xBF\xE9\xB3\xF6\xCF\xD6\xD2\xE2\xCD\xE2\xA3\xAC\xBF\xC9\xC4\xDC\xB5\xBC\xD6"
            "\xC2\xCE\xDE\xB7\xA8\xD5\xFD\xB3\xA3\xB1\xA3\xB4\xE6\xA3\xA1\xCF\xEA\xC7\xE9\xC7\xEB\xD7\xC9\xD1\xAF"
            "\xC7\xE0\xC0\xE9\xA1\xA3");
  EXPECT_EQ(boxes_[0].flags, 0x1030);
  EXPECT_EQ(boxes_[0].title, kTitle);
  EXPECT_EQ(boxes_[1].text, store_.GetAllText());
  EXPECT_EQ(boxes_[1].flags, 0x1040);
  SetEventPump(nullptr);
  EXPECT_TRUE(store_.WriteValue("S", "k", "v"));
}

TEST_F(ConfigStoreTest, PathsInGbkWithEitherSeparator) {
  const std::string name = "\xC7\xE0\xC0\xE9\xA1\xA4\xC0\xC0\xCA\xFD.ini";  // 青篱·览数.ini
  ASSERT_TRUE(store_.Open(dir_ + "\\" + name));
  EXPECT_TRUE(fs::exists(dir_ + "/\xE9\x9D\x92\xE7\xAF\xB1\xC2\xB7\xE8\xA7\x88\xE6\x95\xB0.ini"));  // UTF-8 name

  ConfigStore odd;  // 0x5C as a second byte (癨) is no separator
  odd.Open("a\\b/x\xB0\x5C.y.ini", 1);
  odd.SetSection("S");
  EXPECT_EQ(odd.RegistryPrefix(), "\xC7\xE0\xC0\xE9\xC8\xED\xBC\xFE\\x\xB0\x5C.y\\S\\");

  store_.SetSection("S");
  EXPECT_EQ(store_.ReadBinary("pic", "none"), "none");
  EXPECT_TRUE(store_.WriteBinary("pic", std::string("\0\x01\xFF", 3)));
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ + "/inibin/S-pic.ibn"), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(store_.ReadBinary("pic", "none"), std::string("\0\x01\xFF", 3));
  PutFile(dir_ + "/inibin/S-pic.ibn", "");
  EXPECT_EQ(store_.ReadBinary("pic", "none"), "none");
}

}  // namespace

TEST(FileEncodingTest, UnicodeEditorsFilesAreToldFromGbk) {
  const std::string gbk = "[\xBB\xF9\xB1\xBE\xB2\xCE\xCA\xFD]\r\n\xD3\xF2\xC3\xFB=a.com\r\n";  // [基本参数] 域名=
  const std::string utf8 = "[\xE5\x9F\xBA\xE6\x9C\xAC\xE5\x8F\x82\xE6\x95\xB0]\r\n\xE5\x9F\x9F\xE5\x90\x8D=a.com\r\n";
  EXPECT_EQ(DetectFileEncoding(""), FileEncoding::kGbk);
  EXPECT_EQ(DetectFileEncoding("[a]\r\nb=c\r\n"), FileEncoding::kGbk);  // ASCII reads alike
  EXPECT_EQ(DetectFileEncoding(gbk), FileEncoding::kGbk);
  EXPECT_EQ(DetectFileEncoding(utf8), FileEncoding::kUtf8);
  EXPECT_EQ(DetectFileEncoding("\xEF\xBB\xBF" + utf8), FileEncoding::kUtf8);
  EXPECT_EQ(DetectFileEncoding("\xEF\xBB\xBF[a]\r\n"), FileEncoding::kUtf8);
  // Valid UTF-8 that also reads as common GBK stays GBK, as it always was.
  EXPECT_EQ(DetectFileEncoding("\xC3\xA9"), FileEncoding::kGbk);
  // Neither: bytes no text has.
  EXPECT_EQ(DetectFileEncoding(std::string("\xFF\xFE\x00\x01\xFF", 5)), FileEncoding::kNeither);
  EXPECT_EQ(DetectFileEncoding("abc\x81"), FileEncoding::kNeither);  // a lead byte at the end, no UTF-8
}

TEST_F(ConfigStoreTest, AUtf8FileIsReadAndWrittenBackAsGbkInOnePiece) {
  // [基本参数] 域名=甲.com, as a text editor saves it with a byte-order mark.
  PutFile(path_, "\xEF\xBB\xBF[\xE5\x9F\xBA\xE6\x9C\xAC\xE5\x8F\x82\xE6\x95\xB0]\r\n\xE5\x9F\x9F\xE5\x90\x8D=\xE7\x94\xB2.com\r\n");
  ASSERT_TRUE(store_.Open(path_));
  EXPECT_EQ(store_.LoadedEncoding(), FileEncoding::kUtf8);
  EXPECT_EQ(store_.ReadValue("\xBB\xF9\xB1\xBE\xB2\xCE\xCA\xFD", "\xD3\xF2\xC3\xFB"), "\xBC\xD7.com");  // 甲.com
  store_.WriteValue("x", "k", "v");
  EXPECT_EQ(lanshu::testing::FileBytes(path_),
            "[\xBB\xF9\xB1\xBE\xB2\xCE\xCA\xFD]\r\n\xD3\xF2\xC3\xFB=\xBC\xD7.com\r\n\r\n[x]\r\nk=v");
}

TEST_F(ConfigStoreTest, AFileInNeitherEncodingIsLeftUntouched) {
  const std::string bytes("\xFF\xFE[\x00\x01]\r\nk=\xFF\r\n", 11);
  PutFile(path_, bytes);
  ASSERT_TRUE(store_.Open(path_));
  EXPECT_EQ(store_.LoadedEncoding(), FileEncoding::kNeither);
  EXPECT_EQ(store_.ReadValue("s", "k", "default"), "default");
  store_.WriteValue("s", "k", "v");
  EXPECT_EQ(store_.ReadValue("s", "k"), "v");  // kept in memory
  EXPECT_EQ(lanshu::testing::FileBytes(path_), bytes);
  // Neither a save to the loaded path nor a reload reads or writes it.
  int error = 0;
  EXPECT_FALSE(store_.SaveAs(std::string(), &error));
  EXPECT_EQ(error, EPERM);
  EXPECT_TRUE(store_.Reload());
  EXPECT_EQ(store_.GetAllText(), "");
  EXPECT_EQ(lanshu::testing::FileBytes(path_), bytes);
  // A reload of a file that became UTF-8 reads it as Load would.
  PutFile(path_, "\xEF\xBB\xBF[s]\r\nk=\xE7\x94\xB2");
  EXPECT_TRUE(store_.Reload());
  EXPECT_EQ(store_.LoadedEncoding(), FileEncoding::kUtf8);
  EXPECT_EQ(store_.GetAllText(), "[s]\r\nk=\xBC\xD7");
}
