#include "media/graphclock.h"

#include <strmif.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace zelvora {

namespace {

// An event handle that closes itself.
class EventHandle {
 public:
  EventHandle() : m_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~EventHandle() {
    if (m_handle) CloseHandle(m_handle);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  HANDLE get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

}  // namespace

void SettleGraphClock(IUnknown* graph, DWORD waitMs) {
  if (!graph) return;
  ComPtr<IMediaFilter> filter;
  if (FAILED(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(filter.GetAddressOf())))) return;
  ComPtr<IReferenceClock> clock;
  if (FAILED(filter->GetSyncSource(&clock)) || !clock) return;

  REFERENCE_TIME now = 0;
  if (FAILED(clock->GetTime(&now))) return;
  EventHandle answered;
  if (!answered.get()) return;
  DWORD_PTR cookie = 0;
  if (FAILED(clock->AdviseTime(now, 0, reinterpret_cast<HEVENT>(answered.get()), &cookie))) return;
  if (WaitForSingleObject(answered.get(), waitMs) != WAIT_OBJECT_0) {
    // No answer: the advise is withdrawn, so the clock never signals the closed event.
    clock->Unadvise(cookie);
  }
}

}  // namespace zelvora
