#include "download/WinInetDownloader.h"

#include <optional>
#include <string>
#include <vector>

#include "download/ContentLength.h"
#include "download/ErrorText.h"
#include "download/ProgressReporter.h"
#include "download/RedirectTrail.h"
#include "download/TemporaryDownloadFile.h"
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

// Read as text, so lengths of 4 GiB and more survive.
std::optional<std::uint64_t> ContentLength(HINTERNET request) {
    const std::optional<CStringW> text = TextHeader(request, HTTP_QUERY_CONTENT_LENGTH);
    if (!text) return std::nullopt;
    return ParseContentLength(*text);
}

// The first answer along the trail that is not a redirect.
OpenedUrl OpenFollowingRedirects(HINTERNET internet, RedirectTrail& trail) {
    for (;;) {
        UniqueWinInetHandle request(::InternetOpenUrlW(internet, trail.Next().c_str(), nullptr, 0, kOpenFlags, 0));
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
    TemporaryDownloadFile file(destination, expectedSha256);

    UniqueWinInetHandle internet(::InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) throw ErrorWithLastError(L"Failed to initialize WinINet::");
    RedirectTrail trail(url);
    const OpenedUrl opened = OpenFollowingRedirects(internet.Get(), trail);
    if (opened.status != 200) {
        // The text after the status is that of whatever error the thread holds.
        const DWORD code = ::GetLastError();
        throw std::runtime_error(ToAnsi(L"Server returned status code: HTTP " + std::to_wstring(opened.status) +
                                        L" - " + GetSystemErrorText(code)));
    }
    HINTERNET request = opened.request.Get();

    const std::optional<std::uint64_t> length = ContentLength(request);
    ProgressReporter progress(window, length);
    if (!file.IsOpen()) throw ErrorWithCode(L"Failed to open file for writing:", file.OpenError());

    for (;;) {
        ThrowIfCancelled();
        DWORD read = 0;
        // Read straight into the file's next block, as the WinHTTP transfer does.
        // Without a length nothing else would tell a broken body from a whole one.
        if (!::InternetReadFile(request, file.Space(kReadSize), kReadSize, &read)) {
            throw ErrorWithLastError(L"Failed to read data:");
        }
        if (read == 0) break;
        file.Commit(read);
        progress.Add(read);
    }

    file.FinishWriting();
    if (length) {
        const std::optional<std::uint64_t> size = file.Size();
        if (!size) throw ErrorWithLastError(L"Failed to open downloaded file:");
        if (*size != *length) throw std::runtime_error(IncompleteDownloadText(*length, *size));
    }
    DownloadedFile downloaded = file.MoveIntoPlace();
    progress.Finish();
    return downloaded;
}
