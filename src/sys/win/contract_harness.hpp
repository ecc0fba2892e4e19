// Test-only: what the platform contract needs from each build to set the stage. The sim build
// writes through the simulation's control side; the win32 build writes the real registry and
// WinHTTP's settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "sys/win/platform.hpp"

namespace zelvane::sys::win {

// The HKCU key below which the contract writes; the harness removes it when it starts and ends.
inline constexpr std::string_view kContractKey = "Software\\zelvane-contract-test";

class ContractHarness {
 public:
  virtual ~ContractHarness() = default;
  virtual Platform& platform() = 0;
  // Under HKCU, keys on the way created as needed.
  virtual void set_value(std::string_view path, std::string_view name, std::uint32_t type,
                         std::vector<std::uint8_t> data) = 0;
  virtual void delete_key(std::string_view path) = 0;  // under HKCU, with its subtree
  // A REG_DWORD under HKCU written from elsewhere: by another thread in the sim build, by
  // another process (reg.exe) in the win32 build. Returns once the value is written.
  virtual void set_dword_elsewhere(std::string_view path, std::string_view name, std::uint32_t value) = 0;
  // What WinHTTP's current-user call and default-configuration call answer from now on. Only
  // settings the system can hold: strings that are absent or non-empty ASCII, a bypass only
  // beside a proxy; a named default proxy always has a bypass text, which may be empty, and
  // the other access types have neither.
  virtual void set_ie_config(const IeProxyConfig& config) = 0;
  // The same, from elsewhere as set_dword_elsewhere writes: the settings' registry value
  // changes, as a watch of the current user's settings sees it.
  virtual void set_ie_config_elsewhere(const IeProxyConfig& config) = 0;
  virtual void set_default_proxy(const ProxyInfo& info) = 0;
};

std::unique_ptr<ContractHarness> make_contract_harness();

}  // namespace zelvane::sys::win
