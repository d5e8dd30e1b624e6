// JSON text from a server, parsed into a tree of bounded depth. The library
// parses any nesting without recursion, but copying, comparing or printing a
// tree recurses once per level: an answer nested a million levels deep would
// end the process on its first copy. It is refused at the parse instead.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// Far more than any answer of ours needs: an offer's lists sit five levels down.
inline constexpr int kMaxJsonNesting = 64;

// Parses text as nlohmann::json::parse does; arrays and objects nested deeper
// than maxNesting levels throw the library's parse error.
nlohmann::json ParseBoundedJson(const std::string& text, int maxNesting = kMaxJsonNesting);
