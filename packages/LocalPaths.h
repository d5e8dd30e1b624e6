// Paths the eligibility rules look at come from the server ("fe" entries) or
// from registry values any program of the user can write (App Paths). The
// wizard runs elevated: a lookup of a share would hand the user's network
// credentials to whichever host the path names, and a device path reaches
// past the file system's usual reading. Such paths count as absent.
#pragma once

#include <string>

// True for UNC paths ("\\host\share", "//host/share" and any mix of the two
// separators), device paths ("\\?\", "\\.\", "\\?\UNC\") and NT object paths
// ("\??\"), judged after leading blanks and quotation marks.
bool IsNetworkOrDevicePath(const std::wstring& path);

// Whether a file or folder exists at path; a network or device path is
// never opened and counts as absent.
bool LocalPathExists(const std::wstring& path);
