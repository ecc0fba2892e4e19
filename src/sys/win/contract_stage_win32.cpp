// The platform contract's stage in the win32 build: the real registry, and WinHTTP's answers
// set through the settings it reads (the current user's DefaultConnectionSettings and the
// machine's WinHttpSettings), each put back as it was when the harness ends.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <vector>

#include "sys/win/contract_harness.hpp"
#include "sys/win/win32_test_util.hpp"
#include "sys/win/win32util.hpp"

namespace zelvane::sys::win {

namespace {

constexpr wchar_t kConnections[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr wchar_t kIeSettingsValue[] = L"DefaultConnectionSettings";
constexpr wchar_t kWinHttpSettingsValue[] = L"WinHttpSettings";

// Layout of both blobs: a header of three DWORDs (a magic number, a counter that WinHTTP wants
// to be 0 for its own settings, the flags), then length-prefixed ANSI strings.
constexpr DWORD kIeSettingsMagic = 0x46;
constexpr DWORD kWinHttpSettingsMagic = 0x18;
constexpr DWORD kFlagDirect = 1, kFlagProxy = 2, kFlagAutoConfigUrl = 4, kFlagAutoDetect = 8;

void put_dword(std::vector<std::uint8_t>& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_string(std::vector<std::uint8_t>& out, const std::optional<std::u16string>& text) {
  put_dword(out, text ? static_cast<DWORD>(text->size()) : 0);
  if (!text) return;
  for (char16_t unit : *text) {
    EXPECT_LT(unit, 0x80) << "the settings blob holds ANSI text";
    out.push_back(static_cast<std::uint8_t>(unit));
  }
}

std::optional<std::vector<std::uint8_t>> read_raw(HKEY root, const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  std::optional<std::vector<std::uint8_t>> out;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<std::uint8_t> data(size);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
      data.resize(size);
      out = std::move(data);
    }
  }
  RegCloseKey(key);
  return out;
}

void write_raw(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
               const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  ASSERT_EQ(status, ERROR_SUCCESS) << "creating the key";
  // RegSetValueExW adds a NUL unit to text whose count left it out when one follows in memory;
  // a non-NUL tail keeps the stored bytes exactly those given.
  std::vector<std::uint8_t> padded = data;
  padded.insert(padded.end(), {0xFF, 0xFF});
  status = RegSetValueExW(key, name, 0, type, padded.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  ASSERT_EQ(status, ERROR_SUCCESS) << "writing the value";
}

void delete_raw(HKEY root, const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name);
  RegCloseKey(key);
}

std::vector<std::uint8_t> ie_settings_blob(const IeProxyConfig& c) {
  std::vector<std::uint8_t> blob;
  put_dword(blob, kIeSettingsMagic);
  put_dword(blob, 0);
  put_dword(blob, kFlagDirect | (c.proxy ? kFlagProxy : 0) | (c.auto_config_url ? kFlagAutoConfigUrl : 0) |
                      (c.auto_detect ? kFlagAutoDetect : 0));
  put_string(blob, c.proxy);
  put_string(blob, c.proxy_bypass);
  put_string(blob, c.auto_config_url);
  blob.resize(blob.size() + 32);  // the WPAD fields that follow, all zero
  return blob;
}

class Win32Harness final : public ContractHarness {
 public:
  Win32Harness()
      : saved_ie_(read_raw(HKEY_CURRENT_USER, kConnections, kIeSettingsValue)),
        saved_winhttp_(read_raw(HKEY_LOCAL_MACHINE, kConnections, kWinHttpSettingsValue)) {
    // A fresh system: WinHTTP's first answers, whatever an earlier run left behind.
    delete_raw(HKEY_CURRENT_USER, kConnections, kIeSettingsValue);
    delete_raw(HKEY_LOCAL_MACHINE, kConnections, kWinHttpSettingsValue);
  }
  ~Win32Harness() override {
    restore(HKEY_CURRENT_USER, kIeSettingsValue, saved_ie_);
    restore(HKEY_LOCAL_MACHINE, kWinHttpSettingsValue, saved_winhttp_);
  }

  Platform& platform() override { return default_platform(); }

  void set_value(std::string_view path, std::string_view name, std::uint32_t type,
                 std::vector<std::uint8_t> data) override {
    write_raw(HKEY_CURRENT_USER, wide(path).c_str(), wide(name).c_str(), type, data);
  }

  void delete_key(std::string_view path) override {
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, wide(path).c_str());
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "deleting the key: " << status;
  }

  void set_dword_elsewhere(std::string_view path, std::string_view name, std::uint32_t value) override {
    const std::wstring command = L"reg.exe add \"HKCU\\" + wide(path) + L"\" /v \"" + wide(name) +
                                 L"\" /t REG_DWORD /d " + std::to_wstring(value) + L" /f";
    EXPECT_EQ(run_process(command), DWORD{0}) << "reg.exe add";
  }

  void set_ie_config(const IeProxyConfig& c) override {
    write_raw(HKEY_CURRENT_USER, kConnections, kIeSettingsValue, REG_BINARY, ie_settings_blob(c));
  }

  void set_ie_config_elsewhere(const IeProxyConfig& c) override {
    std::wstring hex;
    for (std::uint8_t b : ie_settings_blob(c)) {
      constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
      hex += kDigits[b >> 4];
      hex += kDigits[b & 0xF];
    }
    const std::wstring command = L"reg.exe add \"HKCU\\" + std::wstring(kConnections) + L"\" /v " +
                                 kIeSettingsValue + L" /t REG_BINARY /d " + hex + L" /f";
    EXPECT_EQ(run_process(command), DWORD{0}) << "reg.exe add";
  }

  void set_default_proxy(const ProxyInfo& info) override {
    const bool named = info.access_type == kWinHttpAccessTypeNamedProxy;
    std::vector<std::uint8_t> blob;
    put_dword(blob, kWinHttpSettingsMagic);
    put_dword(blob, 0);
    put_dword(blob, named ? kFlagProxy : kFlagDirect);
    put_string(blob, info.proxy);
    put_string(blob, info.proxy_bypass);
    write_raw(HKEY_LOCAL_MACHINE, kConnections, kWinHttpSettingsValue, REG_BINARY, blob);
  }

 private:
  static void restore(HKEY root, const wchar_t* name, const std::optional<std::vector<std::uint8_t>>& saved) {
    if (saved) {
      write_raw(root, kConnections, name, REG_BINARY, *saved);
    } else {
      delete_raw(root, kConnections, name);
    }
  }

  std::optional<std::vector<std::uint8_t>> saved_ie_, saved_winhttp_;
};

}  // namespace

std::unique_ptr<ContractHarness> make_contract_harness() { return std::make_unique<Win32Harness>(); }

}  // namespace zelvane::sys::win
