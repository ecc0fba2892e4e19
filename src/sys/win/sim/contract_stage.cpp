// The platform contract's stage in the sim build: a fresh simulated Windows per harness.
#include <thread>

#include "sys/win/contract_harness.hpp"
#include "sys/win/sim/sim.hpp"

namespace zelvane::sys::win {

namespace {

class SimHarness final : public ContractHarness {
 public:
  Platform& platform() override { return windows_; }
  void set_value(std::string_view path, std::string_view name, std::uint32_t type,
                 std::vector<std::uint8_t> data) override {
    control().set_value(sim::Root::CurrentUser, path, name, type, std::move(data));
  }
  void delete_key(std::string_view path) override { control().delete_key(sim::Root::CurrentUser, path); }
  void set_dword_elsewhere(std::string_view path, std::string_view name, std::uint32_t value) override {
    std::thread writer([&] { control().set_dword(sim::Root::CurrentUser, path, name, value); });
    writer.join();
  }
  void set_ie_config(const IeProxyConfig& config) override { control().set_ie_config(config); }
  void set_ie_config_elsewhere(const IeProxyConfig& config) override {
    std::thread writer([&] { control().set_ie_config(config); });
    writer.join();
  }
  void set_default_proxy(const ProxyInfo& info) override { control().set_default_proxy(info); }

 private:
  sim::Control control() { return windows_.control(); }
  sim::Windows windows_;
};

}  // namespace

std::unique_ptr<ContractHarness> make_contract_harness() { return std::make_unique<SimHarness>(); }

}  // namespace zelvane::sys::win
