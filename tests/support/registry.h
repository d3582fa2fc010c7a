#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

bool KeyExists(HKEY root, const std::wstring& path);
// Value `name` (null: default value) of root\path as a string; empty when missing.
std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name);
bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name);
std::wstring GuidString(REFGUID guid);
// Full path of a file beside the running program.
std::wstring BesideProgram(const wchar_t* fileName);

}  // namespace testsupport
