#pragma once

// Small owners for what the platform hands out, used by every subsystem: each gives back what it
// holds when its scope ends, so no error path frees, closes or releases by hand. COM interface
// references use Microsoft::WRL::ComPtr; media type records use MediaTypeRecord (camutilifun.h).

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <stdlib.h>

#include <memory>

namespace zelvora {

// Holds a critical section entered for a scope.
class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
  ~Locked() { LeaveCriticalSection(&m_section); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& m_section;
};

// Holds a reference to a COM object for the duration of a call that may run host code before it
// returns (the host may release the object meanwhile): the object then goes when the call ends.
class CallReference {
 public:
  explicit CallReference(IUnknown* object) : m_object(object) { m_object->AddRef(); }
  ~CallReference() { m_object->Release(); }
  CallReference(const CallReference&) = delete;
  CallReference& operator=(const CallReference&) = delete;

 private:
  IUnknown* m_object;
};

// A kernel handle (an event, a thread) closed on scope exit. Null holds nothing.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : m_handle(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE Get() const { return m_handle; }
  void Reset(HANDLE handle = nullptr) {
    if (m_handle) CloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HANDLE m_handle;
};

// A registry key closed on scope exit.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (m_key) RegCloseKey(m_key);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* Address() { return &m_key; }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

// A VARIANT cleared on scope exit.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&m_value); }
  ~ScopedVariant() { VariantClear(&m_value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* Get() { return &m_value; }

 private:
  VARIANT m_value;
};

// Memory from the COM task allocator (texts and arrays that platform calls hand out).
struct TaskMemFree {
  void operator()(void* memory) const { CoTaskMemFree(memory); }
};
template <typename T>
using TaskMem = std::unique_ptr<T, TaskMemFree>;

// An out-parameter for a TaskMem: `call(TaskMemOut<WCHAR>(text))` stores what the call handed
// out into `text` when the full expression ends.
template <typename T>
class TaskMemOut {
 public:
  explicit TaskMemOut(TaskMem<T>& owner) : m_owner(owner) {}
  ~TaskMemOut() { m_owner.reset(m_pointer); }
  TaskMemOut(const TaskMemOut&) = delete;
  TaskMemOut& operator=(const TaskMemOut&) = delete;
  operator T**() { return &m_pointer; }

 private:
  TaskMem<T>& m_owner;
  T* m_pointer = nullptr;
};

// Memory from malloc, for buffers whose allocation may fail without an exception.
struct MallocFree {
  void operator()(void* memory) const { free(memory); }
};
template <typename T>
using MallocMem = std::unique_ptr<T, MallocFree>;

}  // namespace zelvora
