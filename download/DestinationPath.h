// Where a download goes: a safe file name inside one of the two folders of the
// settings (the working directory or the user's download folder).
#pragma once

#include "framework/Strings.h"

// The folder (workDirectory when useWorkFolder, else downloadFolder) joined
// with SafeFileName(fileName). "" when the folder is not an existing
// directory, or when the joined path does not fit MAX_PATH.
CStringW BuildDestinationPath(const CStringW& fileName, bool useWorkFolder);

// The same with the name taken from the URL (FileNameFromUrl).
CStringW BuildDestinationPathFromUrl(const CStringW& url, bool useWorkFolder);
