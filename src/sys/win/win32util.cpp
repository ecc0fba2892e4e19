#include "sys/win/win32util.hpp"

#include <bit>
#include <utility>

#include "util/utf8.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

std::u16string_view wide_until_nul(std::u16string_view units) { return units.substr(0, units.find(u'\0')); }

std::string utf16_to_utf8(std::u16string_view units) { return util::utf16_to_utf8_lossy(units); }

std::u16string utf8_to_utf16(std::string_view text) { return util::utf8_to_utf16(text); }

std::optional<std::string> wide_to_string(const std::optional<std::u16string>& text) {
  if (!text) return std::nullopt;
  return utf16_to_utf8(wide_until_nul(*text));
}

std::string string_from_registry_data(std::span<const std::byte> data) {
  std::u16string units;
  units.reserve(data.size() / 2);
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto low = std::to_integer<unsigned>(data[i]);
    const auto high = std::to_integer<unsigned>(data[i + 1]);
    const auto unit = static_cast<char16_t>(low | (high << 8));
    if (unit == u'\0') break;
    units += unit;
  }
  return utf16_to_utf8(units);
}

std::int32_t hresult_from_win32(std::uint32_t code) {
  const auto signed_code = std::bit_cast<std::int32_t>(code);
  if (signed_code <= 0) return signed_code;
  return std::bit_cast<std::int32_t>(0x80070000u | (code & 0xFFFFu));
}

Error io_error_from_win32(std::string_view context, std::uint32_t code) {
  return Error::io(context, OsError::from_code(std::bit_cast<std::int32_t>(code)));
}

Error io_error_from_hresult(std::string_view context, std::int32_t hresult) {
  return Error::io(context, OsError::from_code(hresult));
}

HandleGuard::HandleGuard(HandleGuard&& other) noexcept
    : platform_(other.platform_), handle_(std::exchange(other.handle_, Handle{})) {}

HandleGuard& HandleGuard::operator=(HandleGuard&& other) noexcept {
  if (this != &other) {
    release();
    platform_ = other.platform_;
    handle_ = std::exchange(other.handle_, Handle{});
  }
  return *this;
}

void HandleGuard::release() noexcept {
  const Handle handle = std::exchange(handle_, Handle{});
  if (handle && platform_ != nullptr) platform_->close_handle(handle);
}

Result<HandleGuard> create_event(Platform& platform, bool manual_reset, std::string_view context) {
  const EventResult created = platform.create_event(manual_reset);
  if (!created.handle || created.handle == kInvalidHandleValue) {
    return std::unexpected(io_error_from_hresult(context, hresult_from_win32(created.last_error)));
  }
  return HandleGuard(platform, created.handle);
}

}  // namespace zelvane::sys::win
