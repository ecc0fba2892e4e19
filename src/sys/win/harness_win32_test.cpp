// The platform contract's stage in the win32 build: the real registry, and WinHTTP's answers
// set through the settings it reads (the current user's DefaultConnectionSettings and the
// machine's WinHttpSettings), each put back as it was when the harness ends. Plus what only
// the real platform can show: another process writing the registry, the thread name as the
// system keeps it, the bits of the predefined roots.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <vector>

#include "sys/win/contract_harness.hpp"
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

std::wstring wide(std::string_view text) {
  const std::u16string units = utf8_to_utf16(text);
  return std::wstring(units.begin(), units.end());
}

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

  void set_ie_config(const IeProxyConfig& c) override {
    std::vector<std::uint8_t> blob;
    put_dword(blob, kIeSettingsMagic);
    put_dword(blob, 0);
    put_dword(blob, kFlagDirect | (c.proxy ? kFlagProxy : 0) | (c.auto_config_url ? kFlagAutoConfigUrl : 0) |
                        (c.auto_detect ? kFlagAutoDetect : 0));
    put_string(blob, c.proxy);
    put_string(blob, c.proxy_bypass);
    put_string(blob, c.auto_config_url);
    blob.resize(blob.size() + 32);  // the WPAD fields that follow, all zero
    write_raw(HKEY_CURRENT_USER, kConnections, kIeSettingsValue, REG_BINARY, blob);
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

// Runs a command line to its end; its exit code, or none when it could not start.
std::optional<DWORD> run_process(std::wstring command_line) {
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

class Win32Only : public ::testing::Test {
 protected:
  void SetUp() override { harness_->delete_key(kContractKey); }
  void TearDown() override { harness_->delete_key(kContractKey); }
  std::unique_ptr<ContractHarness> harness_ = make_contract_harness();
};

TEST_F(Win32Only, ValuesWrittenByAnotherProcessAreRead) {
  const std::string path = std::string(kContractKey) + "\\Other";
  const std::wstring key = L"HKCU\\" + wide(path);
  ASSERT_EQ(run_process(L"reg.exe add \"" + key + L"\" /v FromReg /t REG_SZ /d hello /f"), DWORD{0});
  ASSERT_EQ(run_process(L"reg.exe add \"" + key + L"\" /v Enable /t REG_DWORD /d 1 /f"), DWORD{0});

  Platform& p = default_platform();
  KeyHandle hkey;
  ASSERT_EQ(p.reg_open_key(kHkeyCurrentUser, utf8_to_utf16(path), kKeyRead, hkey), kErrorSuccess);
  std::uint32_t type = 0;
  std::vector<std::byte> data(64);
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  ASSERT_EQ(p.reg_query_value(hkey, u"FromReg", type, data.data(), size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  data.resize(size);
  EXPECT_EQ(string_from_registry_data(data), "hello");
  EXPECT_EQ(size, 12u) << "reg.exe stores the terminating NUL";

  std::byte dword[4];
  size = 4;
  ASSERT_EQ(p.reg_query_value(hkey, u"enable", type, dword, size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(std::to_integer<int>(dword[0]), 1);
  EXPECT_EQ(p.reg_close_key(hkey), kErrorSuccess);
}

TEST_F(Win32Only, ThreadsCarryTheirFullName) {
  using GetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get_description = reinterpret_cast<GetThreadDescriptionFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  if (get_description == nullptr) GTEST_SKIP() << "this Windows keeps no thread names";
  std::wstring seen;
  auto thread = default_platform().spawn_thread("zelvane-registry", [&] {
    PWSTR description = nullptr;
    if (SUCCEEDED(get_description(GetCurrentThread(), &description)) && description != nullptr) {
      seen = description;
      LocalFree(description);
    }
  });
  ASSERT_TRUE(thread.has_value()) << thread.error().text;
  thread->join();
  EXPECT_EQ(seen, L"zelvane-registry");
}

TEST(Win32Roots, PredefinedKeysCarryTheBitsWindowsGivesThem) {
  EXPECT_EQ(kHkeyCurrentUser.value, reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER));
  EXPECT_EQ(kHkeyLocalMachine.value, reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(kInvalidHandleValue.value, reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE));
}

}  // namespace

std::unique_ptr<ContractHarness> make_contract_harness() { return std::make_unique<Win32Harness>(); }

}  // namespace zelvane::sys::win
