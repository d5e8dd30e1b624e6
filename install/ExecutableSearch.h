// Finds the installer among the files an archive brought.
#pragma once

#include "framework/Strings.h"

// The name (without folder) of the first file matching "*.exe" directly in
// folder, in the order the file system lists them; folders are skipped and
// subfolders are not searched. Empty when there is none.
CStringW FindFirstExecutable(const CStringW& folder);
