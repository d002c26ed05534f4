#pragma once
// Every input of a collection run, captured once when it starts: a control
// changed during the run affects the next run only, and a stored run can be
// repeated exactly. Texts are GBK, as everywhere in the program; the JSON
// form holds them as UTF-8.
#include <optional>
#include <string>
#include <vector>

#include "run/RunEvents.h"

namespace lanshu {

struct RunPlan {
  RunKind kind = RunKind::kRank;
  std::vector<std::string> targets;  // domains or seeds, trimmed, in order

  // Rank query.
  int sortIndex = 0;  // of the sort box: 0 position, 1 ip, 2 zhishu
  bool filterDuplicates = false;
  bool convertLinks = false;
  int exportMode = 0;  // 0 CSV, 1 the column template
  std::string exportTemplate;

  // Keyword mining: the ticked metrics, in the order of their columns.
  bool volume = false, indexed = false, firstSite = false, secondSite = false, difficulty = false;
  int limit = 0;  // lines per seed; 0: no limit
  bool keepSeed = false;
  int pageIntervalMs = 0;
  int keywordIntervalMs = 0;
  bool autoSave = false;       // result files in resultFolder
  bool separateFiles = false;  // one per seed
  std::string resultFolder;    // ends in the path separator
  std::string extension;

  // Both.
  Reliability reliability;
  std::string rankSite, keywordSite, searchSite;

  // A plan of `kind` for `targets`, with the inputs both kinds share; the
  // kind's own fields keep their defaults.
  static RunPlan For(RunKind kind, std::vector<std::string> targets, const Reliability& reliability,
                     std::string rankSite, std::string keywordSite, std::string searchSite);

  // The mining run's CSV header ("关键词,搜索量,..."; GBK).
  std::string MiningHeader() const;

  // One line of UTF-8 JSON; FromJson reads it back (a missing key keeps its
  // default, so older plans still read). None for a text that is no plan.
  std::string ToJson() const;
  static std::optional<RunPlan> FromJson(const std::string& json);

  bool operator==(const RunPlan& other) const;
  bool operator!=(const RunPlan& other) const { return !(*this == other); }
};

}  // namespace lanshu
