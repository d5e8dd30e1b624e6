#include "download/DestinationPath.h"

#include <shlwapi.h>

#include "download/FileNames.h"
#include "framework/MessageBox.h"
#include "shell/ConfigurationManager.h"

CStringW BuildDestinationPath(const CStringW& fileName, bool useWorkFolder) {
    auto settings = ConfigurationManager::GetInstance();
    const CStringW folder = useWorkFolder ? settings->workDirectory : settings->downloadFolder;
    if (folder.empty() || !::PathIsDirectoryW(folder.c_str())) {
        // A developer-facing problem: the settings chose a folder that is not there.
        framework::AfxMessageBox(L"Invalid path", MB_OK);
        return CStringW();
    }
    // Joined by hand: PathAppendW canonicalises, and Wine's canonicalisation
    // takes a name such as "..%2fx" for a step up out of the folder.
    const bool separated = folder.back() == L'\\' || folder.back() == L'/';
    const CStringW path = folder + (separated ? L"" : L"\\") + SafeFileName(fileName);
    if (path.size() >= MAX_PATH) return CStringW();
    return path;
}

CStringW BuildDestinationPathFromUrl(const CStringW& url, bool useWorkFolder) {
    return BuildDestinationPath(FileNameFromUrl(url), useWorkFolder);
}
