// lanshu-demo-site: serves the demo site on loopback until interrupted.
#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: lanshu-demo-site [--port N] [--rank-pages N] [--rank-rows N]\n"
               "                        [--keyword-pages N] [--keyword-rows N] [--delay-ms N]\n"
               "                        [--require-login] [--demo-faults SPEC]\n"
               "SPEC: comma-separated items rank:DOMAIN:PAGE=FAULT, mine:SEED:PAGE=FAULT, login, verify;\n"
               "      PAGE is a number or *; FAULT is 400-599, hang, cut, delay:MS, login, verify,\n"
               "      nodata, garbage or huge[:ROWS] (see README)\n");
  return 2;
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  lanshu::demo::Options options;
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--require-login") {
      options.requireLogin = true;
      continue;
    }
    if (arg == "--demo-faults") {
      std::string error = "SPEC missing";
      if (i + 1 >= argc || !lanshu::demo::ParseDemoFaults(argv[++i], options, &error)) {
        std::fprintf(stderr, "lanshu-demo-site: --demo-faults: %s\n", error.c_str());
        return Usage();
      }
      continue;
    }
    int* target = arg == "--port"            ? &port
                  : arg == "--rank-pages"    ? &options.rankPages
                  : arg == "--rank-rows"     ? &options.rankRowsPerPage
                  : arg == "--keyword-pages" ? &options.keywordPages
                  : arg == "--keyword-rows"  ? &options.keywordRowsPerPage
                  : arg == "--delay-ms"      ? &options.delayMs
                                             : nullptr;
    if (target == nullptr || i + 1 >= argc || !ParseInt(argv[++i], *target) || port > 65535) return Usage();
  }

  // Block the stop signals before the server threads exist, then wait for one.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  lanshu::demo::DemoSite site(options);
  if (!site.Start(port)) {
    std::fprintf(stderr, "lanshu-demo-site: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("%s\n", site.BaseUrl().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  site.Stop();
  return 0;
}
