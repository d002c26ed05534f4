// lanshu-collector: collects rank and related-keyword data from the site.
#include <QApplication>
#include <cstdio>

#include "app/Application.h"
#include "app/MainWindow.h"

int main(int argc, char** argv) {
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
  lanshu::Application::InstallWindowHooks();
  lanshu::Application program(options);
  if (!program.Ok()) {
    std::fprintf(stderr, "lanshu-collector: %s\n", program.Error().c_str());
    return 1;
  }
  program.Window()->show();
  return app.exec();
}
