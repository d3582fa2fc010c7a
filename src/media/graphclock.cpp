#include "media/graphclock.h"

#include <strmif.h>
#include <wrl/client.h>

#include "media/scoped.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {

void SettleGraphClock(IUnknown* graph, DWORD waitMs) {
  if (!graph) return;
  ComPtr<IMediaFilter> filter;
  if (FAILED(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(filter.GetAddressOf())))) return;
  ComPtr<IReferenceClock> clock;
  if (FAILED(filter->GetSyncSource(&clock)) || !clock) return;

  REFERENCE_TIME now = 0;
  if (FAILED(clock->GetTime(&now))) return;
  ScopedHandle answered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!answered.Get()) return;
  DWORD_PTR cookie = 0;
  if (FAILED(clock->AdviseTime(now, 0, reinterpret_cast<HEVENT>(answered.Get()), &cookie))) return;
  if (WaitForSingleObject(answered.Get(), waitMs) != WAIT_OBJECT_0) {
    // No answer: the advise is withdrawn, so the clock never signals the closed event.
    clock->Unadvise(cookie);
  }
}

}  // namespace zelvora
