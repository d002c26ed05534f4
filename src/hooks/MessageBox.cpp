#include "hooks/MessageBox.h"

#include <cstdio>
#include <utility>

namespace lanshu {
namespace {
MessageBoxHook& TheHook() {
  static MessageBoxHook hook;
  return hook;
}
bool muted = false;
}  // namespace

void SetMessagesMuted(bool on) { muted = on; }
bool MessagesMuted() { return muted; }

void SetMessageBoxHook(MessageBoxHook hook) { TheHook() = std::move(hook); }

int ShowMessageBox(const std::string& text, int flags, const std::string& title) {
  if (muted) return kIdOk;
  if (TheHook()) return TheHook()(text, flags, title);
  // The bytes as they are: this library sits below the codec.
  std::string line = title + " " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kIdOk;
}

}  // namespace lanshu
