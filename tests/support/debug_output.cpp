#include "support/debug_output.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

namespace testsupport {
namespace {

constexpr DWORD kPrintAnsi = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr DWORD kPrintWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C

std::mutex g_mutex;
std::vector<std::string> g_lines;
PVOID g_handler = nullptr;

void Add(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.push_back(std::move(line));
}

LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == kPrintWide && record->NumberParameters >= 2) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
    std::string line;
    for (; text && *text; ++text) line.push_back(*text < 128 ? static_cast<char>(*text) : '?');
    Add(line);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (record->ExceptionCode == kPrintAnsi && record->NumberParameters >= 2) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    Add(text ? text : "");
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
  Clear();
  g_handler = AddVectoredExceptionHandler(1, Handler);
}

DebugOutputCapture::~DebugOutputCapture() {
  RemoveVectoredExceptionHandler(g_handler);
  g_handler = nullptr;
}

std::vector<std::string> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lines;
}

int DebugOutputCapture::Count(const std::string& line) const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), line));
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.clear();
}

}  // namespace testsupport
