#pragma once
// Helpers shared by the library tests (and the window tests where they fit).
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "text/Codec.h"
#include "text/Events.h"
#include "text/MessageBox.h"

namespace lanshu::testing {

// All bytes of a file; empty when it cannot be read.
inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The clock the result-file tests run under: 2024-03-05 14:07:09.
inline std::tm FixedClock() {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 7;
  t.tm_sec = 9;
  return t;
}

// For its lifetime, message boxes are recorded as "title|flags|text" (UTF-8)
// instead of shown, and event processing runs pump.
class RecordedHooks {
 public:
  explicit RecordedHooks(std::function<void()> pump) {
    SetEventPump(std::move(pump));
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages.push_back(GbkToUtf8Text(title) + "|" + std::to_string(flags) + "|" + GbkToUtf8Text(text));
      return kIdOk;
    });
  }
  ~RecordedHooks() {
    SetEventPump(nullptr);
    SetMessageBoxHook(nullptr);
  }
  RecordedHooks(const RecordedHooks&) = delete;
  RecordedHooks& operator=(const RecordedHooks&) = delete;

  std::vector<std::string> messages;
};

}  // namespace lanshu::testing
