#pragma once
// Pages the demo site shows in place of a result page: error pages, the login
// wall, the captcha check and a page of the wrong kind. All GBK; `utf8Meta`
// declares UTF-8 instead, for a page the keyword site serves converted.
#include <string>

namespace lanshu::demo {

struct Options;

std::string SimplePage(const std::string& title, const std::string& body, bool utf8Meta = false);
// The login form, with the demo account's name and password beside it.
std::string LoginForm(const std::string& user, const Options& opt);

// What a ranking page, or with keywordSite a keyword page (UTF-8 declared),
// shows to a visitor who is not logged in.
std::string LoginRequiredPageHtml(const Options& opt, bool keywordSite = false);

// The short page that goes with an HTTP error status.
std::string ErrorPageHtml(int status);

// The captcha check of a site that finds the visitor too busy; passing it
// (any code, posted to /verify.php) returns to `returnPath`.
std::string VerificationPageHtml(const std::string& returnPath, bool failed = false,
                                 bool utf8Meta = false);

// A hosting provider's placeholder: status 200 but nothing of the site.
std::string GarbagePageHtml(bool utf8Meta = false);

// What a site that finds the visitor too busy says instead of the page:
// status 200, a notice to come back later, nothing to fill in.
std::string BusyPageHtml(bool utf8Meta = false);

}  // namespace lanshu::demo
