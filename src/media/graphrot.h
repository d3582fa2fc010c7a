#pragma once

#include <windows.h>

namespace zelvora {

// Publishes a filter graph in the running object table, where graph inspection tools look, under
// "FilterGraph <address> pid <process>". `cookie` receives the registration.
HRESULT AddGraphToRot(IUnknown* graph, DWORD* cookie);
// Revokes the registration in `cookie` (0: nothing) and clears it; when the table cannot be
// reached the cookie stays, so a later call tries again.
void RemoveGraphFromRot(DWORD* cookie);

}  // namespace zelvora
