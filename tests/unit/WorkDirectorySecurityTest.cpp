// The working directory belongs to administrators alone. Wine keeps no
// DACLs (it makes one up from the Unix mode bits), so what is judged is the
// descriptor itself and that the directory is created with it, as the
// system receives it.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "core/AdministratorsOnlySecurity.h"
#include "core/ConfigurationManager.h"
#include "core/WorkDirectory.h"
#include "tests/support/ImportHook.h"

namespace {

using ostrel::testing::ImportProbe;

// One access-allowed entry: whom, what and how it is inherited.
struct Grant {
    WELL_KNOWN_SID_TYPE who;
    ACCESS_MASK access;
    BYTE inheritance;
    bool operator==(const Grant&) const = default;
};

// What a descriptor says, in the terms that matter here.
struct Summary {
    bool valid = false;
    bool protectedDacl = false;
    bool ownerIsAdministrators = false;
    std::vector<Grant> grants;
    bool otherEntries = false;
};

WELL_KNOWN_SID_TYPE KindOfSid(PSID sid) {
    for (const WELL_KNOWN_SID_TYPE kind : {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinWorldSid,
                                           WinAuthenticatedUserSid, WinBuiltinUsersSid, WinCreatorOwnerSid}) {
        if (::IsWellKnownSid(sid, kind)) return kind;
    }
    return WinNullSid;
}

Summary Summarise(PSECURITY_DESCRIPTOR descriptor) {
    Summary summary;
    if (!descriptor || !::IsValidSecurityDescriptor(descriptor)) return summary;
    summary.valid = true;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    summary.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    summary.ownerIsAdministrators = ::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) && owner &&
                                    ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) {
        summary.otherEntries = true;  // no DACL at all lets everyone in
        return summary;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!::GetAce(dacl, index, &entry)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            summary.otherEntries = true;
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        summary.grants.push_back(
            {KindOfSid(&allowed->SidStart), allowed->Mask, static_cast<BYTE>(header->AceFlags & VALID_INHERIT_FLAGS)});
    }
    std::sort(summary.grants.begin(), summary.grants.end(),
              [](const Grant& a, const Grant& b) { return a.who < b.who; });
    return summary;
}

void ExpectAdministratorsOnly(const Summary& summary) {
    ASSERT_TRUE(summary.valid);
    EXPECT_TRUE(summary.protectedDacl) << "the user's temporary folder would pass its own entries on";
    EXPECT_TRUE(summary.ownerIsAdministrators);
    EXPECT_FALSE(summary.otherEntries);
    constexpr BYTE kEverythingInside = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    // In the order Summarise sorts them (by the kind of account).
    const std::vector<Grant> expected = {{WinLocalSystemSid, FILE_ALL_ACCESS, kEverythingInside},
                                         {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kEverythingInside}};
    EXPECT_TRUE(summary.grants == expected) << summary.grants.size() << " entries";
}

TEST(WorkDirectorySecurity, OnlySystemAndAdministratorsAndEverythingInsideInherits) {
    AdministratorsOnlySecurity security;
    ASSERT_NE(security.Attributes(), nullptr);
    EXPECT_EQ(security.Attributes()->bInheritHandle, FALSE);
    ExpectAdministratorsOnly(Summarise(security.Descriptor()));
}

// Records, for every working directory created, the descriptor it was given.
struct DirectoryCreations {
    static inline decltype(&::CreateDirectoryW) original = nullptr;
    static inline std::vector<std::wstring> given;  // the descriptor in SDDL, "" when none

    static BOOL WINAPI Call(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
        std::wstring text;
        if (security && security->lpSecurityDescriptor) {
            LPWSTR sddl = nullptr;
            if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                    security->lpSecurityDescriptor, SDDL_REVISION_1,
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
                text = sddl;
                ::LocalFree(sddl);
            }
        }
        given.push_back(text);
        return original(path, security);
    }
};

TEST(WorkDirectorySecurity, TheWorkingDirectoryIsCreatedWithIt) {
    DirectoryCreations::given.clear();
    std::wstring directory;
    {
        const ImportProbe<DirectoryCreations> hook("kernel32.dll", "CreateDirectoryW");
        directory = CreateWorkingDirectory();
    }
    ASSERT_FALSE(directory.empty());
    ASSERT_EQ(DirectoryCreations::given.size(), 1u);
    ASSERT_FALSE(DirectoryCreations::given[0].empty()) << "created with the temporary folder's inherited security";
    PSECURITY_DESCRIPTOR received = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(DirectoryCreations::given[0].c_str(),
                                                                       SDDL_REVISION_1, &received, nullptr));
    const framework::UniqueLocalMemory owner(received);
    ExpectAdministratorsOnly(Summarise(received));
    DeleteDirectoryTree(directory);
}

// Restart removals are handed to the system only for the tree being removed.
TEST(WorkDirectorySecurity, OnlyPathsWithinTheFolderCount) {
    const struct {
        const wchar_t* path;
        bool within;
    } cases[] = {
        {L"C:\\T\\ISV1.tmp", true},
        {L"c:\\t\\isv1.TMP", true},
        {L"C:\\T\\ISV1.tmp\\pack\\setup.exe", true},
        {L"C:\\T\\ISV1.tmpx", false},
        {L"C:\\T\\ISV1.tmpx\\setup.exe", false},
        {L"C:\\T", false},
        {L"C:\\T\\ISV1.tmp\\..\\other", false},
        {L"C:\\T\\ISV1.tmp\\.\\setup.exe", false},
        {L"C:\\T\\ISV1.tmp\\pack/../../x", false},
        {L"C:\\T\\ISV1.tmp\\\\setup.exe", false},
        {L"C:\\T\\ISV1.tmp\\setup.exe:stream", false},
        {L"D:\\T\\ISV1.tmp\\setup.exe", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsWithinFolder(c.path, L"C:\\T\\ISV1.tmp\\"), c.within)
            << std::string(c.path, c.path + wcslen(c.path));
    }
    EXPECT_FALSE(IsWithinFolder(L"C:\\T\\x", L""));
}

}  // namespace
