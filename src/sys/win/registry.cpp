#include "sys/win/registry.hpp"

#include <algorithm>
#include <utility>

#include "sys/win/win32util.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

// A value that keeps growing between the size question and the read is given up after this
// many reads.
constexpr int kMaxReads = 3;

}  // namespace

std::string_view root_text(KeyHandle root) {
  if (root == kHkeyLocalMachine) return "HKLM";
  if (root == kHkeyCurrentUser) return "HKCU";
  return "HKEY";
}

Result<std::optional<RegKey>> RegKey::open(Platform& platform, KeyHandle root, std::string_view path,
                                           std::uint32_t access, std::string_view context) {
  KeyHandle hkey;
  const std::uint32_t status = platform.reg_open_key(root, utf8_to_utf16(path), access, hkey);
  if (status == kErrorSuccess) return RegKey(platform, root_text(root), std::string(path), hkey);
  if (status == kErrorFileNotFound) return std::nullopt;
  return std::unexpected(io_error_from_win32(context, status));
}

RegKey::RegKey(RegKey&& other) noexcept
    : platform_(other.platform_),
      root_(other.root_),
      path_(std::move(other.path_)),
      hkey_(std::exchange(other.hkey_, KeyHandle{})) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    release();
    platform_ = other.platform_;
    root_ = other.root_;
    path_ = std::move(other.path_);
    hkey_ = std::exchange(other.hkey_, KeyHandle{});
  }
  return *this;
}

void RegKey::release() noexcept {
  const KeyHandle hkey = std::exchange(hkey_, KeyHandle{});
  if (hkey) platform_->reg_close_key(hkey);
}

Result<std::optional<RegValue>> RegKey::query_value(std::string_view name) const {
  const auto failure = [&](std::uint32_t status) {
    std::string context = "reading registry value ";
    context += name;
    context += " under ";
    context += root_;
    context += '\\';
    context += path_;
    return std::unexpected(io_error_from_win32(context, status));
  };
  const std::u16string wide_name = utf8_to_utf16(name);
  for (int reads = 1;; ++reads) {
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    std::uint32_t status = platform_->reg_query_value(hkey_, wide_name, type, nullptr, size);
    if (status == kErrorFileNotFound) return std::nullopt;
    if (status != kErrorSuccess) return failure(status);

    std::vector<std::byte> data(size);
    // A zero-sized read still passes a buffer: a null one would be the size question again,
    // and a value that grew meanwhile would be taken as read without its data.
    std::byte none{};
    std::uint32_t got = size;
    status = platform_->reg_query_value(hkey_, wide_name, type, size > 0 ? data.data() : &none, got);
    if (status == kErrorSuccess) {
      data.resize(std::min(got, size));
      return RegValue{type, std::move(data)};
    }
    if (status == kErrorFileNotFound) return std::nullopt;
    if (status != kErrorMoreData || reads == kMaxReads) return failure(status);
  }
}

Result<std::optional<std::uint32_t>> RegKey::read_dword(std::string_view name) const {
  auto value = query_value(name);
  if (!value) return std::unexpected(std::move(value.error()));
  if (!*value || (*value)->value_type != kRegDword || (*value)->data.size() < 4) return std::nullopt;
  const auto& d = (*value)->data;
  return std::to_integer<std::uint32_t>(d[0]) | (std::to_integer<std::uint32_t>(d[1]) << 8) |
         (std::to_integer<std::uint32_t>(d[2]) << 16) | (std::to_integer<std::uint32_t>(d[3]) << 24);
}

Result<std::optional<std::string>> RegKey::read_string(std::string_view name) const {
  auto value = query_value(name);
  if (!value) return std::unexpected(std::move(value.error()));
  if (!*value) return std::nullopt;
  const std::uint32_t type = (*value)->value_type;
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  return string_from_registry_data((*value)->data);
}

}  // namespace zelvane::sys::win
