// What only the real platform can show: another process writing the registry, the thread name
// as the system keeps it, the bits of the predefined roots.
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

}  // namespace zelvane::sys::win
