#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDate>
#include <utility>

#include "demo/DemoFaults.h"
#include "results/Export.h"

namespace lanshu {

std::string UsageText() {
  return "usage: lanshu-collector [--settings FILE] [--rank-site URL] [--keyword-site URL]\n"
         "                        [--search-site URL] [--demo [--demo-faults SPEC]]\n"
         "                        [--batch rank|mine --out FILE [--report FILE] [--retries N]\n"
         "                                          [--resume | --campaign NAME] [--wait-for-login MINUTES]]\n"
         "                        [--batch export --run N|--campaign NAME --out FILE]\n"
         "                        [--batch compare --domain D --out FILE [--from RUN --to RUN]]\n"
         "                        [--batch history --domain D --out FILE [--since DAY] [--until DAY]]\n"
         "                        [--encoding gbk|utf-8-bom]\n"
         "                        [--history DB | --no-history] [--history-copy-to DB]\n"
         "                        [--verbose] [--help] [--version]\n";
}

std::string VersionText() { return "lanshu-collector 1.1.0\n"; }

namespace {

// The options, each with the line --help shows for it.
struct Options {
  QCommandLineOption settings{QStringLiteral("settings"), QStringLiteral("keep the settings in FILE instead of the file beside the program"), QStringLiteral("FILE")};
  QCommandLineOption rankSite{QStringLiteral("rank-site"), QStringLiteral("base address of the ranking pages for this run"), QStringLiteral("URL")};
  QCommandLineOption keywordSite{QStringLiteral("keyword-site"), QStringLiteral("root address of the keyword pages for this run"), QStringLiteral("URL")};
  QCommandLineOption searchSite{QStringLiteral("search-site"), QStringLiteral("base address of the search engine for this run"), QStringLiteral("URL")};
  QCommandLineOption demo{QStringLiteral("demo"), QStringLiteral("run on the bundled demo site (a free loopback port)")};
  QCommandLineOption demoFaults{QStringLiteral("demo-faults"), QStringLiteral("make chosen demo pages misbehave (see README)"), QStringLiteral("SPEC")};
  QCommandLineOption batch{QStringLiteral("batch"), QStringLiteral("run without a window: rank, mine, compare, export or history"), QStringLiteral("KIND")};
  QCommandLineOption out{QStringLiteral("out"), QStringLiteral("batch: write the results (or the comparison) to FILE"), QStringLiteral("FILE")};
  QCommandLineOption report{QStringLiteral("report"), QStringLiteral("batch rank or mine: also write a JSON report of the run"), QStringLiteral("FILE")};
  QCommandLineOption retries{QStringLiteral("retries"), QStringLiteral("ask again for a failed page N times (0 to 100)"), QStringLiteral("N")};
  QCommandLineOption verbose{QStringLiteral("verbose"), QStringLiteral("batch: also print the window's status texts and notices, and the browser engine's messages")};
  QCommandLineOption history{QStringLiteral("history"), QStringLiteral("keep the history in DB (an SQLite file or postgresql://...)"), QStringLiteral("DB")};
  QCommandLineOption noHistory{QStringLiteral("no-history"), QStringLiteral("keep no history of this run")};
  QCommandLineOption copyTo{QStringLiteral("history-copy-to"), QStringLiteral("copy every run of the history into DB and exit"), QStringLiteral("DB")};
  QCommandLineOption domain{QStringLiteral("domain"), QStringLiteral("batch compare or history: the domain whose runs are compared or exported"), QStringLiteral("D")};
  QCommandLineOption since{QStringLiteral("since"), QStringLiteral("batch history: only runs started on DAY (YYYY-MM-DD) or later"), QStringLiteral("DAY")};
  QCommandLineOption until{QStringLiteral("until"), QStringLiteral("batch history: only runs started on DAY (YYYY-MM-DD) or earlier"), QStringLiteral("DAY")};
  QCommandLineOption encoding{QStringLiteral("encoding"), QStringLiteral("batch: write text files (CSV, template) in gbk or utf-8-bom; default: the settings'"), QStringLiteral("NAME")};
  QCommandLineOption from{QStringLiteral("from"), QStringLiteral("batch compare: the older run's number"), QStringLiteral("RUN")};
  QCommandLineOption to{QStringLiteral("to"), QStringLiteral("batch compare: the newer run's number"), QStringLiteral("RUN")};
  QCommandLineOption resume{QStringLiteral("resume"), QStringLiteral("batch rank or mine: go on with the newest unfinished run of the kind, if any")};
  QCommandLineOption campaign{QStringLiteral("campaign"), QStringLiteral("batch rank or mine: share the run named NAME with other processes; batch export: export it"), QStringLiteral("NAME")};
  QCommandLineOption run{QStringLiteral("run"), QStringLiteral("batch export: the run's number"), QStringLiteral("N")};
  QCommandLineOption waitForLogin{QStringLiteral("wait-for-login"), QStringLiteral("batch rank or mine: at a login or verification page, load it again every minute for up to MINUTES"), QStringLiteral("MINUTES")};
  QCommandLineOption help{QStringList{QStringLiteral("help"), QStringLiteral("h")}, QStringLiteral("print this help and exit")};
  QCommandLineOption version{QStringLiteral("version"), QStringLiteral("print the version and exit")};

  void AddTo(QCommandLineParser& parser) const {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({settings, rankSite, keywordSite, searchSite, demo, demoFaults, batch, out, report,
                       retries, verbose, history, noHistory, copyTo, domain, since, until, encoding, from, to,
                       resume, campaign, run, waitForLogin, help, version});
  }
};

}  // namespace

std::string HelpText() {
  QCommandLineParser parser;
  Options().AddTo(parser);
  // The parser's own first line names the executable and "[options]"; the
  // usage lines say more.
  QString options = parser.helpText();
  options = options.mid(options.indexOf(QLatin1Char('\n')) + 1);
  while (options.startsWith(QLatin1Char('\n'))) options.remove(0, 1);
  return UsageText() + "\n" + options.toStdString() +
         "\nExit status:\n"
         "  0  FILE was written and every page was ok\n"
         "  1  the run could not start, FILE or a result file could not be written,\n"
         "     or a history command failed\n"
         "  2  a wrong command line\n"
         "  3  FILE was written, but one or more pages failed\n"
         "  4  the run ended at a login or verification page\n"
         "\nThe lines printed on standard error are listed in README.md.\n";
}

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine cl;
  QCommandLineParser parser;
  const Options o;
  o.AddTo(parser);
  const auto& [settings, rankSite, keywordSite, searchSite, demo, demoFaults, batch, out, report, retries,
               verbose, history, noHistory, copyTo, domain, since, until, encoding, from, to, resume, campaign, run,
               waitForLogin, help, version] = o;
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
  cl.resume = parser.isSet(resume);
  cl.campaign = parser.value(campaign).trimmed().toStdString();
  cl.encoding = parser.value(encoding).toStdString();
  for (auto [option, day] : {std::pair{&since, &cl.since}, std::pair{&until, &cl.until}}) {
    if (!parser.isSet(*option) || !cl.error.empty()) continue;
    *day = parser.value(*option).toStdString();
    if (!QDate::fromString(parser.value(*option), QStringLiteral("yyyy-MM-dd")).isValid())
      cl.error = "--" + option->names().first().toStdString() + " takes a day as YYYY-MM-DD, not " + *day;
  }
  for (auto [option, number] : {std::pair{&from, &cl.fromRun}, std::pair{&to, &cl.toRun}, std::pair{&run, &cl.runId}}) {
    if (!parser.isSet(*option) || !cl.error.empty()) continue;
    bool isNumber = false;
    *number = parser.value(*option).toLongLong(&isNumber);
    if (!isNumber || *number <= 0)
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
  if (parser.isSet(waitForLogin) && cl.error.empty()) {
    bool number = false;
    const int n = parser.value(waitForLogin).toInt(&number);
    if (!number || n < 0 || n > 100000)
      cl.error = "--wait-for-login takes minutes from 0 to 100000, not " + parser.value(waitForLogin).toStdString();
    cl.waitForLoginMinutes = n;
  }
  if (!cl.error.empty() || cl.help || cl.version) return cl;
  const bool compare = cl.batch == "compare";
  const bool exporting = cl.batch == "export";
  const bool historyLong = cl.batch == "history";
  const bool collecting = cl.batch == "rank" || cl.batch == "mine";
  if (parser.isSet(batch) && !collecting && !compare && !exporting && !historyLong)
    cl.error = "--batch takes rank, mine, compare, export or history, not " + cl.batch;
  else if (!cl.batch.empty() && cl.outFile.empty())
    cl.error = "--batch needs --out FILE";
  else if (cl.batch.empty() && parser.isSet(out))
    cl.error = "--out is only used with --batch";
  else if (cl.batch.empty() && parser.isSet(report))
    cl.error = "--report is only used with --batch";
  else if ((compare || exporting || historyLong) && parser.isSet(report))
    cl.error = "--report is only used with --batch rank or mine";
  else if (parser.isSet(waitForLogin) && !collecting)
    cl.error = "--wait-for-login is only used with --batch rank or mine";
  else if (cl.resume && !collecting)
    cl.error = "--resume is only used with --batch rank or mine";
  else if (parser.isSet(campaign) && !collecting && !exporting)
    cl.error = "--campaign is only used with --batch rank, mine or export";
  else if (parser.isSet(campaign) && cl.campaign.empty())
    cl.error = "--campaign needs a name";
  else if (cl.resume && parser.isSet(campaign))
    cl.error = "--resume and --campaign exclude each other";
  else if (parser.isSet(run) && !exporting)
    cl.error = "--run is only used with --batch export";
  else if (exporting && parser.isSet(run) == parser.isSet(campaign))
    cl.error = "--batch export needs either --run N or --campaign NAME";
  else if (cl.noHistory && (cl.resume || parser.isSet(campaign) || exporting))
    cl.error = std::string(cl.resume ? "--resume" : exporting ? "--batch export" : "--campaign") +
               " needs the history, not --no-history";
  else if ((compare || historyLong) && cl.domain.empty())
    cl.error = "--batch " + cl.batch + " needs --domain D";
  else if (!compare && !historyLong && parser.isSet(domain))
    cl.error = "--domain is only used with --batch compare or history";
  else if (!historyLong && (parser.isSet(since) || parser.isSet(until)))
    cl.error = "--since and --until are only used with --batch history";
  else if (!cl.since.empty() && !cl.until.empty() && cl.since > cl.until)
    cl.error = "--since " + cl.since + " comes after --until " + cl.until;
  else if (parser.isSet(encoding) && cl.batch.empty())
    cl.error = "--encoding is only used with --batch";
  else if (parser.isSet(encoding) && !EncodingFromOptionName(cl.encoding))
    cl.error = "--encoding takes gbk or utf-8-bom, not " + cl.encoding;
  else if (!compare && (parser.isSet(from) || parser.isSet(to)))
    cl.error = "--from and --to are only used with --batch compare";
  else if (parser.isSet(from) != parser.isSet(to))
    cl.error = "--from and --to go together";
  else if (parser.isSet(history) && cl.noHistory)
    cl.error = "--history and --no-history exclude each other";
  else if (parser.isSet(history) && cl.historyDb.empty())
    cl.error = "--history needs a database";
  else if (cl.noHistory && (compare || historyLong || parser.isSet(copyTo)))
    cl.error = (compare || historyLong ? "--batch " + cl.batch : std::string("--history-copy-to")) +
               " needs the history, not --no-history";
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
