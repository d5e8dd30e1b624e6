#include "download/WinHttpDownloader.h"

#include <new>
#include <stdexcept>
#include <string>

#include "api/ProxyAccess.h"
#include "download/ErrorText.h"
#include "download/AnswerHead.h"
#include "download/PartialDownload.h"
#include "download/RedirectTrail.h"
#include "download/WinHttpExchange.h"

namespace {

constexpr wchar_t kMemoryUserAgent[] = L"A WinHTTP Example Program/1.0";

constexpr DWORD kRangeNotSatisfiable = 416;

DWORD QueryFor(HeadField field) {
    switch (field) {
    case HeadField::ContentLength: return WINHTTP_QUERY_CONTENT_LENGTH;
    case HeadField::ETag: return WINHTTP_QUERY_ETAG;
    case HeadField::LastModified: return WINHTTP_QUERY_LAST_MODIFIED;
    case HeadField::Date: return WINHTTP_QUERY_DATE;
    case HeadField::ContentRange: return WINHTTP_QUERY_CONTENT_RANGE;
    case HeadField::AcceptRanges: return WINHTTP_QUERY_ACCEPT_RANGES;
    }
    return WINHTTP_QUERY_CONTENT_LENGTH;
}

WinHttpProfile FileProfile() {
    return WinHttpProfile{nullptr, ProxyAccessTypeForThisSystem(), 0};
}

WinHttpProfile MemoryProfile() {
    return WinHttpProfile{kMemoryUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_FLAG_REFRESH};
}

// Sized by what the round brings, so a server that trickles costs little memory.
std::vector<char> RoundBuffer(DWORD available) {
    try {
        return std::vector<char>(static_cast<size_t>(available));
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Out of memory.");
    }
}

}  // namespace

void WinHttpDownloader::ThrowIfCancelled() const {
    if (cancelled_) throw std::runtime_error("Download cancelled.");
}

std::unique_ptr<WinHttpExchange> WinHttpDownloader::Fetch(RedirectTrail& trail, const WinHttpProfile& profile,
                                                          const CStringW& headers, bool rangeAsked) {
    for (;;) {
        auto exchange = std::make_unique<WinHttpExchange>(trail.Next(), profile, headers);
        const DWORD status = exchange->Status();
        if (RedirectTrail::IsRedirect(status)) {
            trail.Follow(exchange->Location());
            continue;
        }
        if (rangeAsked && status == kRangeNotSatisfiable) return exchange;
        if (status < 200 || status > 299) {
            throw std::runtime_error("Download failed: " +
                                     ToAnsi(L"Server returned status code: " + std::to_wstring(status)));
        }
        return exchange;
    }
}

DownloadedFile WinHttpDownloader::DownloadToFile(const CStringW& url, const CStringW& destination, HWND window,
                                                 const std::string& expectedSha256) {
    // Created first, so its name is claimed before any byte arrives.
    PartialDownload partial(destination, expectedSha256, window);
    Attempt(url, partial);
    return partial.Complete();
}

std::unique_ptr<WinHttpExchange> WinHttpDownloader::Open(const CStringW& url, PartialDownload& partial) {
    for (;;) {
        RedirectTrail trail(url);
        std::unique_ptr<WinHttpExchange> exchange =
            Fetch(trail, FileProfile(), partial.RangeHeaders(), partial.CanResume());
        const AnswerHead head = ReadAnswerHead(
            exchange->Status(), [&exchange](HeadField field) { return exchange->TextHeader(QueryFor(field)); });
        // A failure to create the file is reported after the response head:
        // when the server fails too, the server's failure is the one worth reading.
        if (!partial.IsOpen()) throw ErrorWithCode(L"Failed to open file for writing:", partial.OpenError());
        if (partial.Begin(head) == PartialDownload::Start::Body) return exchange;
    }
}

void WinHttpDownloader::Attempt(const CStringW& url, PartialDownload& partial) {
    std::unique_ptr<WinHttpExchange> exchange = Open(url, partial);
    for (;;) {
        ThrowIfCancelled();
        const DWORD available = exchange->QueryAvailable();
        if (available == 0) break;
        // Read straight into the file's next block: one copy fewer per round.
        const DWORD read = exchange->Read(partial.Space(available), available);
        partial.Commit(read);
    }
    partial.EndBody();
}

void WinHttpDownloader::ReadIntoMemory(WinHttpExchange& exchange, std::vector<char>& bytes) {
    for (;;) {
        ThrowIfCancelled();
        const DWORD available = exchange.QueryAvailable();
        if (available == 0) return;
        if (bytes.size() + available > kMaxMemoryBytes) {
            throw std::runtime_error("Answer larger than " + std::to_string(kMaxMemoryBytes) + " bytes.");
        }
        std::vector<char> buffer = RoundBuffer(available);
        const DWORD read = exchange.Read(buffer.data(), available);
        bytes.insert(bytes.end(), buffer.data(), buffer.data() + read);
    }
}

std::unique_ptr<std::vector<char>> WinHttpDownloader::DownloadToMemory(const CStringW& url) {
    auto bytes = std::make_unique<std::vector<char>>();
    RedirectTrail trail(url);
    for (int attempt = 0; attempt < kMemoryAttempts; ++attempt) {
        try {
            std::unique_ptr<WinHttpExchange> exchange = Fetch(trail, MemoryProfile());
            ReadIntoMemory(*exchange, *bytes);
            return bytes;
        } catch (const std::exception&) {
            // The reason is not kept: a picture that cannot be fetched is simply missing.
            bytes->clear();
        }
    }
    return bytes;
}
