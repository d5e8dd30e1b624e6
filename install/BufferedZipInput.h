// File functions for minizip's reader that read the archive through a buffer.
// minizip reads its headers one byte per call; straight onto the system each
// of those is a file read, and walking the directory of a package with
// thousands of entries (which the limits do before anything is unpacked)
// would take seconds.
#pragma once

#include <ioapi.h>

namespace install {

// The wide-character Win32 file functions of iowin32 behind a read buffer;
// for reading only.
void FillBufferedWin32FileFunctions(zlib_filefunc64_def* functions);

}  // namespace install
