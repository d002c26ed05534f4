#pragma once
// The window's controls as the rank query and keyword mining see them.
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"

namespace lanshu {

class RankWindowUi : public RankUi {
 public:
  RankWindowUi(MainWindow& w, ListViewTable& list) : w_(w), list_(list) {}
  std::string StartCaption() const override { return ToGbk(w_.按钮开始采集->text()); }
  void SetStartCaption(const std::string& c) override { w_.按钮开始采集->setText(FromGbk(c)); }
  std::string DomainText() const override { return ControlTextToGbk(w_.编辑框域名->text()); }
  std::u16string DomainTextWide() const override { return ControlTextWide(w_.编辑框域名->text()); }
  int SortIndex() const override { return w_.组合框排序->currentIndex(); }
  void SetStatusText(const std::string& t) override { w_.SetStatusText(FromGbk(t)); }
  bool FilterDuplicates() const override { return w_.选择框自动过滤重复关键字->isChecked(); }
  bool ConvertLinks() const override { return w_.选择框转换百度链接->isChecked(); }
  int ExportMode() const override { return w_.组合框导出模式->currentIndex(); }
  std::string ExportTemplate() const override { return ControlTextToGbk(w_.编辑框表达式->text()); }
  ResultTable& List() override { return list_; }

 private:
  MainWindow& w_;
  ListViewTable& list_;
};

class MiningWindowUi : public MiningUi {
 public:
  explicit MiningWindowUi(MainWindow& w) : w_(w) {}
  std::string StartCaption() const override { return ToGbk(w_.按钮开始挖掘->text()); }
  void SetStartCaption(const std::string& c) override { w_.按钮开始挖掘->setText(FromGbk(c)); }
  std::string KeywordListText() const override { return ControlTextToGbk(w_.编辑框关键词列表->toPlainText()); }
  std::u16string KeywordListWide() const override { return ControlTextWide(w_.编辑框关键词列表->toPlainText()); }
  void ClearResults() override { w_.编辑框结果关键词->clear(); }
  void AppendResult(const std::string& text) override;
  bool VolumeChecked() const override { return w_.选择框搜索量->isChecked(); }
  bool IndexedChecked() const override { return w_.选择框收录量->isChecked(); }
  bool FirstSiteChecked() const override { return w_.选择框第一位->isChecked(); }
  bool SecondSiteChecked() const override { return w_.选择框第二位->isChecked(); }
  bool DifficultyChecked() const override { return w_.选择框优化难度->isChecked(); }
  bool KeepSeedChecked() const override { return w_.选择框保留加入->isChecked(); }
  bool AutoSaveChecked() const override { return w_.选择框自动保存目录->isChecked(); }
  bool SeparateFilesChecked() const override { return w_.选择框独立保存->isChecked(); }
  std::string LimitText() const override { return ControlTextToGbk(w_.编辑框限定数量->text()); }
  std::string DirectoryText() const override { return ControlTextToGbk(w_.编辑框目录->text()); }
  std::string ExtensionText() const override { return ControlTextToGbk(w_.编辑框扩展名->text()); }
  std::string PageIntervalText() const override { return ControlTextToGbk(w_.编辑框页间隔->text()); }
  std::string KeywordIntervalText() const override { return ControlTextToGbk(w_.编辑框关键词间隔->text()); }
  void SetStatusText(const std::string& t) override { w_.SetStatusText(FromGbk(t)); }

 private:
  MainWindow& w_;
};

}  // namespace lanshu
