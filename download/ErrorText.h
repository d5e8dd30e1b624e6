// Failure texts of the transfers: "what: code - system text", carried as the
// narrow text of a std::runtime_error and widened again for the result pair.
#pragma once

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "framework/Strings.h"

// The system's text for an error code, line break included as the system
// returns it; empty when the system has none (WinHTTP and WinINet codes).
CStringW GetSystemErrorText(DWORD code);

// what + " " + code + " - " + system text, e.g. "Failed to connect: 12029 - ".
std::runtime_error ErrorWithCode(const CStringW& what, DWORD code);
// The same with the calling thread's last error code.
std::runtime_error ErrorWithLastError(const wchar_t* what);

// "Download was incomplete: content length: <length>, downloaded: <size>".
std::string IncompleteDownloadText(std::uint64_t length, std::uint64_t size);

// Through the thread's ANSI code page, as the exception texts travel.
std::string ToAnsi(const CStringW& text);
CStringW FromAnsi(const std::string& text);
