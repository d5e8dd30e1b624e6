#include "download/BlockWriter.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "api/Sha256.h"

BlockWriter::BlockWriter(HANDLE file, Sha256* digest) : file_(file), digest_(digest), filling_(NewBlock(kBlockBytes)) {
    thread_ = std::thread(&BlockWriter::Run, this);
}

BlockWriter::~BlockWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

BlockWriter::Block BlockWriter::NewBlock(std::size_t capacity) {
    // Not zeroed: every byte is written by a read before it is used.
    try {
        return Block{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0};
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Out of memory.");
    }
}

char* BlockWriter::Space(std::size_t size) {
    if (filling_.size + size > filling_.capacity && filling_.size > 0 && !Submit()) return nullptr;
    if (filling_.capacity < size) filling_ = NewBlock(size);
    return filling_.bytes.get() + filling_.size;
}

void BlockWriter::Commit(std::size_t size) {
    filling_.size = std::min(filling_.size + size, filling_.capacity);
}

bool BlockWriter::Drain() {
    if (filling_.size > 0 && !Submit()) return false;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (waiting_.empty() && !writing_) || FailedLocked(); });
    if (!FailedLocked()) return true;
    ::SetLastError(error_);
    return false;
}

bool BlockWriter::FailedLocked() const {
    return error_ != ERROR_SUCCESS;
}

bool BlockWriter::Submit() {
    Block next;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_.size() < kBlocksWaiting || FailedLocked(); });
        if (FailedLocked()) {
            ::SetLastError(error_);
            return false;
        }
        waiting_.push_back(std::move(filling_));
        if (!spare_.empty()) {
            next = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    changed_.notify_all();
    filling_ = next.bytes ? std::move(next) : NewBlock(kBlockBytes);
    filling_.size = 0;
    return true;
}

void BlockWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        Block block = std::move(waiting_.front());
        waiting_.pop_front();
        writing_ = true;
        lock.unlock();
        const DWORD error = WriteBlock(block);
        lock.lock();
        writing_ = false;
        // After a failure nothing more is written; the transfer learns of it
        // at its next full block or when it drains.
        if (error != ERROR_SUCCESS) {
            error_ = error;
            waiting_.clear();
        }
        if (block.capacity == kBlockBytes) spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

DWORD BlockWriter::WriteBlock(const Block& block) {
    DWORD written = 0;
    if (!::WriteFile(file_, block.bytes.get(), static_cast<DWORD>(block.size), &written, nullptr)) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
    }
    if (written != block.size) return ERROR_DISK_FULL;
    if (digest_) digest_->Add(block.bytes.get(), block.size);
    return ERROR_SUCCESS;
}
