#pragma once

#include <windows.h>

namespace zelvora {

// Lock count of the server: live component objects plus LockServer locks.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// The module that holds the component (the DLL, or the executable that links the core library).
HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

}  // namespace zelvora
