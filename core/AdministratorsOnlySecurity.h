// The security of the wizard's working directory. The wizard runs elevated
// and starts what lies there, so nothing of the user's own programs may add,
// replace or remove anything in it: owner Administrators, and a protected
// DACL (nothing inherited from the user's temporary folder) that grants full
// control to SYSTEM and Administrators alone, inherited by every file and
// folder made inside it.
#pragma once

#include <windows.h>

#include "framework/Handles.h"

// The descriptor in the system's own notation.
inline constexpr wchar_t kAdministratorsOnlySddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

class AdministratorsOnlySecurity {
public:
    // Builds the descriptor; Attributes() is null when the system could not.
    AdministratorsOnlySecurity();
    AdministratorsOnlySecurity(const AdministratorsOnlySecurity&) = delete;
    AdministratorsOnlySecurity& operator=(const AdministratorsOnlySecurity&) = delete;

    // For CreateDirectoryW and CreateFileW; not inheritable as a handle.
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_.Get(); }

private:
    framework::UniqueLocalMemory descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};
