// The small Windows utilities the system services share: decoding the UTF-16 text the system
// hands back, the HRESULT form of a last error, Windows failures as Error::Io, owned kernel
// handles and unnamed events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/error.hpp"
#include "sys/win/platform.hpp"

namespace zelvane::sys::win {

// The units before the first NUL; all of them when there is none.
std::u16string_view wide_until_nul(std::u16string_view units);

// UTF-16 to UTF-8, each unpaired surrogate replaced by U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);

// UTF-8 to UTF-16, for names and paths handed to the system; each byte that does not belong to
// a valid UTF-8 sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// A string the system returned: none for a null pointer, else its text before the first NUL,
// decoded.
std::optional<std::string> wide_to_string(const std::optional<std::u16string>& text);

// Registry string data: little-endian UTF-16 units (a trailing odd byte ignored), cut at the
// first NUL unit, decoded. Never expanded.
std::string string_from_registry_data(std::span<const std::byte> data);

// 0x80070000 | (code & 0xFFFF) for a code that is positive as a signed 32-bit number; the code
// itself otherwise, so that 0 stays 0 and an HRESULT passes unchanged.
std::int32_t hresult_from_win32(std::uint32_t code);

// Error::Io with a copy of the context; its source is the operating-system error of that code.
model::Error io_error_from_win32(std::string_view context, std::uint32_t code);
model::Error io_error_from_hresult(std::string_view context, std::int32_t hresult);

// Owns one kernel handle; releasing it closes the handle and ignores a failure.
class HandleGuard {
 public:
  HandleGuard() = default;
  HandleGuard(Platform& platform, Handle handle) : platform_(&platform), handle_(handle) {}
  HandleGuard(HandleGuard&& other) noexcept;
  HandleGuard& operator=(HandleGuard&& other) noexcept;
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard() { release(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  void release() noexcept;

 private:
  Platform* platform_ = nullptr;
  Handle handle_;
};

// A new unnamed event, created clear. A failure is Error::Io with the context and, as source,
// the HRESULT of the last error.
model::Result<HandleGuard> create_event(Platform& platform, bool manual_reset, std::string_view context);

}  // namespace zelvane::sys::win
