#include "demo/DemoFaults.h"

#include <utility>

namespace lanshu::demo {

namespace {

// Decimal digits only, no sign, within [low, high].
bool ParseNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

std::string Trim(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool ParseKind(const std::string& text, Fault& fault, std::string& why) {
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
  const bool hasArg = colon != std::string::npos;
  if (name == "delay") {
    fault.kind = Fault::Kind::kDelay;
    if (ParseNumber(arg, 0, 600000, fault.delayMs)) return true;
    why = "delay needs milliseconds from 0 to 600000, as in delay:2000";
    return false;
  }
  if (name == "huge") {
    fault.kind = Fault::Kind::kHuge;
    if (!hasArg || ParseNumber(arg, 1, 100000, fault.rows)) return true;
    why = "huge takes a row count from 1 to 100000, as in huge:6000";
    return false;
  }
  static const std::pair<const char*, Fault::Kind> kPlain[] = {
      {"hang", Fault::Kind::kHang},       {"cut", Fault::Kind::kCutBody},
      {"login", Fault::Kind::kLogin},     {"verify", Fault::Kind::kVerify},
      {"nodata", Fault::Kind::kNoData},   {"garbage", Fault::Kind::kGarbage},
      {"throttle", Fault::Kind::kThrottle}, {"busy", Fault::Kind::kBusy},
  };
  for (const auto& plain : kPlain) {
    if (text == plain.first) {
      fault.kind = plain.second;
      return true;
    }
  }
  if (ParseNumber(text, 400, 599, fault.status)) {
    fault.kind = Fault::Kind::kStatus500;
    return true;
  }
  why = "unknown fault \"" + text +
        "\" (one of 400-599, hang, cut, delay:MS, login, verify, nodata, garbage, huge, throttle, busy)";
  return false;
}

bool ParseItem(const std::string& item, Options& options, std::string& why) {
  if (item.empty()) {
    why = "empty item (two commas in a row, or a comma at either end)";
    return false;
  }
  if (item == "login") {
    options.requireLogin = true;
    return true;
  }
  if (item == "verify") {
    options.requireVerification = true;
    return true;
  }
  if (item == "throttle") {
    options.throttlePercent = 100;
    return true;
  }
  if (item == "busy") {
    options.busyPercent = 100;
    return true;
  }
  static const std::pair<const char*, int Options::*> kPercents[] = {
      {"flaky:", &Options::flakyPercent},       {"stall:", &Options::stallPercent},
      {"logout:", &Options::logoutPercent},     {"throttle:", &Options::throttlePercent},
      {"busy:", &Options::busyPercent}};
  for (const auto& [prefix, field] : kPercents) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    if (item.compare(0, n, prefix) != 0) continue;
    if (ParseNumber(item.substr(n), 0, 100, options.*field)) return true;
    why = std::string(prefix) + " takes a percent from 0 to 100, as in " + prefix + "20";
    return false;
  }
  // Names may hold ":" and "=", kinds hold no "=" and pages no ":".
  const std::size_t eq = item.rfind('=');
  if (eq == std::string::npos) {
    why = "expected rank:DOMAIN:PAGE=FAULT, mine:SEED:PAGE=FAULT, login, verify, throttle[:P], busy[:P], "
          "flaky:P, stall:P or logout:P";
    return false;
  }
  const std::string target = item.substr(0, eq);
  const bool rank = target.compare(0, 5, "rank:") == 0;
  if (!rank && target.compare(0, 5, "mine:") != 0) {
    why = "a target starts with rank: or mine:";
    return false;
  }
  const std::size_t pageColon = target.rfind(':');
  const std::string name = pageColon > 4 ? target.substr(5, pageColon - 5) : "";
  const std::string pageText = pageColon > 4 ? target.substr(pageColon + 1) : "";
  if (pageColon <= 4 || name.empty()) {
    why = rank ? "expected rank:DOMAIN:PAGE" : "expected mine:SEED:PAGE";
    return false;
  }
  if (!IsValidUtf8(name)) {
    why = "the name is not UTF-8";
    return false;
  }
  int page = 0;
  if (pageText != "*" && !ParseNumber(pageText, 1, 999999, page)) {
    why = "the page is a number from 1 or *";
    return false;
  }
  Fault fault;
  if (!ParseKind(item.substr(eq + 1), fault, why)) return false;
  fault.path = rank ? RankFaultPath(name, page) : KeywordFaultPath(name, page);
  options.faults.push_back(fault);
  return true;
}

}  // namespace

bool ParseDemoFaults(const std::string& faultsUtf8, Options& options, std::string* error) {
  Options result = options;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = faultsUtf8.find(',', start);
    const std::string raw = faultsUtf8.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    std::string why;
    if (!ParseItem(Trim(raw), result, why)) {
      if (error) *error = "bad item \"" + raw + "\": " + why;
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  options = std::move(result);
  return true;
}

// Chromium and the HTTP engine percent-encode differently; the site decodes
// both to the same UTF-8 path, so faults match on that form. The sort word
// varies, hence the prefix.
std::string RankFaultPath(const std::string& domainUtf8, int page) {
  return "/baidu/" + domainUtf8 + "/" + (page > 0 ? std::to_string(page) + "/*" : "*");
}

std::string KeywordFaultPath(const std::string& seedUtf8, int page) {
  return "/" + seedUtf8 + "/" + (page > 0 ? std::to_string(page) + "/" : "*");
}

}  // namespace lanshu::demo
