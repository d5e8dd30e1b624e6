#include "install/BufferedZipInput.h"

#include <windows.h>

// iowin32.h relies on the declarations of ioapi.h.
#include <iowin32.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace install {

namespace {

constexpr size_t kBufferSize = 64 * 1024;

// One open archive: the file underneath, the reader's position, and the
// bytes of the file from bufferStart on that the buffer holds.
struct BufferedStream {
    zlib_filefunc64_def file{};
    voidpf handle = nullptr;
    ZPOS64_T position = 0;
    ZPOS64_T bufferStart = 0;
    std::vector<char> buffer;
};

BufferedStream& Stream(voidpf stream) {
    return *static_cast<BufferedStream*>(stream);
}

// Reads straight from the file at the reader's position.
uLong ReadFromFile(BufferedStream& stream, void* target, uLong size) {
    if (stream.file.zseek64_file(stream.file.opaque, stream.handle, stream.position, ZLIB_FILEFUNC_SEEK_SET) != 0) {
        return 0;
    }
    return stream.file.zread_file(stream.file.opaque, stream.handle, target, size);
}

void Refill(BufferedStream& stream) {
    stream.buffer.resize(kBufferSize);
    const uLong read = ReadFromFile(stream, stream.buffer.data(), static_cast<uLong>(kBufferSize));
    stream.buffer.resize(read);
    stream.bufferStart = stream.position;
}

voidpf ZCALLBACK Open(voidpf, const void* fileName, int mode) {
    // Only reading goes through the buffer: nothing would write it back.
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    auto stream = std::make_unique<BufferedStream>();
    fill_win32_filefunc64W(&stream->file);
    stream->handle = stream->file.zopen64_file(stream->file.opaque, fileName, mode);
    if (!stream->handle) return nullptr;
    // minizip hands the stream back to Close, which takes ownership again.
    return stream.release();
}

// Whether the buffer holds the size bytes from the reader's position on. An
// archive can send the position anywhere up to 2^64 - 1, so no sum of a
// position and a size is ever formed: it could wrap round to the buffer.
bool BufferHolds(const BufferedStream& stream, uLong size) {
    if (stream.position < stream.bufferStart) return false;
    const ZPOS64_T offset = stream.position - stream.bufferStart;
    return offset <= stream.buffer.size() && size <= stream.buffer.size() - offset;
}

// Moves the position on by count bytes just read; a file that gave bytes at
// the position ends above it, so this cannot pass 2^64 - 1.
void Advance(BufferedStream& stream, uLong count) {
    stream.position += std::min<ZPOS64_T>(count, std::numeric_limits<ZPOS64_T>::max() - stream.position);
}

uLong ZCALLBACK Read(voidpf, voidpf handle, void* target, uLong size) {
    BufferedStream& stream = Stream(handle);
    // Large reads (the entries' data) go past the buffer.
    if (size >= kBufferSize) {
        const uLong read = ReadFromFile(stream, target, size);
        Advance(stream, read);
        return read;
    }
    // A refill starts the buffer at the position, which then lies in it.
    if (!BufferHolds(stream, size)) Refill(stream);
    const ZPOS64_T offset = stream.position - stream.bufferStart;
    const auto count = static_cast<uLong>(std::min<ZPOS64_T>(size, stream.buffer.size() - offset));
    std::memcpy(target, stream.buffer.data() + offset, count);
    Advance(stream, count);
    return count;
}

uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf handle) {
    return Stream(handle).position;
}

long ZCALLBACK Seek(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    BufferedStream& stream = Stream(handle);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: stream.position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        // minizip only ever moves forward; a move past 2^64 - 1 would wrap round.
        if (offset > std::numeric_limits<ZPOS64_T>::max() - stream.position) return -1;
        stream.position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        // The file's own seek knows where it ends.
        if (stream.file.zseek64_file(stream.file.opaque, stream.handle, offset, ZLIB_FILEFUNC_SEEK_END) != 0) return -1;
        stream.position = stream.file.ztell64_file(stream.file.opaque, stream.handle);
        return 0;
    default: return -1;
    }
}

int ZCALLBACK Close(voidpf, voidpf handle) {
    const std::unique_ptr<BufferedStream> stream(static_cast<BufferedStream*>(handle));
    return stream->file.zclose_file(stream->file.opaque, stream->handle);
}

int ZCALLBACK TestError(voidpf, voidpf handle) {
    BufferedStream& stream = Stream(handle);
    return stream.file.zerror_file(stream.file.opaque, stream.handle);
}

}  // namespace

void FillBufferedWin32FileFunctions(zlib_filefunc64_def* functions) {
    functions->zopen64_file = Open;
    functions->zread_file = Read;
    functions->zwrite_file = Write;
    functions->ztell64_file = Tell;
    functions->zseek64_file = Seek;
    functions->zclose_file = Close;
    functions->zerror_file = TestError;
    functions->opaque = nullptr;
}

}  // namespace install
