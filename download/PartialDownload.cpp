#include "download/PartialDownload.h"

#include <stdexcept>

#include "download/ErrorText.h"

namespace {

constexpr DWORD kPartialContent = 206;
constexpr DWORD kRangeNotSatisfiable = 416;

}  // namespace

PartialDownload::PartialDownload(const CStringW& destination, const std::string& expectedSha256, HWND window)
    : file_(destination, expectedSha256), window_(window) {
}

bool PartialDownload::CanResume() const {
    return received_ > 0 && validator_ && rangesServed_ && file_.IsOpen();
}

CStringW PartialDownload::RangeHeaders() const {
    if (!CanResume()) return CStringW();
    return L"Range: bytes=" + std::to_wstring(received_) + L"-\r\nIf-Range: " + *validator_ + L"\r\n";
}

PartialDownload::Start PartialDownload::Begin(const AnswerHead& head) {
    if (CanResume()) {
        if (head.status == kPartialContent && Continues(head)) return Start::Body;
        if (head.status == kPartialContent || head.status == kRangeNotSatisfiable) {
            // The server no longer has the bytes these belong to, or serves
            // others: only the whole file can be trusted now.
            if (file_.IsOpen()) file_.StartOver();
            received_ = 0;
            validator_.reset();
            return Start::AskAgain;
        }
    }
    StartFromZero(head);
    return Start::Body;
}

bool PartialDownload::Continues(const AnswerHead& head) {
    if (!head.contentRange) return false;
    const std::optional<ContentRange> range = ParseContentRange(*head.contentRange);
    if (!range || range->first != received_) return false;
    if (length_) return range->total == length_;
    // The first answer named no length; the range does.
    length_ = range->total;
    return true;
}

void PartialDownload::StartFromZero(const AnswerHead& head) {
    if (received_ > 0 && file_.IsOpen()) file_.StartOver();
    received_ = 0;
    validator_ = ResumeValidatorOf(head);
    rangesServed_ = AcceptsByteRanges(head);
    length_ = head.contentLength;
    if (progress_) {
        progress_->StartOver(length_);
    } else {
        progress_.emplace(window_, length_);
    }
}

void PartialDownload::Commit(DWORD size) {
    file_.Commit(size);
    received_ += size;
    if (progress_) progress_->Add(size);
}

void PartialDownload::EndBody() {
    file_.Drain();
    if (length_ && received_ != *length_) throw std::runtime_error(IncompleteDownloadText(*length_, received_));
}

void PartialDownload::Settle() {
    file_.Drain();
}

DownloadedFile PartialDownload::Complete() {
    DownloadedFile downloaded = file_.MoveIntoPlace();
    if (progress_) progress_->Finish();
    return downloaded;
}
