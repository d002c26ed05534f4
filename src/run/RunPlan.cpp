#include "run/RunPlan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <tuple>

#include "text/Codec.h"

namespace lanshu {
namespace {

QString Text(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Text(gbk)); }
std::string Gbk(const QJsonValue& v) { return Utf8TextToGbk(v.toString().toStdString()); }

// The fields as one tuple, so that comparing them cannot forget one.
auto Fields(const RunPlan& p) {
  return std::tie(p.kind, p.targets, p.sortIndex, p.filterDuplicates, p.convertLinks, p.exportMode,
                  p.exportTemplate, p.volume, p.indexed, p.firstSite, p.secondSite, p.difficulty, p.limit,
                  p.keepSeed, p.pageIntervalMs, p.keywordIntervalMs, p.autoSave, p.separateFiles, p.resultFolder,
                  p.extension, p.reliability.retries, p.reliability.retryIntervalSeconds,
                  p.reliability.timeoutSeconds, p.rankSite, p.keywordSite, p.searchSite);
}

}  // namespace

RunPlan RunPlan::For(RunKind kind, std::vector<std::string> targets, const Reliability& reliability,
                     std::string rankSite, std::string keywordSite, std::string searchSite) {
  RunPlan plan;
  plan.kind = kind;
  plan.targets = std::move(targets);
  plan.reliability = reliability;
  plan.rankSite = std::move(rankSite);
  plan.keywordSite = std::move(keywordSite);
  plan.searchSite = std::move(searchSite);
  return plan;
}

std::string RunPlan::MiningHeader() const {
  std::string header = "关键词";
  if (volume) header += ",搜索量";
  if (indexed) header += ",收录量";
  if (firstSite) header += ",第一位";
  if (secondSite) header += ",第二位";
  if (difficulty) header += ",优化难度";
  return Utf8TextToGbk(header);
}

bool RunPlan::operator==(const RunPlan& other) const { return Fields(*this) == Fields(other); }

std::string RunPlan::ToJson() const {
  QJsonArray list;
  for (const std::string& t : targets) list.append(Text(t));
  const QJsonObject o{
      {"kind", QString::fromLatin1(RunKindName(kind))},
      {"targets", list},
      {"sortIndex", sortIndex},
      {"filterDuplicates", filterDuplicates},
      {"convertLinks", convertLinks},
      {"exportMode", exportMode},
      {"exportTemplate", Text(exportTemplate)},
      {"volume", volume},
      {"indexed", indexed},
      {"firstSite", firstSite},
      {"secondSite", secondSite},
      {"difficulty", difficulty},
      {"limit", limit},
      {"keepSeed", keepSeed},
      {"pageIntervalMs", pageIntervalMs},
      {"keywordIntervalMs", keywordIntervalMs},
      {"autoSave", autoSave},
      {"separateFiles", separateFiles},
      {"resultFolder", Text(resultFolder)},
      {"extension", Text(extension)},
      {"retries", reliability.retries},
      {"retryIntervalSeconds", reliability.retryIntervalSeconds},
      {"timeoutSeconds", reliability.timeoutSeconds},
      {"rankSite", Text(rankSite)},
      {"keywordSite", Text(keywordSite)},
      {"searchSite", Text(searchSite)},
  };
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<RunPlan> RunPlan::FromJson(const std::string& json) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  const QString kind = o.value("kind").toString();
  if (kind != QLatin1String("rank") && kind != QLatin1String("mine")) return std::nullopt;
  RunPlan p;
  p.kind = kind == QLatin1String("rank") ? RunKind::kRank : RunKind::kMine;
  for (const QJsonValue& t : o.value("targets").toArray()) p.targets.push_back(Gbk(t));
  const auto integer = [&o](const char* key, int& out) { out = o.value(key).toInt(out); };
  const auto flag = [&o](const char* key, bool& out) { out = o.value(key).toBool(out); };
  const auto text = [&o](const char* key, std::string& out) {
    if (o.contains(key)) out = Gbk(o.value(key));
  };
  integer("sortIndex", p.sortIndex);
  flag("filterDuplicates", p.filterDuplicates);
  flag("convertLinks", p.convertLinks);
  integer("exportMode", p.exportMode);
  text("exportTemplate", p.exportTemplate);
  flag("volume", p.volume);
  flag("indexed", p.indexed);
  flag("firstSite", p.firstSite);
  flag("secondSite", p.secondSite);
  flag("difficulty", p.difficulty);
  integer("limit", p.limit);
  flag("keepSeed", p.keepSeed);
  integer("pageIntervalMs", p.pageIntervalMs);
  integer("keywordIntervalMs", p.keywordIntervalMs);
  flag("autoSave", p.autoSave);
  flag("separateFiles", p.separateFiles);
  text("resultFolder", p.resultFolder);
  text("extension", p.extension);
  integer("retries", p.reliability.retries);
  integer("retryIntervalSeconds", p.reliability.retryIntervalSeconds);
  integer("timeoutSeconds", p.reliability.timeoutSeconds);
  text("rankSite", p.rankSite);
  text("keywordSite", p.keywordSite);
  text("searchSite", p.searchSite);
  return p;
}

}  // namespace lanshu
