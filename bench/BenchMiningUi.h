#pragma once
// The mining tab for benchmarks: every metric column ticked, nothing saved,
// no pauses; the lines are kept in memory.
#include <string>

#include "mining/Mining.h"
#include "text/Codec.h"

namespace lanshu {

class BenchMiningUi : public MiningUi {
 public:
  std::string caption = Utf8TextToGbk("开始挖掘");
  std::string keywords;
  std::string results;
  std::string StartCaption() const override { return caption; }
  void SetStartCaption(const std::string& c) override { caption = c; }
  std::string KeywordListText() const override { return keywords; }
  void ClearResults() override { results.clear(); }
  void AppendResult(const std::string& text) override { results += text; }
  bool VolumeChecked() const override { return true; }
  bool IndexedChecked() const override { return true; }
  bool FirstSiteChecked() const override { return true; }
  bool SecondSiteChecked() const override { return true; }
  bool DifficultyChecked() const override { return true; }
  bool KeepSeedChecked() const override { return true; }
  bool AutoSaveChecked() const override { return false; }
  bool SeparateFilesChecked() const override { return false; }
  std::string LimitText() const override { return "0"; }
  std::string DirectoryText() const override { return "/tmp/lanshu-mining-bench"; }
  std::string ExtensionText() const override { return "csv"; }
  std::string PageIntervalText() const override { return "0"; }
  std::string KeywordIntervalText() const override { return "0"; }
  void SetStatusText(const std::string&) override {}
};

}  // namespace lanshu
