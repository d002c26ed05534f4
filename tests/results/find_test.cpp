#include "results/Find.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "results/store_table.h"

using namespace lanshu;
using lanshu::testing::G;
using lanshu::testing::StoreTable;

namespace {

constexpr int kAll = 8;  // index of "【全部列】" for the eight rank columns

StoreTable Keywords(std::initializer_list<const char*> keywords) {
  StoreTable t;
  int n = 0;
  for (const char* k : keywords) t.Add({std::to_string(++n), "a.example", G(k)});
  return t;
}

struct Box : CheckableControl {
  bool checked = false;
  std::string Caption() const override { return G("忽视大小写"); }
  bool Checked() const override { return checked; }
  void SetChecked(bool c) override { checked = c; }
};

}  // namespace

TEST(FindInList, WalksDownAndWrapsOnce) {
  StoreTable t = Keywords({"x", "hit", "y", "z", "w", "hit"});
  t.SelectRow(2);
  EXPECT_EQ(FindNextInList(t, 2, kAll, "hit", false), FindResult::kSelected);
  EXPECT_EQ(t.SelectedRow(), 5);
  EXPECT_EQ(t.scrolledTo, 5);
  EXPECT_EQ(t.focusCalls, 1);
  EXPECT_EQ(FindNextInList(t, 2, kAll, "hit", false), FindResult::kSelected);
  EXPECT_EQ(t.SelectedRow(), 1);

  // The only match is the selected row: the search wraps to it.
  StoreTable only = Keywords({"a", "b", "hit"});
  only.SelectRow(2);
  EXPECT_EQ(FindNextInList(only, 2, kAll, "hit", false), FindResult::kSelected);
  EXPECT_EQ(only.SelectedRow(), 2);

  // No match: the selection is cleared and the message is due.
  only.SelectRow(1);
  EXPECT_EQ(FindNextInList(only, 2, kAll, "none", false), FindResult::kNotFound);
  EXPECT_EQ(only.SelectedRow(), -1);
  EXPECT_EQ(FindNextInList(only, 2, kAll, "none", false), FindResult::kNotFound);
  StoreTable empty;
  EXPECT_EQ(FindNextInList(empty, kAll, kAll, "", false), FindResult::kNotFound);
  EXPECT_EQ(empty.focusCalls, 0);
}

TEST(FindInList, SubjectIsCellOrWholeRow) {
  StoreTable t = Keywords({"中文Key", "other"});
  EXPECT_TRUE(RowMatches(t, 0, 2, kAll, "Key", false));
  EXPECT_FALSE(RowMatches(t, 0, 1, kAll, "Key", false));
  EXPECT_FALSE(RowMatches(t, 0, 2, kAll, "KEY", false));
  EXPECT_TRUE(RowMatches(t, 0, 2, kAll, "KEY", true));
  EXPECT_TRUE(RowMatches(t, 0, 2, kAll, G("文k"), true));
  // Across the comma between two cells only in the whole row.
  EXPECT_TRUE(RowMatches(t, 0, kAll, kAll, "example," + G("中"), false));
  EXPECT_FALSE(RowMatches(t, 0, 1, kAll, "example,", false));
  // Never inside a double-byte character; letter folding leaves trail bytes.
  StoreTable raw;
  raw.Add({"\xD6\xD0", "\x81Z"});
  EXPECT_FALSE(RowMatches(raw, 0, 0, kAll, "\xD0", false));
  EXPECT_FALSE(RowMatches(raw, 0, 1, kAll, "z", true));
  EXPECT_TRUE(RowMatches(raw, 0, 1, kAll, "\x81Z", true));
  EXPECT_FALSE(RowMatches(raw, 0, 1, kAll, "\x81z", true));
  // An empty text matches rows whose subject is not empty.
  EXPECT_TRUE(RowMatches(t, 1, 2, kAll, "", false));
  EXPECT_FALSE(RowMatches(t, 1, 5, kAll, "", false));
  EXPECT_FALSE(RowMatches(t, 5, kAll, kAll, "", false));
  EXPECT_EQ(FindColumnItems(t).back(), G("【全部列】"));
  EXPECT_EQ(FindColumnItems(t).size(), 9u);
  EXPECT_EQ(kNotFoundText, G("完全找不到！"));
}

TEST(FindInList, SettingsSurviveReopening) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("lanshu_find_" + std::to_string(::getpid()) + ".ini")).string();
  std::filesystem::remove(path);
  {
    ConfigStore store;
    ASSERT_TRUE(store.Load(path));
    std::string text = "first";
    int column = kAll;
    Box box;
    LoadFindSettings(store, text, column, box);  // nothing stored: values stay
    EXPECT_EQ(text, "first");
    EXPECT_EQ(column, kAll);
    box.checked = true;
    SaveFindSettings(store, G("关键"), 3, box);
  }
  ConfigStore store;
  ASSERT_TRUE(store.Load(path));
  std::string text;
  int column = kAll;
  Box box;
  LoadFindSettings(store, text, column, box);
  EXPECT_EQ(text, G("关键"));
  EXPECT_EQ(column, 3);
  EXPECT_TRUE(box.checked);
  EXPECT_EQ(store.ReadValue(G("查找参数"), G("列")), "3");
  std::filesystem::remove(path);
}
