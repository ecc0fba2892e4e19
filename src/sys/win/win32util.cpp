#include "sys/win/win32util.hpp"

#include <bit>
#include <utility>

namespace zelvane::sys::win {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One UTF-8 sequence at text[i], strictly (no overlong forms, no surrogates, at most
// U+10FFFF); none when the bytes there start no valid sequence.
std::optional<std::pair<char32_t, std::size_t>> decode_utf8_at(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return std::pair{char32_t{b0}, std::size_t{1}};
  std::size_t length = 0;
  char32_t c = 0;
  char32_t lowest = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, c = b0 & 0x1F, lowest = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, c = b0 & 0x0F, lowest = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, c = b0 & 0x07, lowest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - i < length) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return std::pair{c, length};
}

}  // namespace

std::u16string_view wide_until_nul(std::u16string_view units) { return units.substr(0, units.find(u'\0')); }

std::string utf16_to_utf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t u = units[i];
    if (is_high_surrogate(u) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, u);
    }
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const auto decoded = decode_utf8_at(text, i)) {
      append_utf16(out, decoded->first);
      i += decoded->second;
    } else {
      append_utf16(out, kReplacement);
      ++i;
    }
  }
  return out;
}

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
