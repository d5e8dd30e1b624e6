// Turns a downloaded package into the program to start. A ZIP package is
// extracted into a new folder of its own inside the working folder, and the
// first ".exe" found there is the installer: the working folder also holds
// every other downloaded package, whose installers must never be mistaken
// for this one's.
#pragma once

#include "framework/Strings.h"
#include "install/ArchiveType.h"

// The program to start for the package at path: for a ZIP, the first ".exe"
// directly inside the archive's own extraction folder below folder; path
// itself for every other type (a 7z package is started as it is), and when
// the ZIP cannot be extracted or holds no ".exe" at its top level.
CStringW PrepareInstaller(const CStringW& path, ArchiveType type, const CStringW& folder);

// Creates a new, empty folder for the archive's contents inside folder, named
// after the archive ("offer.zip" -> "offer", then "offer (2)", ...) and
// returns its path; empty when none could be created.
CStringW CreateExtractionFolder(const CStringW& folder, const CStringW& archive);

// Extracts archive into folder: through the Shell where it can open ZIP files,
// otherwise with minizip. An archive holding entries that would land outside
// folder always goes to minizip, which refuses those entries; the Shell
// cannot be told to.
bool ExtractZip(const CStringW& archive, const CStringW& folder);
