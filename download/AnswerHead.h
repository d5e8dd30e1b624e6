// The parts of a file answer's head that decide whether a cut transfer may
// continue where it stopped: its validators and byte ranges, as HTTP defines
// them. Read the same way from either transport. Pure functions; any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "framework/Strings.h"

// The headers a transport is asked for, by name rather than by its own query number.
enum class HeadField { ContentLength, ETag, LastModified, Date, ContentRange, AcceptRanges };

struct AnswerHead {
    DWORD status = 0;
    std::optional<std::uint64_t> contentLength;
    std::optional<CStringW> etag;
    std::optional<CStringW> lastModified;
    std::optional<CStringW> date;
    std::optional<CStringW> contentRange;
    std::optional<CStringW> acceptRanges;
};

using HeaderQuery = std::function<std::optional<CStringW>(HeadField)>;
AnswerHead ReadAnswerHead(DWORD status, const HeaderQuery& header);

// What If-Range may carry for the representation this head describes: its
// entity tag when that is strong, else its Last-Modified when that is a
// strong validator (at least a second older than the answer's Date). None
// otherwise: a weak tag or a bare date cannot vouch for the same bytes.
std::optional<CStringW> ResumeValidatorOf(const AnswerHead& head);

// Whether the server said it serves byte ranges ("Accept-Ranges: bytes").
bool AcceptsByteRanges(const AnswerHead& head);

// "bytes first-last/total" or "bytes first-last/*".
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total;  // none for "*"
};
std::optional<ContentRange> ParseContentRange(std::wstring_view value);
