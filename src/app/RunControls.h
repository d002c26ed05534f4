#pragma once
// What the window's run controls hold, as the runs read them (GBK texts):
// from the window at a click, or from a settings file as loading it into the
// window would leave them. A run without a window goes by the second, so it
// collects exactly what the window would with the same file.
#include <string>

#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "results/LineStore.h"
#include "results/MemoryTable.h"

namespace lanshu {

class ConfigStore;
class MainWindow;

// The controls' texts and states as the window is designed (UTF-8), before
// any settings are loaded.
namespace design {
inline constexpr const char* kDomains = "example.com|example.net|example.org";
inline constexpr const char* kSortItems[] = {"按排名", "按来访", "按指数"};
inline constexpr const char* kExportItems[] = {"Excel兼容csv格式", "自由引用列"};
inline constexpr const char* kTemplate = "#1,#2,#3,#4,#5,#6,#7,#8";
inline constexpr const char* kKeywords = "减肥\n丰胸";
inline constexpr const char* kLimit = "0";
inline constexpr const char* kExtension = "csv";
inline constexpr const char* kPageInterval = "0.1";
inline constexpr const char* kKeywordInterval = "0.5";
// The check boxes' captions, which are also their keys in the settings.
inline constexpr const char* kVolume = "搜索量";
inline constexpr const char* kIndexed = "收录量";
inline constexpr const char* kFirstSite = "第一位";
inline constexpr const char* kSecondSite = "第二位";
inline constexpr const char* kDifficulty = "优化难度";
inline constexpr const char* kFilter = "自动过滤重复关键字";
inline constexpr const char* kConvert = "转换百度链接";
inline constexpr const char* kAutoSave = "自动保存目录";
inline constexpr const char* kSeparate = "不同关键词独立保存";
inline constexpr const char* kKeepSeed = "保留无结果词";
// The result folder before one is chosen (UTF-8).
std::string ResultFolder();
}  // namespace design

struct RunControls {
  // Rank query.
  std::string domains;
  int sortIndex = 0;  // -1: no item
  int exportMode = 0;
  std::string exportTemplate;
  bool filterDuplicates = false, convertLinks = false;
  // Keyword mining.
  std::string keywords;  // "\r\n" line ends
  std::string limit;
  bool volume = false, indexed = false, firstSite = false, secondSite = false, difficulty = false;
  bool autoSave = false, separateFiles = false, keepSeed = true;
  std::string directory, extension, pageInterval, keywordInterval;

  bool operator==(const RunControls& other) const;
};

// As the window is designed.
RunControls DesignControls();
// As the window holds them now.
RunControls ControlsOf(const MainWindow& window);
// As loading the settings would leave the window designed above.
RunControls ControlsFromSettings(ConfigStore& store);

// The settings kept with a run in the history (GBK).
std::string RunSettingsText(const RunControls& controls, RunKind kind);

// A rank query's side of the controls without a window: the list is a
// table in memory, the status texts go to onStatus.
// The rank list's column titles (GBK).
std::vector<std::string> RankListTitles();

class ControlsRankUi : public RankUi {
 public:
  explicit ControlsRankUi(RunControls controls);
  std::function<void(const std::string&)> onStatus;
  MemoryTable table;

  std::string StartCaption() const override { return caption_; }
  void SetStartCaption(const std::string& caption) override { caption_ = caption; }
  std::string DomainText() const override { return controls_.domains; }
  int SortIndex() const override { return controls_.sortIndex; }
  void SetStatusText(const std::string& text) override {
    if (onStatus) onStatus(text);
  }
  bool FilterDuplicates() const override { return controls_.filterDuplicates; }
  bool ConvertLinks() const override { return controls_.convertLinks; }
  int ExportMode() const override { return controls_.exportMode; }
  std::string ExportTemplate() const override { return controls_.exportTemplate; }
  ResultTable& List() override { return table; }

 private:
  RunControls controls_;
  std::string caption_;
};

// Keyword mining's side: the result box is a line store, as the window's.
class ControlsMiningUi : public MiningUi {
 public:
  explicit ControlsMiningUi(RunControls controls);
  std::function<void(const std::string&)> onStatus;
  LineStore results;

  std::string StartCaption() const override { return caption_; }
  void SetStartCaption(const std::string& caption) override { caption_ = caption; }
  std::string KeywordListText() const override { return controls_.keywords; }
  void ClearResults() override { results.Clear(); }
  void AppendResult(const std::string& text) override { results.Append(text); }
  bool VolumeChecked() const override { return controls_.volume; }
  bool IndexedChecked() const override { return controls_.indexed; }
  bool FirstSiteChecked() const override { return controls_.firstSite; }
  bool SecondSiteChecked() const override { return controls_.secondSite; }
  bool DifficultyChecked() const override { return controls_.difficulty; }
  bool KeepSeedChecked() const override { return controls_.keepSeed; }
  bool AutoSaveChecked() const override { return controls_.autoSave; }
  bool SeparateFilesChecked() const override { return controls_.separateFiles; }
  std::string LimitText() const override { return controls_.limit; }
  std::string DirectoryText() const override { return controls_.directory; }
  std::string ExtensionText() const override { return controls_.extension; }
  std::string PageIntervalText() const override { return controls_.pageInterval; }
  std::string KeywordIntervalText() const override { return controls_.keywordInterval; }
  void SetStatusText(const std::string& text) override {
    if (onStatus) onStatus(text);
  }

 private:
  RunControls controls_;
  std::string caption_;
};

}  // namespace lanshu
