#pragma once

#include <string>

// The program's own file version from its version resource, as
// "major.minor.build.revision"; empty when the resource is unusable.
std::string GetFileVersionString();
