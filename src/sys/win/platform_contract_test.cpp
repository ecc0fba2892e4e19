// What the Windows logic relies on of the platform, checked the same way against the simulated
// Windows (sim build) and the real calls under Wine (win32 build).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sys/win/contract_harness.hpp"
#include "sys/win/platform.hpp"
#include "sys/win/win32util.hpp"

namespace zelvane::sys::win {
namespace {

using namespace std::chrono_literals;

std::u16string wide(std::string_view text) { return utf8_to_utf16(text); }

std::vector<std::uint8_t> utf16le(std::u16string_view text) {
  std::vector<std::uint8_t> out;
  for (char16_t unit : text) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

std::vector<std::uint8_t> bytes_of(const std::vector<std::byte>& data) {
  std::vector<std::uint8_t> out;
  for (std::byte b : data) out.push_back(std::to_integer<std::uint8_t>(b));
  return out;
}

class PlatformContract : public ::testing::Test {
 protected:
  void SetUp() override { harness_->delete_key(kContractKey); }
  void TearDown() override {
    for (KeyHandle k : keys_) p().reg_close_key(k);
    for (Handle h : handles_) p().close_handle(h);
    harness_->delete_key(kContractKey);
  }

  Platform& p() { return harness_->platform(); }
  static std::string under(std::string_view path) {
    return std::string(kContractKey) + "\\" + std::string(path);
  }

  void set(std::string_view path, std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    harness_->set_value(under(path), name, type, std::move(data));
  }

  // Opens a key the test expects to exist; closed at the end of the test.
  KeyHandle open(KeyHandle root, std::string_view path, std::uint32_t access = kKeyRead) {
    KeyHandle key;
    EXPECT_EQ(p().reg_open_key(root, wide(path), access, key), kErrorSuccess) << path;
    if (key) keys_.push_back(key);
    return key;
  }
  KeyHandle open(std::string_view path, std::uint32_t access = kKeyRead) {
    return open(kHkeyCurrentUser, under(path), access);
  }
  void close(KeyHandle key) {
    std::erase(keys_, key);
    EXPECT_EQ(p().reg_close_key(key), kErrorSuccess);
  }

  Handle event(bool manual_reset) {
    const EventResult created = p().create_event(manual_reset);
    EXPECT_TRUE(created.handle) << "last error " << created.last_error;
    EXPECT_NE(created.handle, kInvalidHandleValue);
    if (created.handle) handles_.push_back(created.handle);
    return created.handle;
  }

  std::unique_ptr<ContractHarness> harness_ = make_contract_harness();
  std::vector<KeyHandle> keys_;
  std::vector<Handle> handles_;
};

// ---- keys

TEST_F(PlatformContract, OpeningFollowsTheRegistryPathRules) {
  set("Outer\\Inner", "V", kRegDword, {1, 0, 0, 0});
  struct Case {
    std::string path;
    std::uint32_t status;
  };
  const std::string base(kContractKey);
  const std::vector<Case> cases = {
      {base + "\\Outer\\Inner", kErrorSuccess},        {base + "\\OUTER\\inner", kErrorSuccess},
      {base + "\\Outer\\Inner\\", kErrorSuccess},      {base + "\\Outer\\\\Inner", kErrorSuccess},
      {base + "\\Outer\\Missing", kErrorFileNotFound}, {base + "\\Missing\\Inner", kErrorFileNotFound},
      {"\\" + base + "\\Outer", kErrorBadPathname},
  };
  for (const Case& c : cases) {
    KeyHandle key;
    const std::uint32_t status = p().reg_open_key(kHkeyCurrentUser, wide(c.path), kKeyRead, key);
    EXPECT_EQ(status, c.status) << c.path;
    EXPECT_EQ(static_cast<bool>(key), c.status == kErrorSuccess) << c.path;
    if (key) {
      EXPECT_EQ(p().reg_close_key(key), kErrorSuccess);
    }
  }
}

TEST_F(PlatformContract, KeysOpenRelativeToAnOpenKeyAndToTheRootItself) {
  set("Outer\\Inner", "V", kRegDword, {7, 0, 0, 0});
  const KeyHandle outer = open("Outer");
  const KeyHandle inner = open(outer, "inner");
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(inner, u"V", type, nullptr, size), kErrorSuccess);
  EXPECT_EQ(size, 4u);

  const KeyHandle same = open(inner, "");
  EXPECT_NE(same, inner) << "each open gives its own handle";
  EXPECT_EQ(p().reg_query_value(same, u"V", type, nullptr, size), kErrorSuccess);
}

TEST_F(PlatformContract, ClosingReleasesTheHandle) {
  set("K", "V", kRegDword, {1, 0, 0, 0});
  KeyHandle key;
  ASSERT_EQ(p().reg_open_key(kHkeyCurrentUser, wide(under("K")), kKeyRead, key), kErrorSuccess);
  EXPECT_EQ(p().reg_close_key(key), kErrorSuccess);
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(key, u"V", type, nullptr, size), kErrorInvalidHandle);
  EXPECT_EQ(p().reg_close_key(key), kErrorInvalidHandle);
}

TEST_F(PlatformContract, AKeyDeletedWhileOpenAnswersKeyDeleted) {
  set("K", "V", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("K");
  harness_->delete_key(under("K"));
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(key, u"V", type, nullptr, size), kErrorKeyDeleted);
  close(key);
}

TEST_F(PlatformContract, QueryingNeedsTheQueryRight) {
  set("K", "V", kRegDword, {1, 0, 0, 0});
  const KeyHandle notify_only = open("K", kKeyNotify);
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(notify_only, u"V", type, nullptr, size), kErrorAccessDenied);
}

// ---- values

TEST_F(PlatformContract, ValuesComeBackWithTheirTypeAndRawBytes) {
  struct Case {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  const std::vector<Case> cases = {
      {"Dword", kRegDword, {0x04, 0x03, 0x02, 0x01}},
      {"ShortDword", kRegDword, {0x07, 0x00}},
      {"Empty", kRegBinary, {}},
      {"NulInside", kRegSz, utf16le(std::u16string(u"ab\0cd\0", 6))},
      {"NoTerminator", kRegSz, utf16le(u"abc")},
      {"OddLength", kRegSz, {0x61, 0x00, 0x62}},
      {"NotExpanded", kRegExpandSz, utf16le(std::u16string(u"%PATH%\0", 7))},
      {"Multi", kRegMultiSz, utf16le(std::u16string(u"a\0b\0\0", 5))},
      {"Untyped", kRegNone, {0xFF}},
      {"", kRegSz, utf16le(std::u16string(u"default\0", 8))},
  };
  for (const Case& c : cases) set("K", c.name, c.type, c.data);
  const KeyHandle key = open("K");
  for (const Case& c : cases) {
    SCOPED_TRACE("value \"" + c.name + "\"");
    const std::u16string name = wide(c.name);
    const auto needed = static_cast<std::uint32_t>(c.data.size());

    std::uint32_t type = 0xDEAD, size = 0;
    ASSERT_EQ(p().reg_query_value(key, name, type, nullptr, size), kErrorSuccess) << "the size question";
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, needed);

    std::vector<std::byte> exact(needed);
    std::byte none{};
    type = 0xDEAD, size = needed;
    ASSERT_EQ(p().reg_query_value(key, name, type, needed ? exact.data() : &none, size), kErrorSuccess);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(bytes_of(exact), c.data);

    std::vector<std::byte> larger(needed + 16, std::byte{0xEE});
    size = static_cast<std::uint32_t>(larger.size());
    ASSERT_EQ(p().reg_query_value(key, name, type, larger.data(), size), kErrorSuccess);
    EXPECT_EQ(size, needed) << "the size of the value, not of the buffer";
    // Text stored without its terminating NUL is given one past the data; nothing else is written.
    const bool text = c.type == kRegSz || c.type == kRegExpandSz || c.type == kRegMultiSz;
    const bool unterminated = needed >= 2 && (c.data[needed - 2] != 0 || c.data[needed - 1] != 0);
    const std::vector<std::uint8_t> tail = text && unterminated ? std::vector<std::uint8_t>{0, 0, 0xEE}
                                                                : std::vector<std::uint8_t>{0xEE, 0xEE, 0xEE};
    EXPECT_EQ(bytes_of({larger.begin() + needed, larger.begin() + needed + 3}), tail);

    if (needed > 0) {
      std::vector<std::byte> shorter(needed - 1);
      type = 0xDEAD, size = needed - 1;
      EXPECT_EQ(p().reg_query_value(key, name, type, needed > 1 ? shorter.data() : &none, size),
                kErrorMoreData);
      EXPECT_EQ(size, needed) << "a short buffer learns the size it needs";
      EXPECT_EQ(type, c.type);
    }
  }
}

TEST_F(PlatformContract, AMissingValueAnswersNotFound) {
  set("K", "Present", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("K");
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(key, u"Absent", type, nullptr, size), kErrorFileNotFound);
  std::byte buffer[8];
  size = sizeof buffer;
  EXPECT_EQ(p().reg_query_value(key, u"Absent", type, buffer, size), kErrorFileNotFound);
  EXPECT_EQ(p().reg_query_value(key, u"Pres", type, nullptr, size), kErrorFileNotFound) << "no prefix match";
}

TEST_F(PlatformContract, ValueNamesIgnoreCase) {
  set("K", "ProxyEnable", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("K");
  for (const char16_t* name : {u"ProxyEnable", u"proxyenable", u"PROXYENABLE"}) {
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(p().reg_query_value(key, name, type, nullptr, size), kErrorSuccess);
    EXPECT_EQ(type, kRegDword);
  }
}

TEST_F(PlatformContract, TheSystemSeesANameUpToItsFirstNul) {
  set("K", "Proxy", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("K");
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(p().reg_query_value(key, std::u16string(u"Proxy\0Enable", 12), type, nullptr, size),
            kErrorSuccess);
}

// ---- events and waits

TEST_F(PlatformContract, EventsStartClear) {
  for (bool manual : {true, false}) {
    EXPECT_EQ(p().wait_one(event(manual), 0).code, kWaitTimeout) << "manual reset " << manual;
  }
}

TEST_F(PlatformContract, AManualResetEventStaysSetAndAnAutoResetOneWakesOneWait) {
  const Handle manual = event(true);
  const Handle automatic = event(false);
  ASSERT_TRUE(p().set_event(manual).ok);
  ASSERT_TRUE(p().set_event(automatic).ok);
  EXPECT_EQ(p().wait_one(manual, 0).code, kWaitObject0);
  EXPECT_EQ(p().wait_one(manual, 0).code, kWaitObject0);
  EXPECT_EQ(p().wait_one(automatic, 0).code, kWaitObject0);
  EXPECT_EQ(p().wait_one(automatic, 0).code, kWaitTimeout);
  ASSERT_TRUE(p().set_event(automatic).ok);
  ASSERT_TRUE(p().set_event(automatic).ok);
  EXPECT_EQ(p().wait_one(automatic, 0).code, kWaitObject0) << "setting twice is setting once";
  EXPECT_EQ(p().wait_one(automatic, 0).code, kWaitTimeout);
}

TEST_F(PlatformContract, AWaitTimesOutAfterItsTime) {
  const Handle clear = event(true);
  const auto before = p().monotonic_now();
  const WaitResult single = p().wait_one(clear, 60);
  const Handle both[] = {clear, event(false)};
  const WaitResult any = p().wait_any(both, 60);
  const auto elapsed = p().monotonic_now() - before;
  EXPECT_EQ(single.code, kWaitTimeout);
  EXPECT_EQ(any.code, kWaitTimeout);
  // Timers may round down by a tick, never by most of the wait.
  EXPECT_GE(elapsed, 90ms);
}

TEST_F(PlatformContract, WaitAnyAnswersTheLowestSignalledIndex) {
  const Handle first = event(false), second = event(false), third = event(true);
  const Handle all[] = {first, second, third};
  ASSERT_TRUE(p().set_event(third).ok);
  ASSERT_TRUE(p().set_event(second).ok);
  EXPECT_EQ(p().wait_any(all, 0).code, kWaitObject0 + 1) << "the lowest signalled handle wins";
  EXPECT_EQ(p().wait_any(all, 0).code, kWaitObject0 + 2) << "the wait reset the auto-reset one";
  EXPECT_EQ(p().wait_any(all, 0).code, kWaitObject0 + 2) << "a manual-reset event stays set";
  ASSERT_TRUE(p().set_event(first).ok);
  EXPECT_EQ(p().wait_any(all, 0).code, kWaitObject0);
  const Handle autos[] = {first, second};
  EXPECT_EQ(p().wait_any(autos, 0).code, kWaitTimeout) << "only the returned event was reset";
}

TEST_F(PlatformContract, AWaitWakesWhenAnotherThreadSetsTheEvent) {
  const Handle shutdown = event(true), change = event(false);
  std::atomic<std::uint32_t> seen{0xDEAD};
  auto thread = p().spawn_thread("zelvane-test", [&] {
    const Handle both[] = {shutdown, change};
    seen = p().wait_any(both, kInfinite).code;
  });
  ASSERT_TRUE(thread.has_value()) << thread.error().text;
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(p().set_event(change).ok);
  thread->join();
  EXPECT_EQ(seen.load(), kWaitObject0 + 1);
  EXPECT_EQ(p().wait_one(change, 0).code, kWaitTimeout) << "the woken wait reset it";
}

TEST_F(PlatformContract, BadWaitsFailWithTheirLastError) {
  const Handle good = event(true);
  const std::vector<Handle> too_many(kMaximumWaitObjects + 1, good);
  const Handle with_null[] = {good, Handle{}};
  struct Case {
    const char* what;
    WaitResult result;
    std::uint32_t last_error;
  };
  const std::vector<Case> cases = {
      {"no handles", p().wait_any({}, 0), kErrorInvalidParameter},
      {"more than 64", p().wait_any(too_many, 0), kErrorInvalidParameter},
      {"a null handle among them", p().wait_any(with_null, 0), kErrorInvalidHandle},
      {"a null handle", p().wait_one(Handle{}, 0), kErrorInvalidHandle},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result.code, kWaitFailed) << c.what;
    EXPECT_EQ(c.result.last_error, c.last_error) << c.what;
  }
}

TEST_F(PlatformContract, CallsOnAClosedOrNullEventFailWithInvalidHandle) {
  const EventResult created = p().create_event(true);
  ASSERT_TRUE(created.handle);
  const CallResult closed = p().close_handle(created.handle);
  EXPECT_TRUE(closed.ok);
  const WaitResult wait = p().wait_one(created.handle, 0);
  EXPECT_EQ(wait.code, kWaitFailed);
  EXPECT_EQ(wait.last_error, kErrorInvalidHandle);
  for (const CallResult r : {p().set_event(Handle{}), p().close_handle(Handle{})}) {
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.last_error, kErrorInvalidHandle);
  }
}

// ---- change notifications

constexpr std::uint32_t kWatchFilter =
    kRegNotifyChangeName | kRegNotifyChangeLastSet | kRegNotifyThreadAgnostic;

TEST_F(PlatformContract, ANotificationFiresOnceForAChangeBelowTheKey) {
  set("Watched", "Initial", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("Watched", kKeyNotify);
  const Handle changed = event(false);
  ASSERT_EQ(p().reg_notify_change_key_value(key, true, kWatchFilter, changed, true), kErrorSuccess);
  EXPECT_EQ(p().wait_one(changed, 0).code, kWaitTimeout) << "nothing changed yet";

  set("Watched\\Deeper\\Still", "V", kRegDword, {2, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 5000).code, kWaitObject0);
  set("Watched", "Initial", kRegDword, {3, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 100).code, kWaitTimeout) << "a registration fires once";

  ASSERT_EQ(p().reg_notify_change_key_value(key, true, kWatchFilter, changed, true), kErrorSuccess);
  set("Watched", "Initial", kRegDword, {4, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 5000).code, kWaitObject0) << "armed again, it fires again";
}

TEST_F(PlatformContract, AValueWrittenElsewhereWakesAWaitingThread) {
  set("Watched", "Initial", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("Watched", kKeyNotify);
  const Handle shutdown = event(true), changed = event(false);
  ASSERT_EQ(p().reg_notify_change_key_value(key, true, kWatchFilter, changed, true), kErrorSuccess);
  std::atomic<std::uint32_t> seen{0xDEAD};
  auto waiter = p().spawn_thread("zelvane-test", [&] {
    const Handle both[] = {shutdown, changed};
    seen = p().wait_any(both, 30'000).code;
  });
  ASSERT_TRUE(waiter.has_value()) << waiter.error().text;
  harness_->set_dword_elsewhere(under("Watched"), "FromElsewhere", 7);
  waiter->join();
  EXPECT_EQ(seen.load(), kWaitObject0 + 1);
}

TEST_F(PlatformContract, WithoutTheSubtreeOnlyTheKeyItselfCounts) {
  set("Watched\\Child", "V", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("Watched", kKeyNotify);
  const Handle changed = event(false);
  ASSERT_EQ(p().reg_notify_change_key_value(key, false, kWatchFilter, changed, true), kErrorSuccess);
  set("Watched\\Child", "V", kRegDword, {2, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 100).code, kWaitTimeout) << "a value of a subkey";
  set("Watched", "Own", kRegDword, {1, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 5000).code, kWaitObject0) << "a value of the key itself";
}

TEST_F(PlatformContract, TheFilterChoosesTheChangesThatCount) {
  set("Watched", "V", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("Watched", kKeyNotify);
  const Handle changed = event(false);
  ASSERT_EQ(p().reg_notify_change_key_value(key, false, kRegNotifyChangeName, changed, true), kErrorSuccess);
  set("Watched", "V", kRegDword, {2, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 100).code, kWaitTimeout) << "a value is no name change";
  set("Watched\\NewChild", "V", kRegDword, {1, 0, 0, 0});
  EXPECT_EQ(p().wait_one(changed, 5000).code, kWaitObject0) << "a new subkey is";
}

TEST_F(PlatformContract, ClosingAWatchedKeySetsItsEvent) {
  set("Watched", "V", kRegDword, {1, 0, 0, 0});
  const KeyHandle key = open("Watched", kKeyNotify);
  const Handle changed = event(false);
  ASSERT_EQ(p().reg_notify_change_key_value(key, true, kWatchFilter, changed, true), kErrorSuccess);
  close(key);
  EXPECT_EQ(p().wait_one(changed, 5000).code, kWaitObject0);
}

TEST_F(PlatformContract, ArmingFailsWithItsStatus) {
  set("Watched", "V", kRegDword, {1, 0, 0, 0});
  const Handle changed = event(false);
  const KeyHandle query_only = open("Watched", kKeyQueryValue);
  EXPECT_EQ(p().reg_notify_change_key_value(query_only, true, kWatchFilter, changed, true),
            kErrorAccessDenied)
      << "the key needs KEY_NOTIFY";

  const KeyHandle doomed = open("Watched", kKeyNotify);
  harness_->delete_key(under("Watched"));
  EXPECT_EQ(p().reg_notify_change_key_value(doomed, true, kWatchFilter, changed, true), kErrorKeyDeleted);

  KeyHandle closed;
  set("Other", "V", kRegDword, {1, 0, 0, 0});
  ASSERT_EQ(p().reg_open_key(kHkeyCurrentUser, wide(under("Other")), kKeyNotify, closed), kErrorSuccess);
  ASSERT_EQ(p().reg_close_key(closed), kErrorSuccess);
  EXPECT_EQ(p().reg_notify_change_key_value(closed, true, kWatchFilter, changed, true), kErrorInvalidHandle);
  EXPECT_EQ(p().wait_one(changed, 0).code, kWaitTimeout) << "no failed arming set the event";
}

// ---- WinHTTP

TEST_F(PlatformContract, TheCurrentUsersSettingsComeBackAsSet) {
  const std::vector<IeProxyConfig> cases = {
      {false, std::nullopt, std::nullopt, std::nullopt},
      {false, std::nullopt, u"proxy.example:8080", std::nullopt},
      {false, std::nullopt, u"http=p:80;https=q:443", u"<local>;*.corp"},
      {false, u"http://wpad.example/proxy.pac", std::nullopt, std::nullopt},
      {true, u"http://wpad.example/proxy.pac", u"p:3128", u"localhost"},
      {true, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const IeProxyConfig& set : cases) {
    harness_->set_ie_config(set);
    IeProxyConfig got{!set.auto_detect, u"stale", u"stale", u"stale"};
    const CallResult r = p().winhttp_get_ie_proxy_config_for_current_user(got);
    ASSERT_TRUE(r.ok) << "last error " << r.last_error;
    EXPECT_EQ(got, set) << "proxy " << wide_to_string(set.proxy).value_or("(null)") << ", URL "
                        << wide_to_string(set.auto_config_url).value_or("(null)");
  }
}

TEST_F(PlatformContract, AFreshSystemDetectsAutomaticallyAndHasNoDefaultProxy) {
  IeProxyConfig ie;
  ASSERT_TRUE(p().winhttp_get_ie_proxy_config_for_current_user(ie).ok);
  EXPECT_EQ(ie, (IeProxyConfig{true, std::nullopt, std::nullopt, std::nullopt}));
  ProxyInfo info{0xDEAD, u"stale", u"stale"};
  ASSERT_TRUE(p().winhttp_get_default_proxy_configuration(info).ok);
  EXPECT_EQ(info, (ProxyInfo{kWinHttpAccessTypeNoProxy, std::nullopt, std::nullopt}));
}

TEST_F(PlatformContract, TheDefaultConfigurationAnswersItsAccessType) {
  const std::vector<ProxyInfo> cases = {
      {kWinHttpAccessTypeNamedProxy, u"proxy.example:3128", u"*.local;<local>"},
      {kWinHttpAccessTypeNamedProxy, u"proxy.example:3128", u""},
      {kWinHttpAccessTypeNoProxy, std::nullopt, std::nullopt},
  };
  for (const ProxyInfo& set : cases) {
    harness_->set_default_proxy(set);
    ProxyInfo got{0xDEAD, u"stale", u"stale"};
    const CallResult r = p().winhttp_get_default_proxy_configuration(got);
    ASSERT_TRUE(r.ok) << "last error " << r.last_error;
    EXPECT_EQ(got, set) << "access type " << set.access_type;
  }
}

// ---- WinHTTP's proxy resolver

// What the contract's status callback saw, from whatever thread the system calls it on.
struct Notification {
  std::uintptr_t context;
  std::uint32_t status;
  std::optional<std::uint32_t> error;
};
struct Notifications {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Notification> seen;
};
Notifications& notifications() {
  static Notifications* const all = new Notifications;  // the system may call back at exit
  return *all;
}
void contract_sink(std::uintptr_t context, std::uint32_t status, const std::uint32_t* error) noexcept {
  Notifications& n = notifications();
  std::lock_guard lock(n.mutex);
  n.seen.push_back({context, status, error ? std::optional<std::uint32_t>(*error) : std::nullopt});
  n.arrived.notify_all();
}

constexpr std::uint32_t kResolverNotifications =
    kWinHttpCallbackFlagGetProxyForUrlComplete | kWinHttpCallbackFlagRequestError;

TEST_F(PlatformContract, AnAsynchronousSessionTakesItsTimeoutsAndCallback) {
  const NetResult opened =
      p().winhttp_open(u"zelvane-contract", kWinHttpAccessTypeNoProxy, kWinHttpFlagAsync);
  ASSERT_TRUE(opened.handle) << "last error " << opened.last_error;
  EXPECT_EQ(opened.last_error, 0u);
  const CallResult timeouts = p().winhttp_set_timeouts(opened.handle, 5000, 5000, 5000, 5000);
  EXPECT_TRUE(timeouts.ok) << "last error " << timeouts.last_error;
  EXPECT_TRUE(p().winhttp_set_timeouts(opened.handle, -1, 0, 1, 0x7FFFFFFF).ok) << "-1 is no time-out";
  const CallResult negative = p().winhttp_set_timeouts(opened.handle, -2, 0, 0, 0);
  EXPECT_FALSE(negative.ok);
  EXPECT_EQ(negative.last_error, kErrorInvalidParameter);
  const CallResult callback =
      p().winhttp_set_status_callback(opened.handle, contract_sink, kResolverNotifications);
  EXPECT_TRUE(callback.ok) << "last error " << callback.last_error;
  EXPECT_TRUE(p().winhttp_close_handle(opened.handle).ok);
}

TEST_F(PlatformContract, WinHttpCallsOnANullHandleFailWithInvalidHandle) {
  for (const CallResult r :
       {p().winhttp_set_timeouts(NetHandle{}, 1, 1, 1, 1),
        p().winhttp_set_status_callback(NetHandle{}, contract_sink, kResolverNotifications),
        p().winhttp_close_handle(NetHandle{})}) {
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.last_error, kErrorInvalidHandle);
  }
}

TEST_F(PlatformContract, AResolverIsRefusedOrAnswersThroughTheCallback) {
  const NetResult session =
      p().winhttp_open(u"zelvane-contract", kWinHttpAccessTypeNoProxy, kWinHttpFlagAsync);
  ASSERT_TRUE(session.handle) << "last error " << session.last_error;
  ASSERT_TRUE(p().winhttp_set_timeouts(session.handle, 5000, 5000, 5000, 5000).ok);
  ASSERT_TRUE(p().winhttp_set_status_callback(session.handle, contract_sink, kResolverNotifications).ok);
  NetHandle resolver{0xBAD};
  const std::uint32_t created = p().winhttp_create_proxy_resolver(session.handle, resolver);
  if (created == kErrorWinHttpAutoProxyServiceError) {
    // Wine's resolver is a stub that refuses every creation: the engine's refused road.
    EXPECT_FALSE(resolver) << "a refused creation gives no handle";
    EXPECT_TRUE(p().winhttp_close_handle(session.handle).ok);
    return;
  }
  ASSERT_EQ(created, kErrorSuccess);
  ASSERT_TRUE(resolver);

  // A PAC URL that nobody serves: an answer or a failure, through the callback or at once.
  static std::atomic<std::uintptr_t> next_context{0x5A5A0};
  const std::uintptr_t context = next_context += 0x10;
  const AutoProxyOptions options{kWinHttpAutoProxyConfigUrl, 0, u"http://127.0.0.1:9/none.pac", false};
  const std::uint32_t asked =
      p().winhttp_get_proxy_for_url_ex(resolver, u"http://www.example/", options, context);
  std::optional<Notification> answer;
  if (asked == kErrorIoPending) {
    Notifications& n = notifications();
    std::unique_lock lock(n.mutex);
    const auto mine = [&] {
      for (const Notification& seen : n.seen) {
        if (seen.context == context) return std::optional<Notification>(seen);
      }
      return std::optional<Notification>();
    };
    ASSERT_TRUE(n.arrived.wait_for(lock, 30s, [&] { return mine().has_value(); })) << "no callback came";
    answer = mine();
    EXPECT_TRUE(answer->status == kWinHttpCallbackStatusGetProxyForUrlComplete ||
                answer->status == kWinHttpCallbackStatusRequestError)
        << "status " << answer->status;
    if (answer->status == kWinHttpCallbackStatusRequestError) {
      EXPECT_TRUE(answer->error.has_value()) << "a failure comes with its error";
    }
  } else {
    EXPECT_NE(asked, kErrorSuccess) << "an asynchronous session answers through the callback";
  }
  if (answer && answer->status == kWinHttpCallbackStatusGetProxyForUrlComplete) {
    ProxyResult result{0xDEAD, std::nullopt};
    ASSERT_EQ(p().winhttp_get_proxy_result(resolver, result), kErrorSuccess);
    ASSERT_TRUE(result.entries.has_value() || result.count == 0);
    if (result.entries) {
      EXPECT_EQ(result.entries->size(), result.count);
    }
  }
  EXPECT_TRUE(p().winhttp_close_handle(resolver).ok);
  EXPECT_TRUE(p().winhttp_close_handle(session.handle).ok);
}

// ---- threads and clocks

TEST_F(PlatformContract, ASpawnedThreadRunsItsBodyAndJoins) {
  auto owned = std::make_shared<int>(0);
  std::weak_ptr<int> watch = owned;
  std::atomic<bool> ran{false};
  auto thread = p().spawn_thread("zelvane-registry", [&ran, owned = std::move(owned)] { ran = *owned == 0; });
  ASSERT_TRUE(thread.has_value()) << thread.error().text;
  thread->join();
  EXPECT_TRUE(ran.load());
  EXPECT_FALSE(thread->joinable());
  EXPECT_TRUE(watch.expired()) << "the body is destroyed once it has run";
}

TEST_F(PlatformContract, TheMonotonicClockMovesForward) {
  const Handle clear = event(true);
  auto previous = p().monotonic_now();
  for (int i = 0; i < 1000; ++i) {
    const auto now = p().monotonic_now();
    ASSERT_GE(now, previous);
    previous = now;
  }
  p().wait_one(clear, 30);
  EXPECT_GE(p().monotonic_now() - previous, 20ms);
}

}  // namespace
}  // namespace zelvane::sys::win
