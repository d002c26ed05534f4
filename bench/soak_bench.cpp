// A week unattended, compressed: one long mining run of thousands of seeds
// against the demo site (started here) whose pages fail at random in every
// way a flaky, throttling site does: 500s, answers that stall past the
// time-out, throttles with and without Retry-After, sessions that end (the
// demo logs in again at once). The program runs as a child process
// (--batch mine --resume --wait-for-login) and is killed with SIGKILL every
// so often, then started again, until it ends by itself. At the end FILE is
// compared line by line with what the site holds.
//
//   bench_soak [--targets N] [--pages P] [--kill-every MIN-MAX] [--faults SPEC] [--seed S]
//              (2000, 3, 20-60 seconds, flaky:3,stall:1,throttle:2,busy:2,logout:1, 1)
//
// Prints the pages, the kills survived, the rows lost and doubled (both
// must be 0), the pages that failed with their reasons, and the time taken;
// exits 1 when a row was lost or doubled or the program failed.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "store/ConfigStore.h"
#include "text/Codec.h"

namespace {

using namespace lanshu;

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

struct Options {
  int targets = 2000;
  int pages = 3;
  int killMinSeconds = 20, killMaxSeconds = 60;
  std::string faults = "flaky:3,stall:1,throttle:2,busy:2,logout:1";
  unsigned seed = 1;
};

bool ParseOptions(const QStringList& args, Options& o) {
  for (int i = 1; i + 1 < args.size(); i += 2) {
    const QString name = args[i], value = args[i + 1];
    if (name == QStringLiteral("--targets")) o.targets = value.toInt();
    else if (name == QStringLiteral("--pages")) o.pages = value.toInt();
    else if (name == QStringLiteral("--faults")) o.faults = value.toStdString();
    else if (name == QStringLiteral("--seed")) o.seed = value.toUInt();
    else if (name == QStringLiteral("--kill-every")) {
      o.killMinSeconds = value.section(QLatin1Char('-'), 0, 0).toInt();
      o.killMaxSeconds = value.section(QLatin1Char('-'), 1, 1).toInt();
    } else {
      return false;
    }
  }
  return args.size() % 2 == 1 && o.targets > 0 && o.pages > 0 && o.killMinSeconds > 0 &&
         o.killMaxSeconds >= o.killMinSeconds;
}

std::string SeedName(int i) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%05d", i);
  return Gbk("种子") + digits;
}

// Mining with the volume, count and level columns, no pauses, FILE only;
// short time-outs and waits, so that a week's faults fit in minutes.
bool WriteSettings(const QString& path, int targets) {
  std::string list;
  for (int i = 0; i < targets; ++i) list += (i ? "\r\n" : "") + SeedName(i);
  ConfigStore s;
  if (!s.Open(path.toStdString())) return false;
  s.SetSection(Gbk("基本配置_挖掘"));
  s.WriteText(Gbk("关键词"), list);
  s.WriteText(Gbk("限定数量"), "0");
  for (const char* on : {"搜索量", "收录量", "优化难度"}) s.WriteText(Gbk(on), Gbk("真"));
  for (const char* off : {"第一位", "第二位", "自动保存目录", "不同关键词独立保存"}) s.WriteText(Gbk(off), Gbk("假"));
  s.WriteText(Gbk("页间隔"), "0");
  s.WriteText(Gbk("关键词间隔"), "0");
  s.SetSection(Gbk("采集可靠性"));
  s.WriteNumber(Gbk("失败重试次数"), 3);
  s.WriteNumber(Gbk("重试间隔秒"), 1);
  s.WriteNumber(Gbk("请求超时秒"), 2);
  s.WriteNumber(Gbk("限流等待秒"), 1);
  s.WriteNumber(Gbk("限流最长秒"), 4);
  s.WriteNumber(Gbk("等待登录间隔秒"), 1);
  return s.LastWriteReachedDisk();
}

// What FILE must hold: the header, then each seed's pages in order.
std::vector<std::string> ExpectedLines(const demo::DemoSite& site, int targets, int pages) {
  std::vector<std::string> lines = {Gbk("关键词,搜索量,收录量,优化难度")};
  for (int i = 0; i < targets; ++i)
    for (int p = 1; p <= pages; ++p)
      for (const demo::KeywordRow& r : site.ExpectedKeywordRows(SeedName(i), p))
        lines.push_back(r.keyword + "," + r.volume + "," + r.indexed + "," + std::to_string(r.level));
  return lines;
}

std::vector<std::string> FileLines(const QString& path) {
  QFile f(path);
  std::vector<std::string> lines;
  if (!f.open(QIODevice::ReadOnly)) return lines;
  const std::string text = f.readAll().toStdString();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Distinct keyword pages the site has been asked for: how far the run is.
int PagesAsked(const demo::DemoSite& site) {
  std::set<std::string> paths;
  for (const demo::LoggedRequest& r : site.Requests())
    if (r.path.size() > 2 && r.path.back() == '/' && r.path.find('.') == std::string::npos) paths.insert(r.path);
  return static_cast<int>(paths.size());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Options o;
  if (!ParseOptions(app.arguments(), o)) {
    std::fprintf(stderr,
                 "usage: bench_soak [--targets N] [--pages P] [--kill-every MIN-MAX] [--faults SPEC] [--seed S]\n");
    return 2;
  }
  demo::Options siteOptions;
  siteOptions.keywordPages = o.pages;
  std::string error;
  if (!demo::ParseDemoFaults(o.faults, siteOptions, &error)) {
    std::fprintf(stderr, "bench_soak: --faults: %s\n", error.c_str());
    return 2;
  }
  demo::DemoSite site(siteOptions);
  QTemporaryDir dir;
  const QString folder = dir.path();
  const QString ini = folder + QStringLiteral("/soak.ini"), out = folder + QStringLiteral("/soak.csv"),
                report = folder + QStringLiteral("/soak.json"), history = folder + QStringLiteral("/history.sqlite");
  if (!site.Start() || !dir.isValid() || !WriteSettings(ini, o.targets)) {
    std::fprintf(stderr, "bench_soak: cannot set up the demo site or the settings\n");
    return 1;
  }
  const QString base = QString::fromStdString(site.BaseUrl());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
  env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu --no-sandbox"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), folder + QStringLiteral("/data"));
  const QStringList arguments = {QStringLiteral("--settings"), ini, QStringLiteral("--batch"), QStringLiteral("mine"),
                                 QStringLiteral("--out"), out, QStringLiteral("--report"), report,
                                 QStringLiteral("--history"), history, QStringLiteral("--resume"),
                                 QStringLiteral("--wait-for-login"), QStringLiteral("10"),
                                 QStringLiteral("--rank-site"), base, QStringLiteral("--keyword-site"),
                                 base + QLatin1Char('/'), QStringLiteral("--search-site"), base};
  const int totalPages = o.targets * o.pages;
  std::mt19937 random(o.seed);
  std::uniform_int_distribution<int> killAfter(o.killMinSeconds * 1000, o.killMaxSeconds * 1000);

  std::printf("soak: %d seeds x %d pages = %d pages, faults %s, a kill every %d-%d s\n", o.targets, o.pages,
              totalPages, o.faults.c_str(), o.killMinSeconds, o.killMaxSeconds);
  std::fflush(stdout);
  QElapsedTimer clock;
  clock.start();
  int kills = 0, starts = 0, blockedEndings = 0, exitCode = -1;
  int throttleLines = 0, throttleLineSeconds = 0;  // told on standard error, by every start
  QString lastErr;
  while (true) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments);
    ++starts;
    if (!p.waitForStarted(60000)) {
      std::fprintf(stderr, "bench_soak: the program did not start\n");
      return 1;
    }
    // Killed at a random moment, unless the run is nearly done: a kill
    // after the last page would leave nothing to go on with.
    const int due = killAfter(random);
    QElapsedTimer life;
    life.start();
    bool killed = false;
    while (!p.waitForFinished(200)) {
      if (life.elapsed() >= due && PagesAsked(site) < totalPages * 95 / 100) {
        p.kill();  // SIGKILL
        p.waitForFinished(30000);
        killed = true;
        break;
      }
    }
    const QString err = QString::fromUtf8(p.readAllStandardError());
    for (const QString& line : err.split(QLatin1Char('\n')))
      if (line.startsWith(QStringLiteral("lanshu-collector: throttled: "))) {
        ++throttleLines;
        throttleLineSeconds += line.section(QStringLiteral("waiting "), 1).section(QLatin1Char(' '), 0, 0).toInt();
      }
    if (killed) {
      ++kills;
      std::printf("  %7.1f s: killed (%d of %d pages asked)\n", clock.elapsed() / 1000.0, PagesAsked(site),
                  totalPages);
      std::fflush(stdout);
      continue;
    }
    exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    lastErr = err;
    if (exitCode == 4) {  // the wall outlasted --wait-for-login: go on with it
      ++blockedEndings;
      continue;
    }
    break;
  }
  const double seconds = clock.elapsed() / 1000.0;
  site.Stop();

  // Lost and doubled rows: FILE against the site's rows, as multisets.
  const std::vector<std::string> expected = ExpectedLines(site, o.targets, o.pages);
  const std::vector<std::string> got = FileLines(out);
  std::map<std::string, int> balance;
  for (const std::string& line : expected) ++balance[line];
  for (const std::string& line : got) --balance[line];
  long lost = 0, doubled = 0;
  for (const auto& [line, n] : balance) (n > 0 ? lost : doubled) += n > 0 ? n : -n;

  std::map<std::string, int> failedBy;
  int pages = 0, attempts = 0;
  QFile reportFile(report);
  if (reportFile.open(QIODevice::ReadOnly)) {
    const QJsonArray list = QJsonDocument::fromJson(reportFile.readAll()).object().value(QStringLiteral("pages")).toArray();
    for (const QJsonValue& v : list) {
      const QJsonObject page = v.toObject();
      ++pages;
      attempts += page.value(QStringLiteral("attempts")).toInt();
      if (page.value(QStringLiteral("outcome")).toString() != QStringLiteral("ok"))
        ++failedBy[page.value(QStringLiteral("outcome")).toString().toStdString() + ": " +
                   page.value(QStringLiteral("reason")).toString().toStdString()];
    }
  }
  std::printf("pages:           %d of %d (%d requests by the last start)\n", pages, totalPages, attempts);
  std::printf("starts:          %d (kills survived: %d, blocked endings resumed: %d)\n", starts, kills, blockedEndings);
  std::printf("exit status:     %d\n", exitCode);
  std::printf("rows:            %zu expected, %zu in FILE\n", expected.size() - 1, got.empty() ? 0 : got.size() - 1);
  std::printf("rows lost:       %ld\n", lost);
  std::printf("rows doubled:    %ld\n", doubled);
  std::printf("FILE in order:   %s\n", got == expected ? "yes, byte for byte" : "no");
  std::printf("throttle waits:  %d (%d s)\n", throttleLines, throttleLineSeconds);
  std::printf("pages failed:    %d\n", static_cast<int>(failedBy.size()) == 0 ? 0 : [&] {
    int n = 0;
    for (const auto& [why, count] : failedBy) n += count;
    return n;
  }());
  for (const auto& [why, count] : failedBy) std::printf("  %5d  %s\n", count, why.c_str());
  std::printf("time taken:      %.1f s\n", seconds);
  if (exitCode != 0 && exitCode != 3) std::printf("last standard error:\n%s", qPrintable(lastErr));
  return lost == 0 && doubled == 0 && (exitCode == 0 || exitCode == 3) ? 0 : 1;
}
