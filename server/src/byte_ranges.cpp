#include "byte_ranges.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <system_error>

namespace ostrel {

namespace {

struct Spec {
  std::optional<std::uint64_t> first;
  std::optional<std::uint64_t> last;  // with first: the last byte; without: a suffix length
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "bytes=first-last", "bytes=first-" or "bytes=-suffix"; a list of several is
// not served (a server may answer it whole).
std::optional<Spec> ParseSingleRange(std::string_view value) {
  value = Trim(value);
  constexpr std::string_view kUnit = "bytes=";
  if (value.size() < kUnit.size()) return std::nullopt;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) != kUnit[i]) return std::nullopt;
  }
  value = Trim(value.substr(kUnit.size()));
  if (value.find(',') != std::string_view::npos) return std::nullopt;
  const std::size_t dash = value.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view before = Trim(value.substr(0, dash));
  const std::string_view after = Trim(value.substr(dash + 1));
  Spec spec;
  if (before.empty()) {
    spec.last = Number(after);
    if (!spec.last) return std::nullopt;
    return spec;
  }
  spec.first = Number(before);
  if (!spec.first) return std::nullopt;
  if (!after.empty()) {
    spec.last = Number(after);
    if (!spec.last || *spec.last < *spec.first) return std::nullopt;
  }
  return spec;
}

// If-Range holds an entity tag or a date. A tag matches only strongly (never
// a weak one); a date only when it is exactly the Last-Modified sent.
bool IfRangeMatches(std::string_view ifRange, const Validators& validators) {
  ifRange = Trim(ifRange);
  if (ifRange.rfind("W/", 0) == 0) return false;
  if (!ifRange.empty() && ifRange.front() == '"') return validators.etag && ifRange == *validators.etag;
  return validators.lastModified && ifRange == *validators.lastModified;
}

RangePlan Whole(std::uint64_t size) { return RangePlan{200, 0, size, {}}; }

}  // namespace

RangePlan PlanRange(std::uint64_t size, const std::optional<std::string>& range,
                    const std::optional<std::string>& ifRange, const Validators& validators) {
  if (!range) return Whole(size);
  const std::optional<Spec> spec = ParseSingleRange(*range);
  if (!spec) return Whole(size);
  if (ifRange && !IfRangeMatches(*ifRange, validators)) return Whole(size);

  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool satisfiable = false;
  if (!spec->first) {
    // The last N bytes; a suffix of 0 selects nothing.
    satisfiable = *spec->last > 0 && size > 0;
    first = *spec->last >= size ? 0 : size - *spec->last;
    last = size - 1;
  } else {
    satisfiable = *spec->first < size;
    first = *spec->first;
    last = spec->last && *spec->last < size ? *spec->last : size - 1;
  }
  if (!satisfiable) return RangePlan{416, 0, 0, "bytes */" + std::to_string(size)};
  return RangePlan{206, first, last - first + 1,
                   "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size)};
}

std::string HttpDate(std::int64_t secondsSinceEpoch) {
  const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
  std::tm utc{};
  gmtime_r(&time, &utc);
  // strftime's names would follow the locale; HTTP's are fixed.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace ostrel
