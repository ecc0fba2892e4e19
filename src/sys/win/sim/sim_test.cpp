// The control side of the simulated Windows: what the platform contract cannot see.
#include "sys/win/sim/sim.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <tuple>

#include "sys/win/sim/fixture.hpp"

namespace zelvane::sys::win::sim {
namespace {

const std::string kPath = "Software\\Zelvane";

class SimControl : public SimTest {
 protected:
  std::uint32_t open(KeyHandle& key, std::u16string_view path = u"Software\\Zelvane") {
    return platform().reg_open_key(kHkeyCurrentUser, path, kKeyRead, key);
  }
  std::uint32_t size_of(KeyHandle key, std::u16string_view name) {
    std::uint32_t type = 0, size = 0;
    return platform().reg_query_value(key, name, type, nullptr, size);
  }
};

TEST_F(SimControl, AFaultAnswersTheNthMatchingCallOnce) {
  control().set_dword(Root::CurrentUser, kPath, "A", 1);
  control().set_dword(Root::CurrentUser, kPath, "B", 1);
  KeyHandle key;
  ASSERT_EQ(open(key), kErrorSuccess);
  control().fail_next({Op::RegQueryValue, "hkcu\\software\\ZELVANE", "b", kErrorAccessDenied, 2});
  EXPECT_EQ(size_of(key, u"A"), kErrorSuccess) << "another value does not count";
  EXPECT_EQ(size_of(key, u"B"), kErrorSuccess) << "the first matching call";
  EXPECT_EQ(size_of(key, u"B"), kErrorAccessDenied) << "the second";
  EXPECT_EQ(size_of(key, u"B"), kErrorSuccess) << "used up";

  control().fail_next(Op::RegOpenKey, "HKCU\\Software\\Other", kErrorAccessDenied);
  KeyHandle other;
  EXPECT_EQ(open(other), kErrorSuccess) << "another key does not match";
  platform().reg_close_key(other);

  // Two faults due on one call: the first added answers, both are used.
  control().fail_next(Op::RegQueryValue, "", kErrorInvalidHandle);
  control().fail_next(Op::RegQueryValue, "", kErrorAccessDenied);
  EXPECT_EQ(size_of(key, u"A"), kErrorInvalidHandle);
  EXPECT_EQ(size_of(key, u"A"), kErrorSuccess);
  platform().reg_close_key(key);
}

TEST_F(SimControl, TheLogRecordsEachCallAsAnswered) {
  control().set_string(Root::CurrentUser, kPath, "Server", u"p");
  KeyHandle key;
  ASSERT_EQ(open(key, u"software\\zelvane"), kErrorSuccess);
  std::uint32_t type = 0, size = 0;
  platform().reg_query_value(key, u"Server", type, nullptr, size);
  std::byte buffer[2];
  size = sizeof buffer;
  platform().reg_query_value(key, u"Server", type, buffer, size);
  control().fail_next(Op::RegQueryValue, "", kErrorAccessDenied);
  platform().reg_query_value(key, u"Server", type, nullptr, size);
  platform().reg_close_key(key);

  const std::vector<Call> log = control().log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].op, Op::RegOpenKey);
  EXPECT_EQ(log[0].key, "HKCU\\software\\zelvane") << "the path as asked for";
  EXPECT_EQ(log[0].status, kErrorSuccess);
  EXPECT_EQ(log[1].value, "Server");
  EXPECT_EQ(log[1].buffer, std::nullopt);
  EXPECT_EQ(log[2].buffer, 2u);
  EXPECT_EQ(log[2].status, kErrorMoreData) << "4 bytes do not fit in 2";
  EXPECT_TRUE(log[3].injected);
  EXPECT_EQ(log[3].status, kErrorAccessDenied);
  EXPECT_EQ(log[4].op, Op::RegCloseKey);
  EXPECT_EQ(log[4].key, "HKCU\\software\\zelvane");
}

TEST_F(SimControl, StringsAreStoredAsRegSetValueExWCallersStoreThem) {
  control().set_string(Root::CurrentUser, kPath, "S", u"a\u4e2d", kRegExpandSz);
  KeyHandle key;
  ASSERT_EQ(open(key), kErrorSuccess);
  std::uint32_t type = 0, size = 16;
  std::byte data[16];
  ASSERT_EQ(platform().reg_query_value(key, u"S", type, data, size), kErrorSuccess);
  EXPECT_EQ(type, kRegExpandSz);
  ASSERT_EQ(size, 6u);
  const std::uint8_t expected[] = {'a', 0, 0x2D, 0x4E, 0, 0};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(std::to_integer<std::uint8_t>(data[i]), expected[i]) << i;
  platform().reg_close_key(key);
}

TEST_F(SimControl, DeletingReportsWhatWasThere) {
  control().set_dword(Root::LocalMachine, kPath + "\\Sub", "V", 1);
  EXPECT_TRUE(control().delete_value(Root::LocalMachine, kPath + "\\sub", "v"));
  EXPECT_FALSE(control().delete_value(Root::LocalMachine, kPath + "\\Sub", "V"));
  EXPECT_FALSE(control().delete_key(Root::CurrentUser, kPath)) << "the other root";
  EXPECT_FALSE(control().delete_key(Root::LocalMachine, "")) << "a root stays";
  EXPECT_TRUE(control().delete_key(Root::LocalMachine, "SOFTWARE"));
  KeyHandle key;
  EXPECT_EQ(platform().reg_open_key(kHkeyLocalMachine, u"Software", kKeyRead, key), kErrorFileNotFound);
}

TEST_F(SimControl, ResetEmptiesTheRegistryAndRestoresWinHttpsFirstAnswers) {
  control().set_dword(Root::CurrentUser, kPath, "V", 1);
  control().fail_ie_config(kErrorFileNotFound);
  control().fail_default_proxy(kErrorAccessDenied);
  control().fail_next(Op::CreateEvent, "", kErrorAccessDenied);
  KeyHandle key;
  ASSERT_EQ(open(key), kErrorSuccess);
  control().reset();
  const EventResult event = platform().create_event(true);
  ASSERT_TRUE(event.handle) << "the pending fault went with the reset";
  EXPECT_EQ(control().log().size(), 1u) << "the log starts again";
  EXPECT_EQ(size_of(key, u"V"), kErrorKeyDeleted) << "keys still open lost their key";
  KeyHandle again;
  EXPECT_EQ(open(again), kErrorFileNotFound);
  IeProxyConfig ie;
  EXPECT_TRUE(platform().winhttp_get_ie_proxy_config_for_current_user(ie).ok);
  EXPECT_TRUE(ie.auto_detect);
  ProxyInfo info;
  EXPECT_TRUE(platform().winhttp_get_default_proxy_configuration(info).ok);
  EXPECT_EQ(info.access_type, kWinHttpAccessTypeNoProxy);
  EXPECT_TRUE(platform().set_event(event.handle).ok) << "events stay";
  platform().close_handle(event.handle);
  platform().reg_close_key(key);
}

TEST_F(SimControl, WinHttpAnswersAsScriptedUntilToldOtherwise) {
  control().fail_ie_config(kErrorFileNotFound);
  control().fail_default_proxy(0);
  IeProxyConfig ie;
  ProxyInfo info;
  for (int i = 0; i < 2; ++i) {
    const CallResult user = platform().winhttp_get_ie_proxy_config_for_current_user(ie);
    EXPECT_FALSE(user.ok);
    EXPECT_EQ(user.last_error, kErrorFileNotFound);
    const CallResult machine = platform().winhttp_get_default_proxy_configuration(info);
    EXPECT_FALSE(machine.ok);
    EXPECT_EQ(machine.last_error, 0u) << "a failure may come with last error 0";
  }

  control().set_ie_config({false, std::nullopt, u"p:1", std::nullopt});
  control().fail_next(Op::WinHttpIeProxyConfig, "", kErrorAccessDenied);
  EXPECT_EQ(platform().winhttp_get_ie_proxy_config_for_current_user(ie).last_error, kErrorAccessDenied);
  ASSERT_TRUE(platform().winhttp_get_ie_proxy_config_for_current_user(ie).ok);
  EXPECT_EQ(ie.proxy, u"p:1");
}

TEST_F(SimControl, AWaitOrSetCanBeFailed) {
  const EventResult event = platform().create_event(false);
  ASSERT_TRUE(event.handle);
  control().fail_next(Op::SetEvent, "", kErrorAccessDenied);
  const CallResult set = platform().set_event(event.handle);
  EXPECT_FALSE(set.ok);
  EXPECT_EQ(set.last_error, kErrorAccessDenied);
  EXPECT_EQ(platform().wait_one(event.handle, 0).code, kWaitTimeout) << "the failed set did nothing";

  platform().set_event(event.handle);
  control().fail_next(Op::WaitAny, "", kErrorInvalidHandle);
  const WaitResult failed = platform().wait_any(std::span(&event.handle, 1), kInfinite);
  EXPECT_EQ(failed.code, kWaitFailed);
  EXPECT_EQ(failed.last_error, kErrorInvalidHandle);
  EXPECT_EQ(platform().wait_one(event.handle, 0).code, kWaitObject0) << "the failed wait reset nothing";
  platform().close_handle(event.handle);
}

TEST_F(SimControl, AThreadThatCannotStartDestroysItsBodyUnrun) {
  control().fail_next(Op::SpawnThread, "zelvane-registry", 11);
  auto owned = std::make_shared<int>(0);
  std::weak_ptr<int> watch = owned;
  bool ran = false;
  auto thread = platform().spawn_thread("zelvane-registry", [&ran, owned = std::move(owned)] { ran = true; });
  ASSERT_FALSE(thread.has_value());
  EXPECT_EQ(thread.error().code, 11);
  EXPECT_FALSE(thread.error().text.empty());
  EXPECT_FALSE(ran);
  EXPECT_TRUE(watch.expired());
  const auto spawns = calls(Op::SpawnThread);
  ASSERT_EQ(spawns.size(), 1u);
  EXPECT_EQ(spawns[0].key, "zelvane-registry");
  EXPECT_EQ(spawns[0].status, 11u);
}

TEST_F(SimControl, ThreadsAreNamedAsLinuxAllows) {
  char name[32] = {};
  auto thread = platform().spawn_thread("zelvane-registry",
                                        [&] { pthread_getname_np(pthread_self(), name, sizeof name); });
  ASSERT_TRUE(thread.has_value());
  thread->join();
  EXPECT_STREQ(name, "zelvane-registr") << "Linux keeps 15 bytes of a name";
}

TEST_F(SimControl, TheLogKeepsTheNewestCallsUpToItsLimit) {
  const auto close_bad_key = [&](std::uintptr_t bits) { platform().reg_close_key(KeyHandle{bits}); };
  for (std::uintptr_t i = 1; i <= 70'000; ++i) close_bad_key(i * 4);
  EXPECT_EQ(control().log().size(), 65'536u) << "the limit at the start";
  EXPECT_EQ(control().log_dropped(), 70'000u - 65'536u);

  control().set_log_limit(3);
  EXPECT_EQ(control().log().size(), 3u) << "a lower limit trims at once";
  control().clear_log();
  EXPECT_EQ(control().log_dropped(), 0u);
  for (std::uintptr_t i = 1; i <= 5; ++i) close_bad_key(i * 4);
  const std::vector<Call> log = control().log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(control().log_dropped(), 2u);
  EXPECT_EQ(log.front().status, kErrorInvalidHandle);

  // A spawn that fails still gets its status into the log, even with calls falling out.
  control().set_log_limit(1);
  control().fail_next(Op::SpawnThread, "", 11);
  EXPECT_FALSE(platform().spawn_thread("zelvane-test", [] {}).has_value());
  ASSERT_EQ(calls(Op::SpawnThread).size(), 1u);
  EXPECT_EQ(calls(Op::SpawnThread)[0].status, 11u);

  control().set_log_limit(0);
  control().clear_log();
  close_bad_key(4);
  EXPECT_TRUE(control().log().empty()) << "a limit of 0 turns the log off";
  EXPECT_EQ(control().log_dropped(), 1u);
}

// ---- change notifications: what the contract does not cover

class SimNotify : public SimControl {
 protected:
  void SetUp() override {
    event_ = platform().create_event(false).handle;
    ASSERT_TRUE(event_);
  }
  void TearDown() override {
    platform().close_handle(event_);
    SimControl::TearDown();
  }
  // Opens `path` under `root` for notifications and arms it with its subtree.
  KeyHandle armed(KeyHandle root, std::u16string_view path) {
    KeyHandle key;
    EXPECT_EQ(platform().reg_open_key(root, path, kKeyNotify, key), kErrorSuccess);
    EXPECT_EQ(platform().reg_notify_change_key_value(key, true, 0x10000005, event_, true), kErrorSuccess);
    return key;
  }
  bool fired() { return platform().wait_one(event_, 0).code == kWaitObject0; }
  Handle event_;
};

TEST_F(SimNotify, DeletingAWatchedKeyOrItsAncestorSetsTheEvent) {
  control().create_key(Root::CurrentUser, kPath + "\\A\\B");
  const KeyHandle key = armed(kHkeyCurrentUser, u"Software\\Zelvane\\A\\B");
  EXPECT_TRUE(control().delete_key(Root::CurrentUser, kPath + "\\A"));
  EXPECT_TRUE(fired());
  EXPECT_EQ(control().live_notifications(), 0u);
  EXPECT_EQ(platform().reg_notify_change_key_value(key, true, 0x10000005, event_, true), kErrorKeyDeleted);
  platform().reg_close_key(key);
}

TEST_F(SimNotify, TheResetFiresEveryRegistration) {
  control().create_key(Root::LocalMachine, kPath);
  const KeyHandle key = armed(kHkeyLocalMachine, u"Software\\Zelvane");
  control().reset();
  EXPECT_TRUE(fired());
  EXPECT_EQ(control().live_notifications(), 0u);
  platform().reg_close_key(key);
}

TEST_F(SimNotify, ScriptingWinHttpChangesTheKeysItsSettingsLiveIn) {
  control().create_key(Root::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
  control().create_key(Root::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
  const std::u16string path = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  const KeyHandle user = armed(kHkeyCurrentUser, path);
  control().set_ie_config({false, std::nullopt, u"p:1", std::nullopt});
  EXPECT_TRUE(fired());
  control().set_ie_config({false, std::nullopt, u"p:1", std::nullopt});
  EXPECT_FALSE(fired()) << "the registration was used up";
  platform().reg_close_key(user);
  EXPECT_FALSE(fired()) << "a used-up registration does not fire at the close";

  const KeyHandle machine = armed(kHkeyLocalMachine, path);
  control().set_default_proxy({kWinHttpAccessTypeNoProxy, std::nullopt, std::nullopt});
  EXPECT_TRUE(fired());
  platform().reg_close_key(machine);
}

TEST_F(SimNotify, RegistrationsTheSimulationCannotKeepAreRefused) {
  control().create_key(Root::CurrentUser, kPath);
  KeyHandle key;
  ASSERT_EQ(platform().reg_open_key(kHkeyCurrentUser, u"Software\\Zelvane", kKeyNotify, key), kErrorSuccess);
  struct Case {
    const char* what;
    bool asynchronous;
    std::uint32_t filter;
    Handle event;
    std::uint32_t status;
  };
  const Case cases[] = {
      {"synchronous", false, 0x5, event_, kErrorInvalidParameter},
      {"no change named", true, kRegNotifyThreadAgnostic, event_, kErrorInvalidParameter},
      {"unknown bits", true, 0x5 | 0x100, event_, kErrorInvalidParameter},
      {"no event", true, 0x5, Handle{}, kErrorInvalidParameter},
      {"an event it does not know", true, 0x5, Handle{0x4444}, kErrorInvalidHandle},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform().reg_notify_change_key_value(key, true, c.filter, c.event, c.asynchronous), c.status)
        << c.what;
  }
  EXPECT_EQ(control().live_notifications(), 0u);

  control().fail_next(Op::RegNotifyChangeKeyValue, "HKCU\\Software\\Zelvane", kErrorAccessDenied);
  EXPECT_EQ(platform().reg_notify_change_key_value(key, true, 0x5, event_, true), kErrorAccessDenied);
  EXPECT_EQ(control().live_notifications(), 0u) << "an injected failure arms nothing";
  EXPECT_EQ(calls(Op::RegNotifyChangeKeyValue).back().key, "HKCU\\Software\\Zelvane");
  platform().reg_close_key(key);
}

TEST_F(SimNotify, AWaitCanAnswerACodeNoEventGives) {
  control().fail_next(Fault{Op::WaitAny, "", std::nullopt, kErrorInvalidHandle, 1, 0x80});
  const WaitResult abandoned = platform().wait_any(std::span(&event_, 1), 1000);
  EXPECT_EQ(abandoned.code, 0x80u);
  EXPECT_EQ(calls(Op::WaitAny).back().timeout_ms, 1000u);
}

// ---- WinHTTP's proxy resolver

struct SinkLog {
  std::mutex mutex;
  std::vector<std::tuple<std::uintptr_t, std::uint32_t, std::optional<std::uint32_t>>> seen;
};
SinkLog& sink_log() {
  static SinkLog* const log = new SinkLog;
  return *log;
}
void record_sink(std::uintptr_t context, std::uint32_t status, const std::uint32_t* error) noexcept {
  std::lock_guard lock(sink_log().mutex);
  sink_log().seen.emplace_back(context, status, error ? std::optional<std::uint32_t>(*error) : std::nullopt);
}
std::vector<std::tuple<std::uintptr_t, std::uint32_t, std::optional<std::uint32_t>>> sunk(
    std::uintptr_t context) {
  std::lock_guard lock(sink_log().mutex);
  std::vector<std::tuple<std::uintptr_t, std::uint32_t, std::optional<std::uint32_t>>> out;
  for (const auto& s : sink_log().seen) {
    if (std::get<0>(s) == context) out.push_back(s);
  }
  return out;
}

class SimResolver : public SimTest {
 protected:
  NetHandle session(std::uint32_t flags = kWinHttpFlagAsync, std::uint32_t notifications = 0x01200000) {
    const NetResult opened = platform().winhttp_open(u"test", kWinHttpAccessTypeNoProxy, flags);
    EXPECT_TRUE(opened.handle);
    EXPECT_TRUE(platform().winhttp_set_status_callback(opened.handle, record_sink, notifications).ok);
    return opened.handle;
  }
  NetHandle resolver(NetHandle s) {
    NetHandle r;
    EXPECT_EQ(platform().winhttp_create_proxy_resolver(s, r), kErrorSuccess);
    return r;
  }
  std::uint32_t ask(NetHandle r, std::uintptr_t context) {
    return platform().winhttp_get_proxy_for_url_ex(r, u"http://www.example/", {2, 0, u"http://pac/", false},
                                                   context);
  }
};

TEST_F(SimResolver, ARequestAtATimeAndAResultOnlyOnceItIsIn) {
  const NetHandle s = session();
  const NetHandle r = resolver(s);
  ProxyResult result;
  EXPECT_EQ(platform().winhttp_get_proxy_result(r, result), kErrorWinHttpIncorrectHandleState)
      << "nothing asked";
  Resolution never;
  never.delivery = Resolution::Delivery::Never;
  control().script_resolution(never);
  EXPECT_EQ(ask(r, 0x100), kErrorIoPending);
  EXPECT_EQ(ask(r, 0x104), kErrorWinHttpIncorrectHandleState) << "one request at a time";
  EXPECT_EQ(platform().winhttp_get_proxy_result(r, result), kErrorWinHttpIncorrectHandleState)
      << "not in yet";
  EXPECT_EQ(control().held_callbacks(), 1u);
  EXPECT_TRUE(platform().winhttp_close_handle(r).ok);
  control().settle_callbacks();
  EXPECT_EQ(sunk(0x100).size(), 1u);
  EXPECT_EQ(sunk(0x100).front(),
            std::make_tuple(std::uintptr_t{0x100}, kWinHttpCallbackStatusRequestError,
                            std::optional<std::uint32_t>(kErrorWinHttpOperationCancelled)))
      << "closing cancels the request";
  EXPECT_TRUE(platform().winhttp_close_handle(s).ok);
  EXPECT_EQ(control().requests().size(), 1u);
  EXPECT_EQ(calls(Op::WinHttpGetProxyForUrlEx).front().key, "http://www.example/");
}

TEST_F(SimResolver, TheAnswerComesThroughTheSinkThenTheResultIsThere) {
  const NetHandle s = session();
  const NetHandle r = resolver(s);
  Resolution later;
  later.delay = std::chrono::milliseconds(20);
  later.extra_notifications = {0x1};
  later.result = {2, std::vector<ProxyResultEntry>{{true, 1, u"p", 81}, {}}};
  control().script_resolution(later);
  EXPECT_EQ(ask(r, 0x200), kErrorIoPending);
  control().settle_callbacks();
  const auto seen = sunk(0x200);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(std::get<1>(seen[0]), 0x1u) << "the notifications scripted first";
  EXPECT_EQ(std::get<1>(seen[1]), kWinHttpCallbackStatusGetProxyForUrlComplete);
  ProxyResult result;
  EXPECT_EQ(platform().winhttp_get_proxy_result(r, result), kErrorSuccess);
  EXPECT_EQ(result, later.result);
  platform().winhttp_close_handle(r);
  platform().winhttp_close_handle(s);
}

TEST_F(SimResolver, WhatTheSimulationRefuses) {
  const NetHandle sync = session(0);
  NetHandle r;
  EXPECT_EQ(platform().winhttp_create_proxy_resolver(sync, r), kErrorWinHttpIncorrectHandleType)
      << "a resolver needs an asynchronous session";
  EXPECT_FALSE(r);
  EXPECT_EQ(platform().winhttp_create_proxy_resolver(NetHandle{0x4242}, r), kErrorInvalidHandle);
  platform().winhttp_close_handle(sync);
  EXPECT_FALSE(platform().winhttp_close_handle(sync).ok) << "closed twice";

  // A session that did not ask for the notification never hears of the answer: its context stays.
  const NetHandle deaf = session(kWinHttpFlagAsync, kWinHttpCallbackFlagRequestError);
  const NetHandle resolver_of_deaf = resolver(deaf);
  EXPECT_EQ(ask(resolver_of_deaf, 0x300), kErrorIoPending);
  control().settle_callbacks();
  EXPECT_TRUE(sunk(0x300).empty());
  EXPECT_EQ(control().held_callbacks(), 1u);
  control().deliver_held_callbacks(12345);
  EXPECT_EQ(sunk(0x300).size(), 1u) << "a failure is a notification it asked for";
  EXPECT_EQ(control().held_callbacks(), 0u);
  platform().winhttp_close_handle(resolver_of_deaf);
  platform().winhttp_close_handle(deaf);
}

TEST(SimOps, NamesAreThoseOfThePlatformFunctions) {
  for (std::uint8_t i = 0; i <= static_cast<std::uint8_t>(Op::WinHttpCloseHandle); ++i) {
    const auto op = static_cast<Op>(i);
    EXPECT_EQ(op_from_name(op_name(op)), op) << op_name(op);
  }
  EXPECT_EQ(op_name(Op::RegQueryValue), "reg_query_value");
  EXPECT_EQ(op_name(Op::WinHttpGetProxyForUrlEx), "winhttp_get_proxy_for_url_ex");
  EXPECT_EQ(op_from_name("RegQueryValueExW"), std::nullopt);
}

TEST(SimDefault, IsThePlatformOfTheSimBuild) {
  EXPECT_EQ(&default_platform(), static_cast<Platform*>(&default_windows()));
}

}  // namespace
}  // namespace zelvane::sys::win::sim
