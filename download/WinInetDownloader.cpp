#include "download/WinInetDownloader.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "download/ContentLength.h"
#include "download/ErrorText.h"
#include "download/ProgressReporter.h"
#include "download/TemporaryDownloadFile.h"
#include "download/WinInetHandle.h"

namespace {

std::optional<DWORD> StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        return std::nullopt;
    }
    return status;
}

// Read as text, so lengths of 4 GiB and more survive.
std::optional<std::uint64_t> ContentLength(HINTERNET request) {
    DWORD bytes = 0;
    ::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, nullptr, &bytes, nullptr);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &bytes, nullptr)) return std::nullopt;
    return ParseContentLength(std::wstring_view(buffer.data(), bytes / sizeof(wchar_t)));
}

}  // namespace

CStringW WinInetDownloader::DownloadToFile(const CStringW& url, const CStringW& destination, HWND window) {
    TemporaryDownloadFile file(destination);

    UniqueWinInetHandle internet(::InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) throw ErrorWithLastError(L"Failed to initialize WinINet::");
    UniqueWinInetHandle request(::InternetOpenUrlW(internet.Get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (!request) throw ErrorWithLastError(L"Failed to open URL::");

    const std::optional<DWORD> status = StatusCode(request.Get());
    if (!status) throw ErrorWithLastError(L"Failed to query HTTP status code:");
    if (*status != 200) {
        // The text after the status is that of whatever error the thread holds.
        const DWORD code = ::GetLastError();
        throw std::runtime_error(ToAnsi(L"Server returned status code: HTTP " + std::to_wstring(*status) + L" - " +
                                        GetSystemErrorText(code)));
    }

    const std::optional<std::uint64_t> length = ContentLength(request.Get());
    ProgressReporter progress(window, length);
    if (!file.IsOpen()) throw ErrorWithCode(L"Failed to open file for writing:", file.OpenError());

    std::array<char, kReadSize> buffer{};
    for (;;) {
        DWORD read = 0;
        // A failed read ends the body like its end does; the length check below
        // catches what is missing.
        if (!::InternetReadFile(request.Get(), buffer.data(), kReadSize, &read) || read == 0) break;
        if (!file.Write(buffer.data(), read)) throw ErrorWithLastError(L"Failed to write file:");
        progress.Add(read);
    }

    if (length) {
        const std::optional<std::uint64_t> size = file.Size();
        if (!size) throw ErrorWithLastError(L"Failed to open downloaded file:");
        if (*size != *length) throw std::runtime_error(IncompleteDownloadText(*length, *size));
    }
    const CStringW finalPath = file.MoveIntoPlace();
    progress.Finish();
    return finalPath;
}
