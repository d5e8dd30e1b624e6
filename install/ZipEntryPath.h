// Where an archive entry may be written. Entry names come from whoever built
// the archive; a name that climbs out of the extraction folder ("../x",
// "C:\x", "\\server\x") or names a device ("COM1") is refused rather than
// repaired, so nothing is ever written outside the folder.
#pragma once

#include <optional>
#include <string>

#include "framework/Strings.h"

// The entry name as text: UTF-8 when the archive says so (general purpose
// flag bit 11), else code page 437 as the ZIP format prescribes.
CStringW ZipEntryNameText(const std::string& rawName, bool isUtf8);

// The entry's path relative to the extraction folder, with '\\' separators
// and without empty parts; nullopt when the name is refused: empty, rooted,
// with a drive or stream (':'), with a part made only of dots and blanks
// ("..", "..."), ending in a dot or blank, holding characters Windows
// forbids in names, or naming a device.
std::optional<CStringW> SafeZipEntryPath(const CStringW& entryName);

// True when path, once the system has resolved it, lies below folder.
bool IsInsideFolder(const CStringW& folder, const CStringW& path);
