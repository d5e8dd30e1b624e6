// ZIP extraction through the Shell's ZIP folder, as Explorer does it. Where the
// Shell has no ZIP folder (Wine) it reports failure and the caller uses minizip.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Copies every item of the archive into folder (which must exist) silently,
// without questions or error boxes. True when the Shell accepted the copy;
// false when COM, the Shell object, either folder or the archive's items
// cannot be had, or the archive holds no item.
bool ExtractZipWithShell(BSTR archive, BSTR folder);
