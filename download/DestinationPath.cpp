#include "download/DestinationPath.h"

#include <shlwapi.h>

#include "download/FileNames.h"
#include "core/ConfigurationManager.h"

CStringW BuildDestinationPath(const CStringW& fileName, bool useWorkFolder) {
    auto settings = ConfigurationManager::GetInstance();
    const CStringW folder = useWorkFolder ? settings->workDirectory : settings->downloadFolder;
    // No message box: this runs on download threads, where a box would keep
    // the process alive, hidden, after the window has gone (the working
    // directory is removed on close). The transfer fails instead.
    if (folder.empty() || !::PathIsDirectoryW(folder.c_str())) return CStringW();
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
