#include "tests/common/FileLinks.h"

#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>

#include "framework/Handles.h"

namespace ostrel::testing {

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr DWORD kUnixToolTimeoutMs = 10000;

// The mount-point layout of REPARSE_DATA_BUFFER, which the SDK headers keep to drivers.
struct MountPointReparseHeader {
    DWORD reparseTag;
    WORD reparseDataLength;
    WORD reserved;
    WORD substituteNameOffset;
    WORD substituteNameLength;
    WORD printNameOffset;
    WORD printNameLength;
};

bool IsWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The Unix path of a Windows path (Wine only).
std::optional<std::string> UnixPath(const std::wstring& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return std::nullopt;
    char* unix = convert(path.c_str());
    if (!unix) return std::nullopt;
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// Starts one of the machine's own Unix tools, which Wine runs as it is. Its
// process handle cannot be waited for, so callers watch for its effect.
bool StartUnixTool(const std::wstring& tool, const std::vector<std::string>& arguments) {
    std::wstring commandLine = L"\"Z:\\bin\\" + tool + L"\"";
    for (const std::string& argument : arguments)
        commandLine += L" \"" + std::wstring(argument.begin(), argument.end()) + L"\"";
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
        return false;
    }
    ::CloseHandle(created.hThread);
    ::CloseHandle(created.hProcess);
    return true;
}

bool IsListed(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    return static_cast<bool>(framework::UniqueFindHandle(::FindFirstFileW(path.c_str(), &entry)));
}

// Waits until path is listed (or no longer is).
bool WaitUntilListed(const std::wstring& path, bool listed) {
    const ULONGLONG end = ::GetTickCount64() + kUnixToolTimeoutMs;
    while (IsListed(path) != listed) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(20);
    }
    return true;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
    framework::UniqueKernelHandle handle(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                       nullptr));
    const std::wstring substitute = kNtPrefix + target;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    // Substitute name and an empty print name, each with its terminating zero.
    std::vector<char> buffer(sizeof(MountPointReparseHeader) + substituteBytes + 2 * sizeof(wchar_t), 0);
    MountPointReparseHeader header{};
    header.reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    header.reparseDataLength = static_cast<WORD>(buffer.size() - 8);
    header.substituteNameLength = substituteBytes;
    header.printNameOffset = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    std::memcpy(buffer.data(), &header, sizeof(header));
    std::memcpy(buffer.data() + sizeof(header), substitute.data(), substituteBytes);
    DWORD returned = 0;
    const bool made = handle && ::DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    handle.Reset();
    if (!made) ::RemoveDirectoryW(link.c_str());
    return made;
}

std::vector<wchar_t> PendingValue() {
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                       &bytes) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr,
                       value.data(), &bytes) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(bytes / sizeof(wchar_t));
    return value;
}

// The value's strings: pairs of (source, destination), an empty destination for a removal.
std::vector<std::wstring> PendingStrings() {
    std::vector<std::wstring> strings;
    const std::vector<wchar_t> value = PendingValue();
    for (size_t start = 0; start < value.size();) {
        const std::wstring text(value.data() + start);
        start += text.size() + 1;
        strings.push_back(text);
    }
    // The list ends with an empty string of its own.
    if (strings.size() % 2 == 1 && strings.back().empty()) strings.pop_back();
    return strings;
}

std::wstring WithoutNtPrefix(const std::wstring& path) {
    return path.rfind(kNtPrefix, 0) == 0 ? path.substr(std::wcslen(kNtPrefix)) : path;
}

bool StartsWith(const std::wstring& text, const std::wstring& start) {
    return text.size() >= start.size() &&
           ::CompareStringOrdinal(text.c_str(), static_cast<int>(start.size()), start.c_str(),
                                  static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool MakeLink(const std::wstring& link, const std::wstring& target, bool directory) {
    if (IsWine()) {
        const auto unixLink = UnixPath(link);
        const auto unixTarget = UnixPath(target);
        if (!unixLink || !unixTarget || !StartUnixTool(L"ln", {"-s", *unixTarget, *unixLink}) ||
            !WaitUntilListed(link, true)) {
            return false;
        }
    } else if (directory) {
        if (!MakeJunction(link, target)) return false;
    } else if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), 0)) {
        return false;
    }
    return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveLink(const std::wstring& link) {
    if (IsWine()) {
        // Wine's own removal would reach through the link.
        const auto unixLink = UnixPath(link);
        return unixLink && StartUnixTool(L"rm", {"-f", *unixLink}) && WaitUntilListed(link, false);
    }
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    // On Windows these remove a link itself.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryW(link.c_str());
    } else {
        ::DeleteFileW(link.c_str());
    }
    return !IsListed(link);
}

std::vector<std::wstring> PendingRemovals(size_t first) {
    std::vector<std::wstring> removals;
    const std::vector<std::wstring> strings = PendingStrings();
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i + 1].empty()) removals.push_back(WithoutNtPrefix(strings[i]));
    }
    removals.erase(removals.begin(), removals.begin() + static_cast<std::ptrdiff_t>(std::min(first, removals.size())));
    return removals;
}

int PendingRemovalIndex(const std::vector<std::wstring>& pending, const std::wstring& path) {
    for (size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].size() == path.size() && StartsWith(pending[i], path)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ostrel::testing
