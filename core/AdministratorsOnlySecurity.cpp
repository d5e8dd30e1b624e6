#include "core/AdministratorsOnlySecurity.h"

#include <sddl.h>

AdministratorsOnlySecurity::AdministratorsOnlySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnlySddl, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return;
    }
    descriptor_.Reset(descriptor);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor;
    attributes_.bInheritHandle = FALSE;
}
