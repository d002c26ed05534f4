#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <utility>

#include "demo/DemoFaults.h"

namespace lanshu {

std::string UsageText() {
  return "usage: lanshu-collector [--settings FILE] [--rank-site URL] [--keyword-site URL]\n"
         "                        [--search-site URL] [--demo [--demo-faults SPEC]]\n"
         "                        [--batch rank|mine --out FILE [--report FILE] [--retries N]]\n"
         "                        [--batch compare --domain D --out FILE [--from RUN --to RUN]]\n"
         "                        [--history DB | --no-history] [--history-copy-to DB]\n"
         "                        [--verbose] [--help] [--version]\n";
}

std::string VersionText() { return "lanshu-collector 1.1.0\n"; }

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine cl;
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption settings(QStringLiteral("settings"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption rankSite(QStringLiteral("rank-site"), QString(), QStringLiteral("URL"));
  const QCommandLineOption keywordSite(QStringLiteral("keyword-site"), QString(), QStringLiteral("URL"));
  const QCommandLineOption searchSite(QStringLiteral("search-site"), QString(), QStringLiteral("URL"));
  const QCommandLineOption demo(QStringLiteral("demo"));
  const QCommandLineOption demoFaults(QStringLiteral("demo-faults"), QString(), QStringLiteral("SPEC"));
  const QCommandLineOption batch(QStringLiteral("batch"), QString(), QStringLiteral("KIND"));
  const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption retries(QStringLiteral("retries"), QString(), QStringLiteral("N"));
  const QCommandLineOption verbose(QStringLiteral("verbose"));
  const QCommandLineOption history(QStringLiteral("history"), QString(), QStringLiteral("DB"));
  const QCommandLineOption noHistory(QStringLiteral("no-history"));
  const QCommandLineOption copyTo(QStringLiteral("history-copy-to"), QString(), QStringLiteral("DB"));
  const QCommandLineOption domain(QStringLiteral("domain"), QString(), QStringLiteral("D"));
  const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("RUN"));
  const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("RUN"));
  const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
  const QCommandLineOption version(QStringLiteral("version"));
  parser.addOptions({settings, rankSite, keywordSite, searchSite, demo, demoFaults, batch, out,
                     report, retries, verbose, history, noHistory, copyTo, domain, from, to, help,
                     version});
  if (!parser.parse(arguments)) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
      cl.error = "unknown argument: " + std::string(unknown.first().size() == 1 ? "-" : "--") +
                 unknown.first().toStdString();
    else if (const QString text = parser.errorText();
             text.startsWith(QStringLiteral("Missing value after '")))
      cl.error = "missing value after " + text.section(QLatin1Char('\''), 1, 1).toStdString();
    else
      cl.error = text.toStdString();
    return cl;
  }
  if (!parser.positionalArguments().isEmpty()) {
    cl.error = "unknown argument: " + parser.positionalArguments().first().toStdString();
    return cl;
  }
  cl.help = parser.isSet(help);
  cl.version = parser.isSet(version);
  cl.settingsFile = parser.value(settings).toStdString();
  cl.rankSite = parser.value(rankSite).toStdString();
  cl.keywordSite = parser.value(keywordSite).toStdString();
  cl.searchSite = parser.value(searchSite).toStdString();
  cl.demo = parser.isSet(demo);
  cl.demoFaults = parser.value(demoFaults).toStdString();
  cl.batch = parser.value(batch).toStdString();
  cl.outFile = parser.value(out).toStdString();
  cl.reportFile = parser.value(report).toStdString();
  cl.verbose = parser.isSet(verbose);
  cl.historyDb = parser.value(history).toStdString();
  cl.noHistory = parser.isSet(noHistory);
  cl.historyCopyTo = parser.value(copyTo).toStdString();
  cl.domain = parser.value(domain).trimmed().toStdString();
  for (auto [option, run] : {std::pair{&from, &cl.fromRun}, std::pair{&to, &cl.toRun}}) {
    if (!parser.isSet(*option) || !cl.error.empty()) continue;
    bool number = false;
    *run = parser.value(*option).toLongLong(&number);
    if (!number || *run <= 0)
      cl.error = "--" + option->names().first().toStdString() + " takes a run number, not " +
                 parser.value(*option).toStdString();
  }
  if (parser.isSet(retries)) {
    bool number = false;
    const int n = parser.value(retries).toInt(&number);
    if (!number || n < 0 || n > 100)
      cl.error = "--retries takes a number from 0 to 100, not " + parser.value(retries).toStdString();
    cl.retries = n;
  }
  if (!cl.error.empty() || cl.help || cl.version) return cl;
  const bool compare = cl.batch == "compare";
  if (parser.isSet(batch) && cl.batch != "rank" && cl.batch != "mine" && !compare)
    cl.error = "--batch takes rank, mine or compare, not " + cl.batch;
  else if (!cl.batch.empty() && cl.outFile.empty())
    cl.error = "--batch needs --out FILE";
  else if (cl.batch.empty() && parser.isSet(out))
    cl.error = "--out is only used with --batch";
  else if (cl.batch.empty() && parser.isSet(report))
    cl.error = "--report is only used with --batch";
  else if (compare && parser.isSet(report))
    cl.error = "--report is only used with --batch rank or mine";
  else if (compare && cl.domain.empty())
    cl.error = "--batch compare needs --domain D";
  else if (!compare && parser.isSet(domain))
    cl.error = "--domain is only used with --batch compare";
  else if (!compare && (parser.isSet(from) || parser.isSet(to)))
    cl.error = "--from and --to are only used with --batch compare";
  else if (parser.isSet(from) != parser.isSet(to))
    cl.error = "--from and --to go together";
  else if (parser.isSet(history) && cl.noHistory)
    cl.error = "--history and --no-history exclude each other";
  else if (parser.isSet(history) && cl.historyDb.empty())
    cl.error = "--history needs a database";
  else if (cl.noHistory && (compare || parser.isSet(copyTo)))
    cl.error = std::string(compare ? "--batch compare" : "--history-copy-to") + " needs the history, not --no-history";
  else if (parser.isSet(copyTo) && cl.historyCopyTo.empty())
    cl.error = "--history-copy-to needs a database";
  else if (parser.isSet(copyTo) && !cl.batch.empty())
    cl.error = "--history-copy-to is not used with --batch";
  else if (parser.isSet(demoFaults) && !cl.demo)
    cl.error = "--demo-faults is only used with --demo";
  else if (demo::Options faults;
           parser.isSet(demoFaults) && !demo::ParseDemoFaults(cl.demoFaults, faults, &cl.error))
    cl.error = "--demo-faults: " + cl.error;
  if (!cl.keywordSite.empty() && cl.keywordSite.back() != '/') cl.keywordSite += '/';
  return cl;
}

}  // namespace lanshu
