#include "app/RunControls.h"

#include <QDir>
#include <QTextDocument>
#include <iterator>

#include "app/MainWindow.h"
#include "app/QtText.h"
#include "store/ConfigStore.h"

namespace lanshu {
namespace {

std::string Gbk(const char* utf8) { return ControlTextToGbk(QString::fromUtf8(utf8)); }

// A text as a one-line edit gives back what it was set to: cut at its
// length limit.
std::string AsLineEdit(const std::string& gbk) {
  constexpr int kMaxLength = 32767;  // a line edit's own limit
  return ControlTextToGbk(GbkToControlText(gbk).left(kMaxLength));
}

// A text as a multi-line edit gives back what it was set to: its document
// keeps paragraphs, not line ends.
std::string AsMultiLine(const std::string& gbk) {
  QTextDocument document;
  document.setPlainText(GbkToControlText(gbk));
  return ControlTextToGbk(document.toPlainText());
}

// A combo box shows no item for an index outside its items.
int AsComboIndex(double stored, int items) {
  const int index = static_cast<int>(stored);
  return index >= 0 && index < items ? index : -1;
}

class StoredBox : public CheckableControl {
 public:
  StoredBox(const char* caption, bool& checked) : caption_(Gbk(caption)), checked_(checked) {}
  std::string Caption() const override { return caption_; }
  bool Checked() const override { return checked_; }
  void SetChecked(bool checked) override { checked_ = checked; }

 private:
  std::string caption_;
  bool& checked_;
};

}  // namespace

std::string design::ResultFolder() {
#ifdef _WIN32
  return "C:\\挖掘的关键词";
#else
  return (QDir::homePath() + QStringLiteral("/挖掘的关键词")).toStdString();
#endif
}

bool RunControls::operator==(const RunControls& o) const {
  return domains == o.domains && sortIndex == o.sortIndex && exportMode == o.exportMode &&
         exportTemplate == o.exportTemplate && filterDuplicates == o.filterDuplicates &&
         convertLinks == o.convertLinks && keywords == o.keywords && limit == o.limit && volume == o.volume &&
         indexed == o.indexed && firstSite == o.firstSite && secondSite == o.secondSite &&
         difficulty == o.difficulty && autoSave == o.autoSave && separateFiles == o.separateFiles &&
         keepSeed == o.keepSeed && directory == o.directory && extension == o.extension &&
         pageInterval == o.pageInterval && keywordInterval == o.keywordInterval;
}

RunControls DesignControls() {
  RunControls c;
  c.domains = AsLineEdit(Gbk(design::kDomains));
  c.exportTemplate = AsLineEdit(Gbk(design::kTemplate));
  c.keywords = AsMultiLine(Gbk(design::kKeywords));
  c.limit = Gbk(design::kLimit);
  c.directory = AsLineEdit(Gbk(design::ResultFolder().c_str()));
  c.extension = Gbk(design::kExtension);
  c.pageInterval = Gbk(design::kPageInterval);
  c.keywordInterval = Gbk(design::kKeywordInterval);
  return c;
}

RunControls ControlsOf(const MainWindow& w) {
  RunControls c;
  c.domains = ControlTextToGbk(w.编辑框域名->text());
  c.sortIndex = w.组合框排序->currentIndex();
  c.exportMode = w.组合框导出模式->currentIndex();
  c.exportTemplate = ControlTextToGbk(w.编辑框表达式->text());
  c.filterDuplicates = w.选择框自动过滤重复关键字->isChecked();
  c.convertLinks = w.选择框转换百度链接->isChecked();
  c.keywords = ControlTextToGbk(w.编辑框关键词列表->toPlainText());
  c.limit = ControlTextToGbk(w.编辑框限定数量->text());
  c.volume = w.选择框搜索量->isChecked();
  c.indexed = w.选择框收录量->isChecked();
  c.firstSite = w.选择框第一位->isChecked();
  c.secondSite = w.选择框第二位->isChecked();
  c.difficulty = w.选择框优化难度->isChecked();
  c.autoSave = w.选择框自动保存目录->isChecked();
  c.separateFiles = w.选择框独立保存->isChecked();
  c.keepSeed = w.选择框保留加入->isChecked();
  c.directory = ControlTextToGbk(w.编辑框目录->text());
  c.extension = ControlTextToGbk(w.编辑框扩展名->text());
  c.pageInterval = ControlTextToGbk(w.编辑框页间隔->text());
  c.keywordInterval = ControlTextToGbk(w.编辑框关键词间隔->text());
  return c;
}

// Key by key as the window loads its settings, in the same order.
RunControls ControlsFromSettings(ConfigStore& s) {
  RunControls c = DesignControls();
  s.SetSection(Gbk("基本参数"));
  c.domains = AsLineEdit(s.ReadText(Gbk("域名"), c.domains));
  c.sortIndex = AsComboIndex(s.ReadNumber(Gbk("排序"), c.sortIndex), static_cast<int>(std::size(design::kSortItems)));
  c.exportMode =
      AsComboIndex(s.ReadNumber(Gbk("导出模式"), c.exportMode), static_cast<int>(std::size(design::kExportItems)));
  c.exportTemplate = AsLineEdit(s.ReadText(Gbk("表达式"), c.exportTemplate));

  s.SetSection(Gbk("基本配置_挖掘"));
  c.keywords = AsMultiLine(s.ReadText(Gbk("关键词"), c.keywords));
  c.limit = AsLineEdit(s.ReadText(Gbk("限定数量"), c.limit));
  for (auto [caption, checked] : {std::pair{design::kVolume, &c.volume}, std::pair{design::kIndexed, &c.indexed},
                                  std::pair{design::kFirstSite, &c.firstSite},
                                  std::pair{design::kSecondSite, &c.secondSite},
                                  std::pair{design::kDifficulty, &c.difficulty},
                                  std::pair{design::kFilter, &c.filterDuplicates},
                                  std::pair{design::kConvert, &c.convertLinks},
                                  std::pair{design::kAutoSave, &c.autoSave},
                                  std::pair{design::kSeparate, &c.separateFiles}}) {
    StoredBox box(caption, *checked);
    s.LoadCheckBox(box);
  }
  c.directory = AsLineEdit(s.ReadText(Gbk("保存目录"), c.directory));
  c.extension = AsLineEdit(s.ReadText(Gbk("扩展名"), c.extension));
  c.keywordInterval = AsLineEdit(s.ReadText(Gbk("关键词间隔"), c.keywordInterval));
  c.pageInterval = AsLineEdit(s.ReadText(Gbk("页间隔"), c.pageInterval));
  return c;
}

std::string RunSettingsText(const RunControls& c, RunKind kind) {
  std::string text;
  const auto add = [&text](const char* key, const std::string& value) {
    text += Gbk(key) + "=" + value + "\r\n";
  };
  if (kind == RunKind::kRank) {
    add("排序", std::to_string(c.sortIndex));
    add("导出模式", std::to_string(c.exportMode));
    add("表达式", c.exportTemplate);
  } else {
    add("限定数量", c.limit);
    add("关键词间隔", c.keywordInterval);
    add("页间隔", c.pageInterval);
    add("扩展名", c.extension);
  }
  return text;
}

std::vector<std::string> RankListTitles() {
  return {Gbk("序号"), Gbk("域名"), Gbk("关键字"), Gbk("排名"), Gbk("搜索量"), Gbk("收录量"), Gbk("网页标题"), Gbk("链接")};
}

ControlsRankUi::ControlsRankUi(RunControls controls)
    : table(RankListTitles()),
      controls_(std::move(controls)),
      caption_(Gbk("开始采集")) {}

ControlsMiningUi::ControlsMiningUi(RunControls controls)
    : controls_(std::move(controls)), caption_(Gbk("开始挖掘")) {}

}  // namespace lanshu
