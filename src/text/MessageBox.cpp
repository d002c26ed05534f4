#include "text/MessageBox.h"

#include <cstdio>
#include <utility>

#include "text/Codec.h"

namespace lanshu {
namespace {
MessageBoxHook& TheHook() {
  static MessageBoxHook hook;
  return hook;
}
bool muted = false;
}  // namespace

void SetMessagesMuted(bool on) { muted = on; }

void SetMessageBoxHook(MessageBoxHook hook) { TheHook() = std::move(hook); }

int ShowMessageBox(const std::string& text, int flags, const std::string& title) {
  if (muted) return kIdOk;
  if (TheHook()) return TheHook()(text, flags, title);
  std::string line = GbkToUtf8Text(title) + " " + GbkToUtf8Text(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kIdOk;
}

}  // namespace lanshu
