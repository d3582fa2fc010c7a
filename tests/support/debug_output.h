#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Collects what the process writes with OutputDebugStringW/A while the object lives. The text
// is taken from the debug-print exception that the system raises (no debugger attached), with a
// vectored exception handler. One capture at a time.
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::vector<std::string> Lines() const;
  int Count(const std::string& line) const;
  void Clear();
};

}  // namespace testsupport
