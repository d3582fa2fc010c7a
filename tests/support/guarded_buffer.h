#pragma once

// A byte buffer that ends exactly where an inaccessible page begins, so a read or write one byte
// past its end faults at once (in native builds and under Wine alike).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size) : size_(size) {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
#else
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
    const size_t body = (size + page_ - 1) / page_ * page_;
    total_ = body + page_;
#if defined(_WIN32)
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    if (base_) VirtualProtect(base_ + body, page_, PAGE_NOACCESS, &old);
#else
    void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    if (base_) mprotect(base_ + body, page_, PROT_NONE);
#endif
    data_ = base_ ? base_ + body - size : nullptr;
  }
  ~GuardedBuffer() {
#if defined(_WIN32)
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
    if (base_) munmap(base_, total_);
#endif
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  size_t size_ = 0, page_ = 4096, total_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
};
