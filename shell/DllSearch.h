// Where the wizard's DLLs may come from. It runs elevated from the folder it
// was downloaded to, where anyone can leave a DLL named like a system one.
#pragma once

// From now on only the system folder serves DLLs loaded by name: the
// delay-loaded imports and whatever system code loads for the wizard. Also
// moves the current folder behind the system folders in searches for
// programs. False when this Windows cannot restrict the DLL search (Windows 7
// without its 2011 loader update); the current folder is then left out of it.
bool RestrictDllSearchToSystemFolder();
