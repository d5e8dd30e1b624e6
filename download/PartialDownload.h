// A file download that may take several requests. It keeps the temporary file
// with what has arrived, the validator and length of the representation those
// bytes belong to, and the progress shown for them. After a cut the next
// request asks only for the rest (Range: bytes=N- with If-Range), and an
// answer that continues exactly those bytes is appended; any other answer
// starts the same temporary file over from zero. The digest carries on across
// requests, so nothing already on disk is read back. Used by one transfer
// thread at a time; failures throw std::runtime_error with the transfer's text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "download/AnswerHead.h"
#include "download/ProgressReporter.h"
#include "download/TemporaryDownloadFile.h"
#include "framework/Strings.h"

class PartialDownload {
public:
    // Creates the temporary file beside destination (see TemporaryDownloadFile).
    PartialDownload(const CStringW& destination, const std::string& expectedSha256, HWND window);
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    bool IsOpen() const { return file_.IsOpen(); }
    DWORD OpenError() const { return file_.OpenError(); }

    // True when the next request can ask for the rest: bytes are kept, and the
    // answer they came with named a strong validator and byte ranges.
    bool CanResume() const;
    // Header lines for the next request ("" when it asks for the whole file).
    CStringW RangeHeaders() const;

    enum class Start { Body, AskAgain };
    // Judges the answer to a request sent with RangeHeaders(), whose status
    // the transport has accepted. Body: its bytes follow what is kept (a 206
    // that continues at the kept length, of the same total) or replace it
    // (any other success, with a fresh validator). AskAgain: a 416, or a 206
    // of anything else, whose body is of no use; the file is emptied and the
    // validator forgotten, and the transport asks again for the whole file.
    Start Begin(const AnswerHead& head);

    // Room for the next read, and how much of it the read filled.
    char* Space(DWORD size) { return file_.Space(size); }
    void Commit(DWORD size);

    // The body ended: everything is written, and a body shorter than its
    // length fails ("Download was incomplete: ..."), keeping what came.
    void EndBody();
    // After a failed request: waits until what came is written, so that the
    // next request starts after it. Throws when writing failed.
    void Settle();
    // Bytes kept for the representation now being fetched.
    std::uint64_t Received() const { return received_; }

    // Checks and moves the file into place (TemporaryDownloadFile::MoveIntoPlace)
    // and shows the end of the bar.
    DownloadedFile Complete();

private:
    bool Continues(const AnswerHead& head);
    void StartFromZero(const AnswerHead& head);

    TemporaryDownloadFile file_;
    HWND window_;
    std::optional<ProgressReporter> progress_;
    std::optional<CStringW> validator_;
    bool rangesServed_ = false;
    std::optional<std::uint64_t> length_;  // of the whole representation
    std::uint64_t received_ = 0;
};
