#include "download/WinHttpDownloader.h"

#include <new>
#include <stdexcept>
#include <string>

#include "api/ProxyAccess.h"
#include "download/ErrorText.h"
#include "download/ProgressReporter.h"
#include "download/TemporaryDownloadFile.h"
#include "download/RedirectTrail.h"
#include "download/WinHttpExchange.h"

namespace {

constexpr wchar_t kMemoryUserAgent[] = L"A WinHTTP Example Program/1.0";

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

std::unique_ptr<WinHttpExchange> WinHttpDownloader::Fetch(RedirectTrail& trail, const WinHttpProfile& profile) {
    for (;;) {
        auto exchange = std::make_unique<WinHttpExchange>(trail.Next(), profile);
        const DWORD status = exchange->Status();
        if (RedirectTrail::IsRedirect(status)) {
            trail.Follow(exchange->Location());
            continue;
        }
        if (status < 200 || status > 299) {
            throw std::runtime_error("Download failed: " +
                                     ToAnsi(L"Server returned status code: " + std::to_wstring(status)));
        }
        return exchange;
    }
}

DownloadedFile WinHttpDownloader::DownloadToFile(const CStringW& url, const CStringW& destination, HWND window,
                                                 const std::string& expectedSha256) {
    // Created first, so its name is claimed before any byte arrives. A failure
    // to create it is reported after the response head: when the server fails
    // too, the server's failure is the one worth reading.
    TemporaryDownloadFile file(destination, expectedSha256);
    RedirectTrail trail(url);
    std::unique_ptr<WinHttpExchange> exchange = Fetch(trail, FileProfile());

    const std::optional<std::uint64_t> length = exchange->ContentLength();
    ProgressReporter progress(window, length);
    if (!file.IsOpen()) throw ErrorWithCode(L"Failed to open file for writing:", file.OpenError());

    for (;;) {
        ThrowIfCancelled();
        const DWORD available = exchange->QueryAvailable();
        if (available == 0) break;
        // Read straight into the file's next block: one copy fewer per round.
        const DWORD read = exchange->Read(file.Space(available), available);
        file.Commit(read);
        progress.Add(read);
    }

    file.FinishWriting();
    if (length) {
        const std::optional<std::uint64_t> size = file.Size();
        if (!size) throw std::runtime_error("Failed to open downloaded file.");
        if (*size != *length) throw std::runtime_error(IncompleteDownloadText(*length, *size));
    }
    DownloadedFile downloaded = file.MoveIntoPlace();
    progress.Finish();
    return downloaded;
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
