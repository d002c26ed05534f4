#pragma once
// Demo site faults written as one command-line argument, so that a user can
// make any page of the demo site fail, hang or ask for a login and watch what
// the program does. The grammar (README, "Demo site faults"):
//
//   SPEC   = ITEM *( "," ITEM )
//   ITEM   = "login" | "verify" | "throttle" [ ":" P ] | "busy" [ ":" P ]
//          | "flaky:" P | "stall:" P | "logout:" P | TARGET "=" KIND
//   TARGET = ( "rank:" DOMAIN | "mine:" SEED ) ":" ( PAGE | "*" )
//   KIND   = STATUS | "hang" | "cut" | "delay:" MS | "login" | "verify"
//          | "nodata" | "garbage" | "huge" [ ":" ROWS ] | "throttle" | "busy"
//
// The bare throttle, busy and percent items touch a page's first requests
// only (see Options); a TARGET's throttle or busy answers every request.
// DOMAIN and SEED are UTF-8 and may hold anything but ","; blanks around an
// item are ignored. STATUS is 400 to 599. The first item that names a page
// decides its fault.
#include "demo/DemoContent.h"

#include <string>

namespace lanshu::demo {

// Adds the faults of faultsUtf8 to options (bare "login" sets requireLogin, bare
// "verify" requireVerification). On a bad item returns false, leaves options
// unchanged and, when error is given, says which item and why.
bool ParseDemoFaults(const std::string& faultsUtf8, Options& options, std::string* error = nullptr);

// The request path a fault matches for page `page` (0: every page) of a
// domain's ranking listing under any sort word, or of a seed's keyword listing.
// Both names are UTF-8: the decoded form of what the program requests.
std::string RankFaultPath(const std::string& domainUtf8, int page);
std::string KeywordFaultPath(const std::string& seedUtf8, int page);

}  // namespace lanshu::demo
