#include "shell/module.h"

namespace zelvora {
namespace {
volatile LONG g_lockCount = 0;
HMODULE g_module = nullptr;
}  // namespace

void ModuleLock() { InterlockedIncrement(&g_lockCount); }
void ModuleUnlock() { InterlockedDecrement(&g_lockCount); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

HMODULE ModuleHandle() { return g_module ? g_module : GetModuleHandleW(nullptr); }
void SetModuleHandle(HMODULE module) { g_module = module; }

}  // namespace zelvora
