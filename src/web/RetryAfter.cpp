#include "web/RetryAfter.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace lanshu {
namespace {

std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

}  // namespace

int RetryAfterSeconds(const std::string& headerBlock, std::time_t now) {
  static const std::string kName = "retry-after:";
  std::size_t start = 0;
  while (start < headerBlock.size()) {
    std::size_t end = headerBlock.find('\n', start);
    if (end == std::string::npos) end = headerBlock.size();
    const std::string line = headerBlock.substr(start, end - start);
    start = end + 1;
    if (line.size() < kName.size()) continue;
    bool named = true;
    for (std::size_t i = 0; i < kName.size() && named; ++i)
      named = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
    if (!named) continue;
    const std::string value = Trimmed(line.substr(kName.size()));
    if (value.empty()) return -1;
    if (std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); })) {
      // A count beyond any sensible wait is capped by the caller anyway.
      if (value.size() > 9) return INT_MAX;
      return std::stoi(value);
    }
    // libcurl reads the three date forms HTTP allows.
    const std::time_t when = curl_getdate(value.c_str(), nullptr);
    if (when == -1) return -1;
    if (when <= now) return 0;
    return static_cast<int>(std::min<long long>(static_cast<long long>(when - now), INT_MAX));
  }
  return -1;
}

}  // namespace lanshu
