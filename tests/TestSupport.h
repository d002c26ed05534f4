#pragma once
// Helpers shared by the library tests (and the window tests where they fit).
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "text/Codec.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

namespace lanshu::testing {

// All bytes of a file; empty when it cannot be read.
inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads comma-separated text strictly, as a spreadsheet program reads it:
// records end in "\r\n" (the last one may lack it), a quoted cell starts with
// a quote, doubles its inner quotes and is followed by "," or the record's
// end; a quote anywhere else, or a lone CR or LF outside quotes, is an error.
// False on an error, with the records read so far.
inline bool ReadCsv(const std::string& text, std::vector<std::vector<std::string>>& records) {
  records.clear();
  if (text.empty()) return true;
  std::vector<std::string> record;
  std::string cell;
  std::size_t i = 0;
  for (;;) {
    cell.clear();
    if (i < text.size() && text[i] == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) return false;  // unterminated
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            cell += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          cell += text[i];
        }
      }
    } else {
      for (; i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n'; ++i) {
        if (text[i] == '"') return false;
        cell += text[i];
      }
    }
    record.push_back(cell);
    if (i == text.size()) {
      records.push_back(record);
      return true;
    }
    if (text[i] == ',') {
      ++i;
      continue;
    }
    if (text.compare(i, 2, "\r\n") != 0) return false;
    i += 2;
    records.push_back(record);
    record.clear();
    if (i == text.size()) return true;
  }
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
