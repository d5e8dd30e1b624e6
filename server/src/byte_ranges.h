#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// What a file answer's validators are: a strong entity tag and a modification
// time, as the file host sends them and as If-Range is compared with them.
struct Validators {
  std::optional<std::string> etag;          // quoted, as on the wire; none: not sent
  std::optional<std::string> lastModified;  // IMF-fixdate; none: not sent
};

// How a GET with the given Range and If-Range headers is answered for content
// of `size` bytes (HTTP's rules for byte ranges): the whole content (200), one
// range of it (206), or nothing when no range can be served (416).
struct RangePlan {
  int status = 200;
  std::uint64_t first = 0;   // first byte sent
  std::uint64_t length = 0;  // bytes sent
  std::string contentRange;  // Content-Range value for 206 and 416
};

// range/ifRange: the header values, or none when absent. A Range that is not
// a single well-formed byte range is ignored, as is any Range whose If-Range
// does not match the current validators by strong comparison.
RangePlan PlanRange(std::uint64_t size, const std::optional<std::string>& range,
                    const std::optional<std::string>& ifRange, const Validators& validators);

// An HTTP date in the IMF-fixdate form, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::int64_t secondsSinceEpoch);

}  // namespace ostrel
