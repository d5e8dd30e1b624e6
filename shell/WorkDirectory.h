// Removing the wizard's working directory when a run ends.
#pragma once

#include "framework/Strings.h"

// Removes a directory and everything below it. What is in use now is
// scheduled for removal at the next restart.
void DeleteDirectoryTree(const CStringW& directory);

// Removes the settings' working directory, whatever it holds.
void DeleteWorkDirectory();
