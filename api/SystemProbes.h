// Small facts about this copy of the wizard and the system it runs on.
#pragma once

#include <string>

// "major.minor.build" of the running Windows, or "" when it cannot be read.
std::string GetOsVersionText();

// The download token carried in the program's file name: the 7 characters
// (one at least a hyphen) after the last underscore, before the extension,
// as in setup_ab1-c2d.exe; "" when there is none.
std::wstring GetDownloadToken();
// The same rule applied to a given program path.
std::wstring DownloadTokenFromPath(const std::wstring& programPath);
