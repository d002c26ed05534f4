#pragma once
// The Retry-After header of an answer: how long a site that throttles asks
// to be left alone, given either as seconds or as an HTTP date.
#include <ctime>
#include <string>

namespace lanshu {

// Seconds from `now` that the header block's Retry-After asks for (a date
// in the past: 0); -1 when the block has no Retry-After or it reads as
// neither form. The first such header counts.
int RetryAfterSeconds(const std::string& headerBlock, std::time_t now);

}  // namespace lanshu
