#include "install/ArchiveType.h"

#include <windows.h>

#include <algorithm>
#include <array>

#include "framework/Handles.h"

namespace {

constexpr std::array<unsigned char, 4> kZipSignature{0x50, 0x4B, 0x03, 0x04};
constexpr std::array<unsigned char, 6> kSevenZipSignature{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

template <size_t N, size_t M>
bool StartsWith(const std::array<unsigned char, N>& bytes, const std::array<unsigned char, M>& signature) {
    static_assert(M <= N);
    return std::equal(signature.begin(), signature.end(), bytes.begin());
}

}  // namespace

ArchiveType GetArchiveType(const CStringW& path) {
    // Another program (a virus scanner, the downloader's own handle) may
    // still hold the file; reading the signature must not depend on that.
    framework::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ArchiveType::None;

    // Zero-filled, so a file shorter than a signature can never match it.
    std::array<unsigned char, kSevenZipSignature.size()> bytes{};
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read == 0) {
        return ArchiveType::None;
    }
    if (StartsWith(bytes, kZipSignature)) return ArchiveType::Zip;
    if (StartsWith(bytes, kSevenZipSignature)) return ArchiveType::SevenZip;
    return ArchiveType::None;
}
