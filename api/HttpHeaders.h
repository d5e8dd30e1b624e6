#pragma once

#include <string>
#include <utility>
#include <vector>

// Extra request headers, in the order they are added: (name, value).
using HttpHeaders = std::vector<std::pair<std::wstring, std::wstring>>;
