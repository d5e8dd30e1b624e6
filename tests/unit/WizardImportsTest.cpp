// What the wizard programs import the usual way. Windows looks for such a DLL
// beside the program before the system folder unless it is a KnownDLL, and
// loads it before the program's first instruction; the wizards are started
// from Downloads. Only the two DLLs the C runtime starts with are imported so;
// every other system DLL is delay-loaded once the DLL search is restricted.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

namespace {

using ostrel::testing::ProgramFolder;
using ostrel::testing::ReadFileBytes;

// A PE file read whole, with its headers found; nothing is loaded or run.
class PortableExecutable {
public:
    explicit PortableExecutable(const std::string& bytes) : bytes_(bytes.begin(), bytes.end()) {
        const auto dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        const auto signature = At<DWORD>(dos->e_lfanew);
        if (!signature || *signature != IMAGE_NT_SIGNATURE) return;
        file_ = At<IMAGE_FILE_HEADER>(dos->e_lfanew + sizeof(DWORD));
        if (!file_) return;
        optional_ = dos->e_lfanew + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
        sections_ = optional_ + file_->SizeOfOptionalHeader;
    }

    bool Valid() const { return file_.has_value(); }

    // The DLL names of the import directory, in lower case.
    std::optional<std::set<std::string>> ImportedDlls() const {
        const auto magic = At<WORD>(optional_);
        if (!magic) return std::nullopt;
        std::optional<IMAGE_DATA_DIRECTORY> directory;
        if (*magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            if (const auto header = At<IMAGE_OPTIONAL_HEADER64>(optional_)) {
                directory = header->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
            }
        } else if (*magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            if (const auto header = At<IMAGE_OPTIONAL_HEADER32>(optional_)) {
                directory = header->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
            }
        }
        if (!directory) return std::nullopt;
        std::set<std::string> names;
        if (directory->VirtualAddress == 0) return names;
        const std::optional<size_t> first = FileOffset(directory->VirtualAddress);
        if (!first) return std::nullopt;
        for (size_t offset = *first;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (!descriptor) return std::nullopt;
            if (descriptor->Name == 0) break;
            const std::optional<std::string> name = StringAt(descriptor->Name);
            if (!name) return std::nullopt;
            names.insert(*name);
        }
        return names;
    }

private:
    // A copy of the structure at offset: the file gives no alignment.
    template <typename T>
    std::optional<T> At(size_t offset) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return std::nullopt;
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

    std::optional<size_t> FileOffset(DWORD rva) const {
        for (WORD i = 0; file_ && i < file_->NumberOfSections; ++i) {
            const auto section = At<IMAGE_SECTION_HEADER>(sections_ + i * sizeof(IMAGE_SECTION_HEADER));
            if (!section) return std::nullopt;
            const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (rva >= section->VirtualAddress && rva - section->VirtualAddress < size) {
                return static_cast<size_t>(section->PointerToRawData) + (rva - section->VirtualAddress);
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> StringAt(DWORD rva) const {
        const std::optional<size_t> offset = FileOffset(rva);
        if (!offset || *offset >= bytes_.size()) return std::nullopt;
        const auto start = bytes_.begin() + static_cast<std::ptrdiff_t>(*offset);
        const auto end = std::find(start, bytes_.end(), '\0');
        if (end == bytes_.end()) return std::nullopt;
        std::string text(start, end);
        std::transform(text.begin(), text.end(), text.begin(),
                       [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
        return text;
    }

    std::vector<char> bytes_;
    std::optional<IMAGE_FILE_HEADER> file_;
    size_t optional_ = 0;
    size_t sections_ = 0;
};

TEST(WizardImports, OnlyTheCRuntimesOwnDllsAreLoadedBeforeTheProgramRuns) {
    for (const wchar_t* wizard : {L"OstrelDLM.exe", L"OstrelISV.exe"}) {
        const std::optional<std::string> bytes = ReadFileBytes(ProgramFolder() + L"\\" + wizard);
        ASSERT_TRUE(bytes.has_value()) << wizard;
        const PortableExecutable image(*bytes);
        ASSERT_TRUE(image.Valid()) << wizard;
        const std::optional<std::set<std::string>> imported = image.ImportedDlls();
        ASSERT_TRUE(imported.has_value()) << wizard;
        EXPECT_EQ(*imported, (std::set<std::string>{"kernel32.dll", "msvcrt.dll"})) << wizard;
    }
}

}  // namespace
