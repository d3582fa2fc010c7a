#pragma once

#include <windows.h>

namespace zelvora {

// How long SettleGraphClock waits for the clock's answer.
constexpr DWORD kClockAnswerWaitMs = 2000;

// Called on a stopped graph just before the graph is let go: makes sure that the graph's
// reference clock has its notification thread running.
//
// The system clock of the graph starts that thread with the first advise and, when it is
// released, tells the thread to end and waits for it. Under Wine a thread that has not yet
// reached its wait when it is told misses the word and sleeps for good, and the release (so the
// host's call that lets the graph go) waits with it. A one-shot advise due at once, answered,
// proves that the thread is in its loop, where it hears the word. Everywhere else it costs one
// short wait: a clock answers an advise in the past at once.
//
// `graph` may be null or have no clock; nothing happens then. A clock that does not answer within
// `waitMs` has its advise withdrawn.
void SettleGraphClock(IUnknown* graph, DWORD waitMs = kClockAnswerWaitMs);

}  // namespace zelvora
