#include "download/AnswerHead.h"

#include <winhttp.h>

#include <cwctype>

#include "download/ContentLength.h"

namespace {

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    return text;
}

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

// Seconds since 1601 of an HTTP date; none when it is not one.
std::optional<ULONGLONG> SecondsOf(const CStringW& httpDate) {
    SYSTEMTIME time{};
    if (!::WinHttpTimeToSystemTime(httpDate.c_str(), &time)) return std::nullopt;
    FILETIME file{};
    if (!::SystemTimeToFileTime(&time, &file)) return std::nullopt;
    ULARGE_INTEGER ticks{};
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    return ticks.QuadPart / 10000000ULL;
}

bool IsStrongEntityTag(std::wstring_view tag) {
    return tag.size() >= 2 && tag.front() == L'"' && tag.back() == L'"';
}

}  // namespace

AnswerHead ReadAnswerHead(DWORD status, const HeaderQuery& header) {
    AnswerHead head;
    head.status = status;
    if (const std::optional<CStringW> length = header(HeadField::ContentLength)) {
        head.contentLength = ParseContentLength(*length);
    }
    head.etag = header(HeadField::ETag);
    head.lastModified = header(HeadField::LastModified);
    head.date = header(HeadField::Date);
    head.contentRange = header(HeadField::ContentRange);
    head.acceptRanges = header(HeadField::AcceptRanges);
    return head;
}

std::optional<CStringW> ResumeValidatorOf(const AnswerHead& head) {
    if (head.etag) {
        const std::wstring_view tag = Trim(*head.etag);
        if (IsStrongEntityTag(tag)) return CStringW(tag);
        // A weak tag says the bytes may differ; the date cannot say more then.
        return std::nullopt;
    }
    if (!head.lastModified || !head.date) return std::nullopt;
    const std::optional<ULONGLONG> modified = SecondsOf(*head.lastModified);
    const std::optional<ULONGLONG> sent = SecondsOf(*head.date);
    if (!modified || !sent || *sent < *modified + 1) return std::nullopt;
    return CStringW(Trim(*head.lastModified));
}

bool AcceptsByteRanges(const AnswerHead& head) {
    if (!head.acceptRanges) return false;
    std::wstring_view rest = *head.acceptRanges;
    while (!rest.empty()) {
        const size_t comma = rest.find(L',');
        if (SameLetters(Trim(rest.substr(0, comma)), L"bytes")) return true;
        if (comma == std::wstring_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<ContentRange> ParseContentRange(std::wstring_view value) {
    value = Trim(value);
    constexpr std::wstring_view kUnit = L"bytes ";
    if (value.size() < kUnit.size() || !SameLetters(value.substr(0, kUnit.size()), kUnit)) return std::nullopt;
    value = Trim(value.substr(kUnit.size()));
    const size_t dash = value.find(L'-');
    const size_t slash = value.find(L'/');
    if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || dash > slash) return std::nullopt;
    const std::optional<std::uint64_t> first = ParseContentLength(value.substr(0, dash));
    const std::optional<std::uint64_t> last = ParseContentLength(value.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first) return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::wstring_view total = Trim(value.substr(slash + 1));
    if (total != L"*") {
        range.total = ParseContentLength(total);
        if (!range.total || *range.total <= *last) return std::nullopt;
    }
    return range;
}
