#pragma once
// Unattended runs: one collection without showing the window, its results
// exported to a file exactly as the export buttons write them.
#include <string>

namespace lanshu {

class Application;
struct CommandLine;

// True when options.outFile can be written (checked before anything starts);
// otherwise why says what is wrong.
bool BatchOutputWritable(const CommandLine& options, std::string& why);

// Runs the collection named by options.batch ("rank" or "mine") with the
// settings-file values and writes options.outFile. Progress texts and
// messages go to standard error. Returns the process exit status.
int RunBatch(Application& app, const CommandLine& options);

}  // namespace lanshu
