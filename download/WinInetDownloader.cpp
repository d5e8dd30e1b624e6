#include "download/WinInetDownloader.h"

#include <optional>
#include <string>
#include <vector>

#include "download/AnswerHead.h"
#include "download/ErrorText.h"
#include "download/PartialDownload.h"
#include "download/RedirectTrail.h"
#include "download/WinInetHandle.h"

namespace {

// Always from the server; every 3xx comes back here to be judged.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;

struct OpenedUrl {
    UniqueWinInetHandle request;
    DWORD status;
};

std::optional<DWORD> StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        return std::nullopt;
    }
    return status;
}

// A header's whole value, however long; nothing when there is none.
std::optional<CStringW> TextHeader(HINTERNET request, DWORD query) {
    DWORD bytes = 0;
    ::HttpQueryInfoW(request, query, nullptr, &bytes, nullptr);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(request, query, buffer.data(), &bytes, nullptr)) return std::nullopt;
    return CStringW(buffer.data(), bytes / sizeof(wchar_t));
}

DWORD QueryFor(HeadField field) {
    switch (field) {
    case HeadField::ContentLength: return HTTP_QUERY_CONTENT_LENGTH;
    case HeadField::ETag: return HTTP_QUERY_ETAG;
    case HeadField::LastModified: return HTTP_QUERY_LAST_MODIFIED;
    case HeadField::Date: return HTTP_QUERY_DATE;
    case HeadField::ContentRange: return HTTP_QUERY_CONTENT_RANGE;
    case HeadField::AcceptRanges: return HTTP_QUERY_ACCEPT_RANGES;
    }
    return HTTP_QUERY_CONTENT_LENGTH;
}

bool IsAccepted(DWORD status, bool rangeAsked) {
    return status == 200 || (rangeAsked && (status == 206 || status == 416));
}

// The first answer along the trail that is not a redirect; every hop carries
// the same extra header lines.
OpenedUrl OpenFollowingRedirects(HINTERNET internet, RedirectTrail& trail, const CStringW& headers) {
    const wchar_t* extra = headers.empty() ? nullptr : headers.c_str();
    const DWORD extraLength = static_cast<DWORD>(headers.size());
    for (;;) {
        UniqueWinInetHandle request(
            ::InternetOpenUrlW(internet, trail.Next().c_str(), extra, extraLength, kOpenFlags, 0));
        if (!request) throw ErrorWithLastError(L"Failed to open URL::");
        const std::optional<DWORD> status = StatusCode(request.Get());
        if (!status) throw ErrorWithLastError(L"Failed to query HTTP status code:");
        if (!RedirectTrail::IsRedirect(*status)) return OpenedUrl{std::move(request), *status};
        trail.Follow(TextHeader(request.Get(), HTTP_QUERY_LOCATION));
    }
}

}  // namespace

void WinInetDownloader::ThrowIfCancelled() const {
    if (cancelled_) throw std::runtime_error("Download cancelled.");
}

DownloadedFile WinInetDownloader::DownloadToFile(const CStringW& url, const CStringW& destination, HWND window,
                                                 const std::string& expectedSha256) {
    PartialDownload partial(destination, expectedSha256, window);
    Attempt(url, partial);
    return partial.Complete();
}

void WinInetDownloader::Attempt(const CStringW& url, PartialDownload& partial) {
    UniqueWinInetHandle internet(::InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) throw ErrorWithLastError(L"Failed to initialize WinINet::");
    for (;;) {
        RedirectTrail trail(url);
        const bool rangeAsked = partial.CanResume();
        const OpenedUrl opened = OpenFollowingRedirects(internet.Get(), trail, partial.RangeHeaders());
        if (!IsAccepted(opened.status, rangeAsked)) {
            // The text after the status is that of whatever error the thread holds.
            const DWORD code = ::GetLastError();
            throw std::runtime_error(ToAnsi(L"Server returned status code: HTTP " + std::to_wstring(opened.status) +
                                            L" - " + GetSystemErrorText(code)));
        }
        HINTERNET request = opened.request.Get();
        const AnswerHead head =
            ReadAnswerHead(opened.status, [request](HeadField field) { return TextHeader(request, QueryFor(field)); });
        if (!partial.IsOpen()) throw ErrorWithCode(L"Failed to open file for writing:", partial.OpenError());
        if (partial.Begin(head) == PartialDownload::Start::AskAgain) continue;
        ReadBody(request, partial);
        return;
    }
}

void WinInetDownloader::ReadBody(void* request, PartialDownload& partial) {
    for (;;) {
        ThrowIfCancelled();
        DWORD read = 0;
        // Read straight into the file's next block, as the WinHTTP transfer does.
        // Without a length nothing else would tell a broken body from a whole one.
        if (!::InternetReadFile(request, partial.Space(kReadSize), kReadSize, &read)) {
            throw ErrorWithLastError(L"Failed to read data:");
        }
        if (read == 0) break;
        partial.Commit(read);
    }
    partial.EndBody();
}
