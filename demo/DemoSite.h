#pragma once
// The demo site: ranking pages, the user page, keyword pages and the search
// engine on one loopback HTTP server, for tests and for the program's demo
// mode. All three site roles share one base address "http://127.0.0.1:PORT".
#include "demo/DemoContent.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lanshu::demo {

// One request as the site received it.
struct LoggedRequest {
  std::string method;
  std::string target;  // as sent: path and query, percent-encoded
  std::string path;    // decoded path, without the query
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent
  std::map<std::string, std::string> cookies;                // from the Cookie headers

  bool HasHeader(const std::string& name) const;           // name compared ignoring case
  std::string Header(const std::string& name) const;       // first value, or empty
};

class DemoSite {
 public:
  static constexpr const char* kSessionCookie = "lanshu_session";
  static constexpr const char* kCheckCookie = "lanshu_verified";  // a passed captcha check

  DemoSite();
  explicit DemoSite(Options options);
  ~DemoSite();
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Listens on 127.0.0.1; port 0 picks a free port. False if already running
  // or the port cannot be bound.
  bool Start(int port = 0);
  // Ends the server promptly: answers held back (hang and delay faults) are
  // released first. Safe to call when not running.
  void Stop();
  bool Running() const;
  int Port() const;            // 0 when not running
  std::string BaseUrl() const;  // "http://127.0.0.1:PORT", empty when not running

  // Knobs: read and changed at any time; each request works with the values
  // current when it arrived. SetOptions also counts every page's requests
  // anew, for the faults of first requests.
  Options GetOptions() const;
  void SetOptions(const Options& options);
  void UpdateOptions(const std::function<void(Options&)>& change);

  // Requests in arrival order, including those still being answered.
  std::vector<LoggedRequest> Requests() const;
  void ClearLog();

  // A session value the site accepts as logged in (as after a login by user).
  std::string IssueSession(const std::string& user = "demo");
  bool IsSessionValid(const std::string& session) const;

  // What the site serves now, for the current options and base address.
  std::vector<RankRow> ExpectedRankRows(const std::string& domain, int page,
                                        const std::string& sortWord) const;
  std::vector<KeywordRow> ExpectedKeywordRows(const std::string& seed, int page) const;
  std::string RankUrl(const std::string& domain, int page, const std::string& sortWord) const;
  std::string KeywordUrl(const std::string& seed, int page) const;
  std::string KeywordSiteRoot() const;  // BaseUrl() + "/"

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lanshu::demo
