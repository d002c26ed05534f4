// lanshu-collector: collects rank and related-keyword data from the site.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/Application.h"
#include "app/Batch.h"
#include "app/MainWindow.h"

int main(int argc, char** argv) {
  // A batch run shows no window: it needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--batch") == 0 && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The browser engine's sandbox refuses to start as root.
  if (geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lanshu-collector"));

  const lanshu::CommandLine options = lanshu::ParseCommandLine(QApplication::arguments());
  if (!options.error.empty()) {
    std::fprintf(stderr, "lanshu-collector: %s\n", options.error.c_str());
    std::fprintf(stderr,
                 "usage: lanshu-collector [--settings FILE] [--rank-site URL] [--keyword-site URL] "
                 "[--search-site URL] [--demo] [--batch rank|mine --out FILE]\n");
    return 2;
  }
  std::string why;
  if (!options.batch.empty() && !lanshu::BatchOutputWritable(options, why)) {
    std::fprintf(stderr, "lanshu-collector: %s\n", why.c_str());
    return 1;
  }
  lanshu::Application::InstallWindowHooks();
  lanshu::Application program(options);
  if (!program.Ok()) {
    std::fprintf(stderr, "lanshu-collector: %s\n", program.Error().c_str());
    return 1;
  }
  if (!options.batch.empty()) return lanshu::RunBatch(program, options);
  program.Window()->show();
  return app.exec();
}
