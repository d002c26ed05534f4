#pragma once
// The program's command line: what it asks for, parsed before any window or
// browser engine exists, so --help and --version work without a display.
#include <QStringList>
#include <string>

namespace lanshu {

struct CommandLine {
  std::string settingsFile;  // empty: beside the program
  std::string rankSite, keywordSite, searchSite;  // empty: from the settings file
  bool demo = false;
  std::string demoFaults;  // SPEC of --demo-faults (UTF-8)
  std::string batch;       // "", "rank", "mine", "compare", "export" or "history"
  std::string outFile;
  std::string reportFile;  // --report FILE: the JSON report of a batch run
  int retries = -1;        // --retries N; -1: from the settings file
  int waitForLoginMinutes = -1;  // --wait-for-login MINUTES; -1: a wall ends the run
  std::string historyDb;   // --history DB (UTF-8); empty: from the settings file
  bool noHistory = false;  // --no-history
  std::string historyCopyTo;  // --history-copy-to DB (UTF-8)
  std::string domain;      // --domain D of --batch compare or history (UTF-8)
  std::string since, until;  // --since/--until YYYY-MM-DD of --batch history; empty: open
  std::string encoding;    // --encoding gbk|utf-8-bom; empty: from the settings file
  long long fromRun = 0, toRun = 0;  // --from RUN --to RUN; 0: the latest two finished runs
  bool resume = false;     // --resume: go on with the kind's unfinished run
  std::string campaign;    // --campaign NAME (UTF-8): the run shared under NAME
  long long runId = 0;     // --run N of --batch export
  bool verbose = false;    // let the browser engine's own messages through
  bool help = false;
  bool version = false;
  std::string error;  // not empty when the arguments are bad
};

// Parses the program's arguments (the first is the program's name).
CommandLine ParseCommandLine(const QStringList& arguments);

// The usage lines that follow a command-line error.
std::string UsageText();
// What --help prints: the usage, every option with what it does, the exit
// statuses.
std::string HelpText();
// What --version prints.
std::string VersionText();

}  // namespace lanshu
