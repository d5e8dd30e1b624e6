// ZIP extraction with minizip, for when the Shell cannot open an archive
// (it never can under Wine, which has no ZIP folder). Entries whose names
// would land outside the target folder are refused: they are never written.
#pragma once

#include "framework/Strings.h"

// Extracts every acceptable entry of archive below folder (which must exist),
// recreating the entries' subfolders. True when the archive could be read to
// its end, every accepted entry was written whole and matched its CRC, and at
// least one file was written. A file that fails halfway is removed again.
bool ExtractZipWithMinizip(const CStringW& archive, const CStringW& folder);

// True when archive can be read and names at least one entry that
// extraction would refuse (see SafeZipEntryPath).
bool ZipHoldsRefusedEntries(const CStringW& archive);
