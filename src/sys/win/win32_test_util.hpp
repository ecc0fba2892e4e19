// Helpers of the tests that run on the real Windows (the win32 build under Wine): wide text for
// command lines, and another process run to its end.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "sys/win/win32util.hpp"

namespace zelvane::sys::win {

inline std::wstring wide(std::string_view text) {
  const std::u16string units = utf8_to_utf16(text);
  return std::wstring(units.begin(), units.end());
}

// Runs a command line to its end; its exit code, or none when it could not start.
inline std::optional<DWORD> run_process(std::wstring command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return std::nullopt;
  }
  WaitForSingleObject(process.hProcess, 60'000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace zelvane::sys::win
