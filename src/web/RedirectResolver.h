#pragma once
// Resolves the search engine's redirect links without following them.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lanshu {

// Asks for `link` (an "http://" or "https://" address) without following the
// redirect and returns the "Location" header of the answer unchanged (absolute
// or relative as sent); the empty text on any failure or without the header.
// No cookie and no referrer are sent. The request runs on the transfer loop
// while window events keep being processed; it gives up after 5 s without a
// resolved name, 5 s more without a connection, 10 s for sending and 5 s
// without an answer.
std::string ResolveRedirectLink(const std::string& link);

// A Location as the address it names: a relative one is resolved against
// the link that answered with it; an absolute one, or one that cannot be
// resolved, is returned unchanged.
std::string AbsoluteLocation(const std::string& link, const std::string& location);

// Resolves the links together, at most `atOnce` in flight, each as
// ResolveRedirectLink would; the answers come in the order of the links.
// When the waits are cancelled or `stopped()` holds (asked every few
// milliseconds: Stop during link conversion), links not yet answered give the
// empty text and no further link is asked for.
std::vector<std::string> ResolveRedirectLinks(const std::vector<std::string>& links,
                                              std::size_t atOnce = 8,
                                              const std::function<bool()>& stopped = nullptr);

}  // namespace lanshu
