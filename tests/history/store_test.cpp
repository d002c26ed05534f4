// The history store on both engines: schema and its upgrades, writing as the
// run goes (also from a killed process and from two processes at once),
// reading back, comparing, copying, and reporting what goes wrong.
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include "HistoryTestSupport.h"
#include "text/Csv.h"

namespace lanshu::history {
namespace {

using testing::Gbk;
using testing::PlainSql;
using testing::RankPage;
using testing::RankRows;
using testing::TestDatabase;

const QDateTime kT0 = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

class StoreTest : public ::testing::TestWithParam<const char*> {
 protected:
  bool Pg() const { return std::string(GetParam()) == "postgresql"; }
  void SetUp() override {
    ASSERT_FALSE(db.address.empty());
    ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  }
  // A finished rank run of domain: rows holds (keyword, 排名 cell, 搜索量).
  std::int64_t RankRun(const std::string& domain, const std::vector<std::array<const char*, 3>>& rows,
                       int minutes, Ending how = Ending::kFinished) {
    auto id = store.BeginRun(RunKind::kRank, {domain}, "", kT0.addSecs(60 * minutes));
    EXPECT_TRUE(id) << store.LastError();
    std::vector<RankCells> cells;
    int serial = 0;
    for (const auto& r : rows)
      cells.push_back({std::to_string(++serial), domain, Gbk(r[0]), Gbk(r[1]), r[2], "", "", ""});
    EXPECT_TRUE(store.StorePage(*id, RankPage(domain, 1, cells))) << store.LastError();
    EXPECT_TRUE(store.FinishRun(*id, how, kT0.addSecs(60 * minutes + 30))) << store.LastError();
    return *id;
  }
  // Runs the test program as a child that writes into the store.
  static QProcess* Child(const QStringList& args) {
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QCoreApplication::applicationFilePath(), QStringList{"--history-child"} + args);
    return p;
  }

  TestDatabase db{Pg()};
  HistoryStore store;
};

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(StoreTest, SetsUpTheSchemaOnceAndKeepsDataAcrossOpenings) {
  EXPECT_EQ(store.SchemaVersion(), 3);
  auto id = store.BeginRun(RunKind::kRank, {"a.com"}, Gbk("[基本参数]\r\n域名=a.com"), kT0);
  ASSERT_TRUE(id);
  store.Close();
  EXPECT_FALSE(store.BeginRun(RunKind::kRank, {}, "", kT0)) << "a closed store writes nothing";
  EXPECT_FALSE(store.LastError().empty());

  ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  EXPECT_EQ(store.SchemaVersion(), 3);
  auto run = store.Run(*id);
  ASSERT_TRUE(run) << store.LastError();
  EXPECT_EQ(run->settings, Gbk("[基本参数]\r\n域名=a.com"));
  EXPECT_EQ(run->started, kT0);
  EXPECT_EQ(run->ending, Ending::kUnfinished);
  auto plain = db.Plain();
  EXPECT_EQ(plain->Column("SELECT version FROM schema_version"), (std::vector<QString>{"1", "2", "3"}));
}

// A later program adds version 4: a step that adds a column and one that fills it.
TEST_P(StoreTest, UpgradesToALaterVersionAndRefusesToGoBack) {
  auto id = store.BeginRun(RunKind::kMine, {Gbk("减肥")}, "", kT0);
  ASSERT_TRUE(id);
  store.Close();
  const QString root = db.Folder() + "/sql";
  testing::CopyTree(":/history/sql", root);
  const QString engine = Pg() ? "/postgresql" : "/sqlite";
  testing::WriteFile(root + engine + "/4/upgrade_00_note.sql",
                     "-- a note per run\nALTER TABLE runs ADD COLUMN note TEXT NOT NULL DEFAULT 'new';\n");
  testing::WriteFile(root + engine + "/4/upgrade_01_fill.sql", "UPDATE runs SET note = 'upgraded';");

  ASSERT_TRUE(store.Open(db.address, root)) << store.LastError();
  EXPECT_EQ(store.SchemaVersion(), 4);
  auto runs = store.ListRuns();
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 1u);
  EXPECT_EQ(runs->front().targets, std::vector<std::string>{Gbk("减肥")});
  store.Close();
  {
    auto plain = db.Plain();
    EXPECT_EQ(plain->Column("SELECT note FROM runs"), std::vector<QString>{"upgraded"});
    EXPECT_EQ(plain->Column("SELECT version FROM schema_version ORDER BY version"), (std::vector<QString>{"1", "2", "3", "4"}));
  }
  // Opening again at version 4 runs no step twice.
  ASSERT_TRUE(store.Open(db.address, root)) << store.LastError();
  store.Close();
  EXPECT_FALSE(store.Open(db.address)) << "this program knows up to version 3";
  EXPECT_NE(store.LastError().find("newer"), std::string::npos) << store.LastError();
}

TEST_P(StoreTest, AFailingUpgradeStepLeavesTheDatabaseAsItWas) {
  ASSERT_TRUE(store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0));
  store.Close();
  const QString root = db.Folder() + "/sql";
  testing::CopyTree(":/history/sql", root);
  const QString engine = Pg() ? "/postgresql" : "/sqlite";
  testing::WriteFile(root + engine + "/4/upgrade_00_note.sql", "ALTER TABLE runs ADD COLUMN note TEXT;");
  testing::WriteFile(root + engine + "/4/upgrade_01_broken.sql", "ALTER TABLE no_such_table ADD COLUMN x TEXT;");
  EXPECT_FALSE(store.Open(db.address, root));
  EXPECT_NE(store.LastError().find("upgrade_01_broken.sql"), std::string::npos) << store.LastError();

  ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  EXPECT_EQ(store.SchemaVersion(), 3);
  store.Close();
  auto plain = db.Plain();
  EXPECT_FALSE(plain->Exec("SELECT note FROM runs")) << "the first step was rolled back with the second";
}

TEST_P(StoreTest, AnEmptyDatabaseIsSetUpAtTheNewestVersionThenUpgraded) {
  store.Close();
  TestDatabase fresh(Pg());
  const QString root = fresh.Folder() + "/sql";
  testing::CopyTree(":/history/sql", root);
  const QString engine = Pg() ? "/postgresql" : "/sqlite";
  testing::WriteFile(root + engine + "/4/upgrade_00_note.sql", "ALTER TABLE runs ADD COLUMN note TEXT;");
  ASSERT_TRUE(store.Open(fresh.address, root)) << store.LastError();
  EXPECT_EQ(store.SchemaVersion(), 4);
  store.Close();
  EXPECT_TRUE(fresh.Plain()->Exec("SELECT note FROM runs"));
}

// A database written by the first version keeps its runs, pages and rows
// through the upgrade; the new columns start empty.
TEST_P(StoreTest, UpgradesAVersionOneDatabaseWithDataInIt) {
  store.Close();
  TestDatabase old(Pg());
  const QString root = old.Folder() + "/sql";
  testing::CopyTree(":/history/sql", root);
  const QString engine = Pg() ? "/postgresql" : "/sqlite";
  QDir(root + engine + "/2").removeRecursively();
  QDir(root + engine + "/3").removeRecursively();
  ASSERT_TRUE(store.Open(old.address, root)) << store.LastError();
  ASSERT_EQ(store.SchemaVersion(), 1);
  store.Close();
  {
    // Written as the first version's program wrote it.
    auto plain = old.Plain();
    const QString started = Pg() ? "'2026-03-01T08:00:00Z'" : "'2026-03-01T08:00:00.000Z'";
    for (const QString& sql :
         {"INSERT INTO runs (uid, kind, started, finished, ending, row_count) VALUES ('u1', 'rank', " + started +
              ", " + started + ", 'stopped', 3)",
          QString("INSERT INTO run_targets (run_id, position, target) VALUES (1, 0, 'a.com')"),
          "INSERT INTO pages (run_id, target, page, outcome, reason, attempts, row_count, stored) VALUES "
          "(1, 'a.com', 1, 'ok', '', 1, 3, " + started + ")"})
      ASSERT_TRUE(plain->Exec(sql)) << plain->error;
    for (int r = 1; r <= 3; ++r)
      ASSERT_TRUE(plain->Exec(QString("INSERT INTO rank_rows (run_id, page_id, serial, domain, keyword, rank_text, "
                                      "volume, indexed_pages, title, link, position) VALUES "
                                      "(1, 1, '%1', 'a.com', 'k%1', '%1', '', '', '', '', %1)").arg(r)))
          << plain->error;
  }
  const std::int64_t id = 1;

  ASSERT_TRUE(store.Open(old.address)) << store.LastError();
  EXPECT_EQ(store.SchemaVersion(), 3);
  const auto run = store.Run(id);
  ASSERT_TRUE(run) << store.LastError();
  EXPECT_EQ(run->ending, Ending::kStopped);
  EXPECT_EQ(run->rows, 3);
  EXPECT_EQ(run->reason, "");
  EXPECT_EQ(run->continues, 0);
  EXPECT_EQ(store.LoadRankRows(id)->size(), 3u);
  // And the new columns work on it.
  const auto retry = store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0.addSecs(60), "", id);
  ASSERT_TRUE(retry) << store.LastError();
  ASSERT_TRUE(store.FinishRun(*retry, Ending::kFailed, kT0.addSecs(70), "cannot write x: error 5"));
  EXPECT_EQ(store.Run(*retry)->continues, id);
  EXPECT_EQ(store.Run(*retry)->reason, "cannot write x: error 5");
  // A run from before the queue cannot go on; one begun now can.
  EXPECT_EQ(store.Resumable(RunKind::kRank)->has_value(), false);
  const auto queued = store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0.addSecs(80));
  ASSERT_TRUE(queued) << store.LastError();
  EXPECT_EQ(store.Resumable(RunKind::kRank).value()->id, *queued);
}

TEST_P(StoreTest, StoresPagesOutcomesAndRowsAsGiven) {
  const std::string a = "a.com", b = Gbk("例子.cn");
  auto id = store.BeginRun(RunKind::kRank, {a, b}, "", kT0);
  ASSERT_TRUE(id) << store.LastError();
  ASSERT_TRUE(store.StorePage(*id, RankPage(a, 1, RankRows(a, 1, 10)))) << store.LastError();
  PageRecord failed = RankPage(a, 2, {});
  failed.outcome = Outcome::kFailed;
  failed.reason = "HTTP 500";
  failed.attempts = 3;
  ASSERT_TRUE(store.StorePage(*id, failed)) << store.LastError();
  PageRecord blocked = RankPage(b, 1, {});
  blocked.outcome = Outcome::kBlocked;
  blocked.reason = "login page";
  ASSERT_TRUE(store.StorePage(*id, blocked)) << store.LastError();

  auto runs = store.ListRuns();
  ASSERT_TRUE(runs) << store.LastError();
  ASSERT_EQ(runs->size(), 1u);
  EXPECT_EQ(runs->front().targets, (std::vector<std::string>{a, b}));
  EXPECT_EQ(runs->front().rows, 10);
  EXPECT_EQ(runs->front().pagesNotOk, 2);
  EXPECT_EQ(runs->front().ending, Ending::kUnfinished);
  EXPECT_FALSE(runs->front().finished.isValid());

  auto pages = store.LoadPages(*id);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 3u);
  EXPECT_EQ((*pages)[1].outcome, Outcome::kFailed);
  EXPECT_EQ((*pages)[1].reason, "HTTP 500");
  EXPECT_EQ((*pages)[1].attempts, 3);
  EXPECT_EQ((*pages)[2].target, b);
  EXPECT_EQ((*pages)[2].outcome, Outcome::kBlocked);

  // Retrying the failed page: the page's outcome changes, its rows follow the others.
  PageRecord retried = RankPage(a, 2, RankRows(a, 2, 10));
  ASSERT_TRUE(store.StorePage(*id, retried)) << store.LastError();
  pages = store.LoadPages(*id);
  ASSERT_EQ(pages->size(), 3u);
  EXPECT_EQ((*pages)[1].outcome, Outcome::kOk);
  EXPECT_EQ((*pages)[1].attempts, 4);
  EXPECT_EQ((*pages)[1].rowCount, 10);

  ASSERT_TRUE(store.FinishRun(*id, Ending::kStopped, kT0.addSecs(90)));
  auto run = store.Run(*id);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->ending, Ending::kStopped);
  EXPECT_EQ(run->finished, kT0.addSecs(90));
  EXPECT_EQ(run->rows, 20);
  EXPECT_EQ(run->pagesNotOk, 1);

  auto rows = store.LoadRankRows(*id);
  ASSERT_TRUE(rows);
  std::vector<RankCells> expected = RankRows(a, 1, 10);
  for (auto& r : RankRows(a, 2, 10)) expected.push_back(r);
  EXPECT_EQ(*rows, expected);

  EXPECT_FALSE(store.StorePage(*id + 100, RankPage(a, 1, RankRows(a, 1, 1)))) << "no such run";
  EXPECT_FALSE(store.FinishRun(*id + 100, Ending::kFinished, kT0));
}

TEST_P(StoreTest, TextsAreUtf8AndPositionsNumbersForPlainSql) {
  auto id = store.BeginRun(RunKind::kRank, {Gbk("例子.cn")}, "", kT0);
  ASSERT_TRUE(id);
  const std::string d = Gbk("例子.cn");
  std::vector<RankCells> rows = {{"1", d, Gbk("减肥"), "7", "", "", "", ""},
                                 {"2", d, Gbk("减肥茶"), Gbk("第3页第4位"), "", "", "", ""},
                                 {"3", d, Gbk("减肥药"), Gbk(">50"), "", "", "", ""},
                                 {"4", d, Gbk("瘦身"), "", "", "", "", ""}};
  ASSERT_TRUE(store.StorePage(*id, RankPage(d, 1, rows))) << store.LastError();
  store.Close();
  auto plain = db.Plain();
  const QString bytes = Pg() ? "octet_length(keyword)" : "length(CAST(keyword AS BLOB))";
  EXPECT_EQ(plain->Column("SELECT keyword || ':' || " + bytes + " FROM rank_rows ORDER BY id"),
            (std::vector<QString>{QString::fromUtf8("减肥:6"), QString::fromUtf8("减肥茶:9"),
                                  QString::fromUtf8("减肥药:9"), QString::fromUtf8("瘦身:6")}));
  EXPECT_EQ(plain->Column("SELECT position FROM rank_rows ORDER BY id"),
            (std::vector<QString>{"7", "24", "NULL", "NULL"}));
  EXPECT_EQ(plain->Value("SELECT target FROM run_targets"), QString::fromUtf8("例子.cn"));
}

TEST_P(StoreTest, MiningLinesAreSplitIntoTheirColumns) {
  auto id = store.BeginRun(RunKind::kMine, {Gbk("减肥")}, "", kT0, Gbk("关键词,搜索量,第一位"));
  ASSERT_TRUE(id) << store.LastError();
  PageRecord page;
  page.target = Gbk("减肥");
  page.miningLines = {Gbk("减肥方法,1200,a.com"), Gbk("\"减肥,快\",30,\"b\"\"c.com\"")};
  ASSERT_TRUE(store.StorePage(*id, page)) << store.LastError();
  auto lines = store.LoadMiningLines(*id);
  ASSERT_TRUE(lines);
  EXPECT_EQ(*lines, page.miningLines);
  EXPECT_EQ(store.Run(*id)->columns, Gbk("关键词,搜索量,第一位"));
  store.Close();
  auto plain = db.Plain();
  EXPECT_EQ(plain->Column("SELECT keyword || '|' || volume || '|' || first_site || '|' || "
                          "COALESCE(indexed_pages, 'NULL') FROM mining_rows ORDER BY id"),
            (std::vector<QString>{QString::fromUtf8("减肥方法|1200|a.com|NULL"),
                                  QString::fromUtf8("减肥,快|30|b\"c.com|NULL")}));
}

// A run killed midway: every page it stored is there, and the run says it
// never ended.
TEST_P(StoreTest, AKilledRunKeepsEveryStoredPage) {
  store.Close();
  std::unique_ptr<QProcess> child(Child({"die", QString::fromStdString(db.address), "25", "40"}));
  ASSERT_TRUE(child->waitForFinished(60000));
  EXPECT_EQ(child->exitStatus(), QProcess::CrashExit);
  ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  auto runs = store.ListRuns();
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 1u);
  EXPECT_EQ(runs->front().ending, Ending::kUnfinished);
  EXPECT_EQ(runs->front().rows, 25 * 40);
  auto pages = store.LoadPages(runs->front().id);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 25u);
  for (int i = 0; i < 25; ++i) EXPECT_EQ((*pages)[i].page, i + 1);
  EXPECT_EQ(store.LoadRankRows(runs->front().id)->size(), 25u * 40u);
}

TEST_P(StoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  // Both wait for the go file after opening the store, so their pages interleave.
  QTemporaryDir sync;
  const QString go = sync.filePath("go");
  std::unique_ptr<QProcess> one(Child({"write", QString::fromStdString(db.address), "40", "50", go}));
  std::unique_ptr<QProcess> two(Child({"write", QString::fromStdString(db.address), "40", "50", go}));
  ASSERT_TRUE(one->waitForStarted() && two->waitForStarted());
  QThread::msleep(300);
  testing::WriteFile(go, "");
  ASSERT_TRUE(one->waitForFinished(120000));
  ASSERT_TRUE(two->waitForFinished(120000));
  EXPECT_EQ(one->exitCode(), 0);
  EXPECT_EQ(two->exitCode(), 0);
  auto runs = store.ListRuns();
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 2u);
  for (const RunInfo& r : *runs) {
    EXPECT_EQ(r.ending, Ending::kFinished);
    EXPECT_EQ(r.rows, 40 * 50);
    EXPECT_EQ(store.LoadRankRows(r.id)->size(), 40u * 50u);
  }
  auto series = store.DomainSeries("a.com");
  ASSERT_EQ(series->size(), 2u);
  for (const SeriesPoint& p : *series) EXPECT_EQ(p.keywords, 40 * 50);
}

TEST_P(StoreTest, ComparesTheKeywordsOfTwoRuns) {
  const std::string d = "a.com";
  const std::int64_t old = RankRun(d, {{"up", "9", "100"}, {"down", "第1页第2位", "200"},
                                       {"same", "5", "300"}, {"lost", "3", "400"}, {"dup", "20", "1"},
                                       {"dup", "15", "2"}}, 0);
  // Noise: another domain in the same run set, and a newer run that is not finished.
  RankRun("b.com", {{"up", "1", "1"}}, 5);
  const std::int64_t recent = RankRun(d, {{"up", "4", "110"}, {"down", "第2页第1位", "210"},
                                          {"same", "5", "310"}, {"new", "1", "500"}, {"dup", "12", "3"}}, 10);
  RankRun(d, {{"x", "1", "1"}}, 20, Ending::kStopped);

  auto latest = store.LatestTwoFinishedRuns(d);
  ASSERT_TRUE(latest) << store.LastError();
  EXPECT_EQ(*latest, std::make_pair(old, recent));

  auto rows = store.Compare(latest->first, latest->second, d);
  ASSERT_TRUE(rows) << store.LastError();
  std::vector<std::string> got;
  for (const ComparisonRow& r : *rows) got.push_back(GbkToUtf8Text(CsvCell(r.keyword) + "," + r.oldRank + "," +
                                                                   r.newRank + "," + ChangeText(r.change) + "," +
                                                                   r.volume));
  EXPECT_EQ(got, (std::vector<std::string>{"new,,1,新增,500", "up,9,4,上升,110", "same,5,5,不变,310",
                                           "down,第1页第2位,第2页第1位,下降,210", "dup,15,12,上升,3",
                                           "lost,3,,消失,400"}));

  EXPECT_FALSE(store.LatestTwoFinishedRuns("b.com"));
  EXPECT_NE(store.LastError().find("fewer than two"), std::string::npos);
  EXPECT_FALSE(store.Compare(old, old + 1000, d));
}

TEST_P(StoreTest, ListsTheRunsOfADomainAndChartsThem) {
  const std::string d = "a.com";
  const std::int64_t first = RankRun(d, {{"a", "3", ""}, {"b", "12", ""}, {"c", "50", ""}, {"d", "51", ""},
                                         {"e", "", ""}}, 0);
  auto mine = store.BeginRun(RunKind::kMine, {d}, "", kT0.addSecs(300));  // a seed, not a domain
  ASSERT_TRUE(mine);
  const std::int64_t second = RankRun(d, {{"a", "10", ""}, {"b", "11", ""}}, 10, Ending::kStopped);
  auto other = store.BeginRun(RunKind::kRank, {"b.com", d}, "", kT0.addSecs(1200));
  ASSERT_TRUE(other);
  // Rows of two domains in one page count for each domain apart.
  std::vector<RankCells> rows = RankRows(d, 1, 3);
  for (auto& r : RankRows("b.com", 2, 2)) rows.push_back(r);
  ASSERT_TRUE(store.StorePage(*other, RankPage(d, 1, rows)));

  auto runs = store.RunsOfDomain(d);
  ASSERT_TRUE(runs);
  std::vector<std::int64_t> ids;
  for (const RunInfo& r : *runs) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{*other, second, first}));

  auto series = store.DomainSeries(d);
  ASSERT_TRUE(series) << store.LastError();
  ASSERT_EQ(series->size(), 3u);
  auto point = [](const SeriesPoint& p) {
    return std::vector<std::int64_t>{p.runId, p.keywords, p.top10, p.top11to50, p.beyond};
  };
  EXPECT_EQ(point((*series)[0]), (std::vector<std::int64_t>{first, 5, 1, 2, 2}));
  EXPECT_EQ(point((*series)[1]), (std::vector<std::int64_t>{second, 2, 1, 1, 0}));
  EXPECT_EQ(point((*series)[2]), (std::vector<std::int64_t>{*other, 3, 3, 0, 0}));
  EXPECT_EQ((*series)[1].ending, Ending::kStopped);
  EXPECT_EQ(store.DomainSeries("b.com")->back().top11to50, 2);
}

// From a local file into the store under test, twice: the second copy adds
// nothing; a run that went on after the first copy is taken again.
TEST_P(StoreTest, CopyToAddsEachRunOnce) {
  TestDatabase localDb(false);
  HistoryStore local;
  ASSERT_TRUE(local.Open(localDb.address)) << local.LastError();
  auto done = local.BeginRun(RunKind::kRank, {"a.com"}, Gbk("设置"), kT0);
  ASSERT_TRUE(local.StorePage(*done, RankPage("a.com", 1, RankRows("a.com", 1, 150))));
  PageRecord failed = RankPage("a.com", 2, {});
  failed.outcome = Outcome::kFailed;
  failed.reason = "time-out";
  ASSERT_TRUE(local.StorePage(*done, failed));
  ASSERT_TRUE(local.FinishRun(*done, Ending::kFinished, kT0.addSecs(60)));
  auto going = local.BeginRun(RunKind::kMine, {Gbk("减肥")}, "", kT0.addSecs(120), Gbk("关键词,搜索量"));
  PageRecord mined;
  mined.target = Gbk("减肥");
  mined.miningLines = {Gbk("减肥茶,10")};
  ASSERT_TRUE(local.StorePage(*going, mined));

  auto stats = local.CopyTo(store);
  ASSERT_TRUE(stats) << local.LastError();
  EXPECT_EQ(stats->copied, 2);
  stats = local.CopyTo(store);
  ASSERT_TRUE(stats) << local.LastError();
  EXPECT_EQ(stats->copied + stats->replaced, 0);
  EXPECT_EQ(stats->skipped, 2);

  mined.page = 2;
  ASSERT_TRUE(local.StorePage(*going, mined));
  ASSERT_TRUE(local.FinishRun(*going, Ending::kFailed, kT0.addSecs(180), "cannot write a.csv: error 5"));
  stats = local.CopyTo(store);
  ASSERT_TRUE(stats) << local.LastError();
  EXPECT_EQ(stats->replaced, 1);
  EXPECT_EQ(stats->skipped, 1);

  auto theirs = store.ListRuns();
  auto ours = local.ListRuns();
  ASSERT_TRUE(theirs && ours);
  ASSERT_EQ(theirs->size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const RunInfo &t = (*theirs)[i], &o = (*ours)[i];
    EXPECT_EQ(t.uid, o.uid);
    EXPECT_EQ(t.kind, o.kind);
    EXPECT_EQ(t.targets, o.targets);
    EXPECT_EQ(t.columns, o.columns);
    EXPECT_EQ(t.started, o.started);
    EXPECT_EQ(t.finished, o.finished);
    EXPECT_EQ(t.ending, o.ending);
    EXPECT_EQ(t.reason, o.reason);
    EXPECT_EQ(t.rows, o.rows);
    EXPECT_EQ(t.pagesNotOk, o.pagesNotOk);
    EXPECT_EQ(store.LoadPages(t.id)->size(), local.LoadPages(o.id)->size());
  }
  EXPECT_EQ(store.Run((*theirs)[1].id)->settings, Gbk("设置"));
  EXPECT_EQ((*theirs)[0].reason, "cannot write a.csv: error 5");

  // A retry copied keeps naming the run it continues, by that run's number here.
  auto retry = local.BeginRun(RunKind::kRank, {"a.com"}, "", kT0.addSecs(240), "", *done);
  ASSERT_TRUE(local.FinishRun(*retry, Ending::kFinished, kT0.addSecs(250)));
  ASSERT_TRUE(local.CopyTo(store)) << local.LastError();
  const auto copied = store.ListRuns();
  ASSERT_EQ(copied->size(), 3u);
  EXPECT_EQ(copied->front().continues, (*theirs)[1].id);
  EXPECT_EQ(*store.LoadRankRows((*theirs)[1].id), *local.LoadRankRows((*ours)[1].id));
  EXPECT_EQ(*store.LoadMiningLines((*theirs)[0].id), (std::vector<std::string>{Gbk("减肥茶,10"), Gbk("减肥茶,10")}));
  EXPECT_EQ(store.DomainSeries("a.com")->front().top10, 10);
}

TEST(SqliteDefault, AnEmptySettingMeansHistorySqliteInTheDataFolder) {
  QStandardPaths::setTestModeEnabled(true);
  QCoreApplication::setApplicationName("lanshu-history-test");
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir(folder).removeRecursively();
  EXPECT_EQ(QString::fromStdString(HistoryStore::DefaultPath()), folder + "/history.sqlite");
  HistoryStore store;
  ASSERT_TRUE(store.Open("")) << store.LastError();
  ASSERT_TRUE(store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0));
  store.Close();
  EXPECT_TRUE(QFileInfo(folder + "/history.sqlite").isFile());
  EXPECT_EQ(PlainSql(false, (folder + "/history.sqlite").toStdString()).Value("SELECT COUNT(*) FROM runs"), "1");
  QDir(folder).removeRecursively();
}

// --- What goes wrong is reported, never thrown or waited out. ---

TEST(SqliteFailures, ACorruptOrForeignFileIsReported) {
  QTemporaryDir dir;
  const QString junk = dir.filePath("junk.sqlite");
  testing::WriteFile(junk, QByteArray(8192, '\x5a'));
  HistoryStore store;
  EXPECT_FALSE(store.Open(junk.toStdString()));
  EXPECT_FALSE(store.IsOpen());
  EXPECT_NE(store.LastError().find("not a database"), std::string::npos) << store.LastError();
  EXPECT_FALSE(store.ListRuns());

  const QString foreign = dir.filePath("other.sqlite");
  {
    PlainSql plain(false, foreign.toStdString());
    ASSERT_TRUE(plain.Exec("CREATE TABLE addresses (name TEXT)"));
  }
  EXPECT_FALSE(store.Open(foreign.toStdString()));
  EXPECT_NE(store.LastError().find("other tables"), std::string::npos) << store.LastError();

  EXPECT_FALSE(store.Open(dir.filePath("no/such/folder/h.sqlite").toStdString()));
  EXPECT_FALSE(store.LastError().empty());
}

TEST(SqliteFailures, AFileThatCannotBeWrittenIsReported) {
  QTemporaryDir dir;
  const QString path = dir.filePath("h.sqlite");
  {
    HistoryStore store;
    ASSERT_TRUE(store.Open(path.toStdString())) << store.LastError();
    ASSERT_TRUE(store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0));
  }
  // Root writes any file, so the store runs as nobody here.
  ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0555), 0);
  ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0444), 0);
  const uid_t was = geteuid();
  if (was == 0) {
    ASSERT_EQ(seteuid(65534), 0);
  }
  {
    // Whether opening or the first write notices depends on the journal files.
    HistoryStore store;
    const bool wrote = store.Open(path.toStdString()) && store.BeginRun(RunKind::kRank, {"b.com"}, "", kT0);
    EXPECT_FALSE(wrote);
    EXPECT_NE(store.LastError().find("readonly"), std::string::npos) << store.LastError();
  }
  if (was == 0) {
    ASSERT_EQ(seteuid(0), 0);
  }
  chmod(dir.path().toLocal8Bit().constData(), 0755);
}

// A full disk, as the file-size limit makes it: the page fails, the store
// says why, and pages after space comes back are stored again.
TEST(SqliteFailures, AFullDiskFailsThePageNotTheStore) {
  QTemporaryDir dir;
  HistoryStore store;
  ASSERT_TRUE(store.Open(dir.filePath("h.sqlite").toStdString())) << store.LastError();
  auto id = store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0);
  ASSERT_TRUE(id);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tight = old;
  tight.rlim_cur = 256 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool stored = store.StorePage(*id, RankPage("a.com", 1, RankRows("a.com", 1, 3000)));
  const std::string error = store.LastError();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(stored);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(store.StorePage(*id, RankPage("a.com", 2, RankRows("a.com", 2, 10)))) << store.LastError();
  auto pages = store.LoadPages(*id);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 1u);
  EXPECT_EQ(pages->front().page, 2);
  EXPECT_EQ(store.Run(*id)->rows, 10);
}

TEST(PostgresqlFailures, AServerThatIsNotThereIsReported) {
  HistoryStore store;
  EXPECT_FALSE(store.Open("postgresql://lanshu@127.0.0.1:1/history"));
  EXPECT_NE(store.LastError().find("cannot reach"), std::string::npos) << store.LastError();
  EXPECT_FALSE(store.Open("postgresql://lanshu@/history?host=/nonexistent&port=5432"));
  EXPECT_FALSE(store.StorePage(1, PageRecord()));
}

// The server drops the connection midway (a restart, a network cut): the
// next page fails with the reason, nothing waits.
TEST(PostgresqlFailures, ALostConnectionFailsTheNextCall) {
  TestDatabase db(true);
  ASSERT_FALSE(db.address.empty());
  HistoryStore store;
  ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  auto id = store.BeginRun(RunKind::kRank, {"a.com"}, "", kT0);
  ASSERT_TRUE(id);
  {
    PlainSql admin(true, "postgres");
    ASSERT_TRUE(admin.Exec(QString::fromStdString("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                                  "WHERE application_name = 'lanshu-collector' AND datname = '" +
                                                  db.Name() + "'")));
  }
  EXPECT_FALSE(store.StorePage(*id, RankPage("a.com", 1, RankRows("a.com", 1, 5))));
  EXPECT_FALSE(store.LastError().empty());
}

}  // namespace
}  // namespace lanshu::history

// The test program doubles as a writer for the tests that need a second
// process: "--history-child die|write DB PAGES ROWS [GO-FILE]".
static int RunChild(int argc, char** argv) {
  using namespace lanshu::history;
  if (argc < 6) return 2;
  const std::string mode = argv[2];
  const int pages = std::atoi(argv[4]), rows = std::atoi(argv[5]);
  HistoryStore store;
  if (!store.Open(argv[3])) {
    std::cerr << "child: " << store.LastError() << "\n";
    return 1;
  }
  if (argc > 6)
    for (int i = 0; i < 1000 && !QFileInfo::exists(argv[6]); ++i) QThread::msleep(10);
  auto id = store.BeginRun(RunKind::kRank, {"a.com"}, "", QDateTime::currentDateTimeUtc());
  if (!id) return std::cerr << "child: " << store.LastError() << "\n", 1;
  for (int p = 1; p <= pages; ++p) {
    if (!store.StorePage(*id, lanshu::testing::RankPage("a.com", p, lanshu::testing::RankRows("a.com", p, rows)))) {
      std::cerr << "child: page " << p << ": " << store.LastError() << "\n";
      return 1;
    }
  }
  if (mode == "die") std::raise(SIGKILL);
  return store.FinishRun(*id, Ending::kFinished, QDateTime::currentDateTimeUtc()) ? 0 : 1;
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--history-child") return RunChild(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
