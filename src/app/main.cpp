// lanshu-collector: collects rank and related-keyword data from the site.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "app/Application.h"
#include "app/Batch.h"
#include "app/CommandLine.h"
#include "app/HistoryWiring.h"
#include "app/MainWindow.h"

namespace {

// Without --verbose a batch run's standard error carries only the program's
// own lines: the browser engine's start-up notes and page console messages
// are dropped.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::abort();
  }
}

void AddChromiumFlags(const char* flags) {
  QByteArray joined = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!joined.isEmpty()) joined += ' ';
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", joined + flags);
}

// The browser engine's sandbox refuses to start as root; only Unix has one.
bool RunningAsRoot() {
#ifdef Q_OS_UNIX
  return geteuid() == 0;
#else
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const lanshu::CommandLine options = lanshu::ParseCommandLine(arguments);
  if (options.help && options.error.empty()) {
    std::fputs(lanshu::HelpText().c_str(), stdout);
    return 0;
  }
  if (options.version && options.error.empty()) {
    std::fputs(lanshu::VersionText().c_str(), stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "lanshu-collector: %s\n%s", options.error.c_str(), lanshu::UsageText().c_str());
    return 2;
  }
  const bool batch = !options.batch.empty();
  const bool headless = batch || !options.historyCopyTo.empty();
  // A batch run shows no window: it needs no display.
  if (headless && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (headless && !options.verbose) {
    qInstallMessageHandler(QuietMessages);
    AddChromiumFlags("--log-level=3");
  }
  if (RunningAsRoot() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lanshu-collector"));

  std::string why;
  if (batch && !lanshu::BatchOutputWritable(options, why)) {
    std::fprintf(stderr, "lanshu-collector: %s\n", why.c_str());
    return 1;
  }
  // The history commands only read the store: no browser, no window.
  if (!options.historyCopyTo.empty()) return lanshu::RunHistoryCopy(options);
  if (options.batch == "compare") return lanshu::RunBatchCompare(options);
  if (options.batch == "export") return lanshu::RunBatchExport(options);
  if (options.batch == "history") return lanshu::RunBatchHistory(options);
  lanshu::Application::InstallChineseTranslations();
  lanshu::Application::InstallWindowHooks();
  lanshu::Application program(options);
  if (!program.Ok()) {
    std::fprintf(stderr, "lanshu-collector: %s\n", program.Error().c_str());
    return 1;
  }
  if (batch) return lanshu::RunBatch(program, options);
  program.Window()->show();
  return app.exec();
}
