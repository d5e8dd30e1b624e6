// Owning wrapper for an archive opened with minizip's unzOpen2_64.
#pragma once

#include <unzip.h>

#include "framework/Handles.h"

namespace install {

struct UnzipFileTraits {
    using Handle = unzFile;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::unzClose(h); }
};

using UniqueUnzipFile = framework::UniqueHandle<UnzipFileTraits>;

}  // namespace install
