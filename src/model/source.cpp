#include "model/source.hpp"

#include "model/name_table.hpp"
#include "value/debug.hpp"

namespace zelvane::model {
namespace {

constexpr std::array<std::string_view, 12> kSourceKindNames = {"Registry",
                                                               "GroupPolicy",
                                                               "WinHttpDefault",
                                                               "SystemConfigurationSetup",
                                                               "SystemConfigurationState",
                                                               "GSettings",
                                                               "Kioslaverc",
                                                               "KioslavercEnv",
                                                               "Portal",
                                                               "Env",
                                                               "ConnectivityManager",
                                                               "CfNetworkSystemSettings"};

}  // namespace

std::string_view name(SourceKind k) { return name_in(kSourceKindNames, k); }

void debug_fmt(std::string& out, SourceKind k) { out += name(k); }

void debug_fmt(std::string& out, const SourceEntry& entry) {
  value::TupleBuilder(out).element(entry.kind).element(entry.mode).finish();
}

}  // namespace zelvane::model
