// An owned registry key with the value reading the system services rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "sys/win/platform.hpp"

namespace zelvane::sys::win {

// "HKLM" for HKEY_LOCAL_MACHINE, "HKCU" for HKEY_CURRENT_USER, "HKEY" for any other root.
std::string_view root_text(KeyHandle root);

// One raw value: its registry type and exactly the bytes the successful read reported.
struct RegValue {
  std::uint32_t value_type = kRegNone;
  std::vector<std::byte> data;
};

class RegKey {
 public:
  // RegOpenKeyExW(root, path, access). The key, none when it does not exist, or Error::Io with
  // the caller's context and the status as source.
  static model::Result<std::optional<RegKey>> open(Platform& platform, KeyHandle root, std::string_view path,
                                                   std::uint32_t access, std::string_view context);

  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { release(); }

  // The value, none when there is no such value, or Error::Io "reading registry value {name}
  // under {root}\{path}". A value that grows between the size question and the read is asked
  // again, at most three reads in all.
  model::Result<std::optional<RegValue>> query_value(std::string_view name) const;
  // A REG_DWORD of at least 4 bytes: its first 4 bytes, little-endian. None for anything else.
  model::Result<std::optional<std::uint32_t>> read_dword(std::string_view name) const;
  // A REG_SZ or REG_EXPAND_SZ, decoded as registry string data. None for anything else.
  model::Result<std::optional<std::string>> read_string(std::string_view name) const;

  std::string_view root() const { return root_; }
  const std::string& path() const { return path_; }
  KeyHandle hkey() const { return hkey_; }

  // Closes the key; the result of RegCloseKey is ignored.
  void release() noexcept;

 private:
  RegKey(Platform& platform, std::string_view root, std::string path, KeyHandle hkey)
      : platform_(&platform), root_(root), path_(std::move(path)), hkey_(hkey) {}

  Platform* platform_;
  std::string_view root_;  // one of the static texts of root_text
  std::string path_;
  KeyHandle hkey_;
};

}  // namespace zelvane::sys::win
