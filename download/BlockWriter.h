// Writes a download's bytes to its file, and digests them, on a thread of its
// own, so the transfer keeps reading while the disk and the digest catch up.
// Bytes go in blocks of a megabyte, in order; at most two blocks wait at once,
// so memory stays bounded whatever the pace of either side.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Sha256;

class BlockWriter {
public:
    static constexpr std::size_t kBlockBytes = 1024 * 1024;

    // file: an open handle, written from its current position; digest: fed
    // every byte written, or null. Neither is owned; both outlive the writer.
    BlockWriter(HANDLE file, Sha256* digest);
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;
    // Stops after the block being written; what still waits is dropped.
    ~BlockWriter();

    // Room for `size` bytes at the end of the block being filled (a full
    // block goes to the thread first). Null, with the system's error as the
    // thread's last error, once a write has failed.
    char* Space(std::size_t size);
    // `size` bytes (at most those asked for) now hold data at that room.
    void Commit(std::size_t size);
    // Hands over the block being filled and waits until everything is
    // written. False, with the system's error as the thread's last error,
    // when any write failed.
    bool Drain();

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t size = 0;
    };
    static constexpr std::size_t kBlocksWaiting = 2;

    static Block NewBlock(std::size_t capacity);
    bool Submit();
    bool FailedLocked() const;
    void Run();
    DWORD WriteBlock(const Block& block);

    HANDLE file_;
    Sha256* digest_;
    Block filling_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> waiting_;
    std::vector<Block> spare_;
    bool writing_ = false;
    bool stopping_ = false;
    DWORD error_ = ERROR_SUCCESS;
    std::thread thread_;
};
