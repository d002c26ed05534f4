#include "results/ResultTable.h"

#include <gtest/gtest.h>

using namespace lanshu;

TEST(RowStore, CellsKeepTheirTextsWhenNeighboursChange) {
  RowStore store({"a", "b", "c"});
  EXPECT_EQ(store.AppendRow("1"), 0);
  store.SetCellText(0, 2, "third");
  store.SetCellText(0, 1, "second, longer");
  store.SetCellText(0, 0, "");
  EXPECT_EQ(store.CellText(0, 0), "");
  EXPECT_EQ(store.CellText(0, 1), "second, longer");
  EXPECT_EQ(store.CellText(0, 2), "third");
  store.SetCellText(0, 1, "s");
  EXPECT_EQ(store.RowCells(0), (std::vector<std::string>{"", "s", "third"}));
}

TEST(RowStore, OutOfRangeAccessIsHarmless) {
  RowStore store({"a", "b"});
  store.AppendRow("x");
  EXPECT_EQ(store.CellText(1, 0), "");
  EXPECT_EQ(store.CellText(0, 2), "");
  EXPECT_EQ(store.CellText(-1, 0), "");
  store.SetCellText(5, 0, "ignored");
  EXPECT_EQ(store.ColumnTitle(9), "");
  store.SetRow(0, {"p"});
  EXPECT_EQ(store.RowCells(0), (std::vector<std::string>{"p", ""}));
  store.Clear();
  EXPECT_EQ(store.RowCount(), 0);
}
