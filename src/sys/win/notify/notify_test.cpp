// The registry watch backend on the simulated Windows: what it arms, how it waits, settles,
// reads and publishes, and how each failure ends up.
#include "sys/win/notify/notify.hpp"

#include "sys/win/notify/notify_internal.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "model/test_print.hpp"
#include "sys/win/reader.hpp"
#include "sys/win/sim/fixture.hpp"
#include "value/debug.hpp"

namespace zelvane::sys::win::notify {

using namespace model;
using namespace value;
using watch::WatchOptions;
namespace {

using namespace std::chrono_literals;
using sim::Call;
using sim::Op;
using sim::Root;
using watch::WatchPoll;

const std::string kUser(kUserKeyPath);
const std::string kMachine(kMachineKeyPath);
const std::string kPolicy = "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::string kUserKey = "HKCU\\" + kUser;
const std::string kMachineKey = "HKLM\\" + kMachine;
const std::string kMandatoryWhy =
    "HKCU is Windows' only mandatory proxy configuration source, with no fallback route this backend can use "
    "instead; set WatchOptions::poll_interval to fall back to polling and continue anyway";

WatchOptions options(Duration settle = {}, std::optional<Duration> poll = std::nullopt,
                     bool group_policy = true) {
  WatchOptions o;
  o.settle_delay = settle;
  o.poll_interval = poll;
  o.group_policy = group_policy;
  return o;
}

class NotifyTest : public sim::SimTest {
 protected:
  // A Windows as installed: both Internet Settings keys and the policy tree up to "Windows".
  void SetUp() override { standard_keys(); }
  void TearDown() override {
    stream_.reset();
    sim::SimTest::TearDown();
  }

  void standard_keys() {
    control().create_key(Root::CurrentUser, kUser);
    control().create_key(Root::LocalMachine, kMachine);
    control().create_key(Root::LocalMachine, "Software\\Policies\\Microsoft\\Windows");
  }

  Result<watch::WatchStream> open(const WatchOptions& o = options()) {
    return open_watch_stream(platform(), o);
  }
  // Opens the watch and takes its baseline, as a consumer does.
  void start(const WatchOptions& o = options()) {
    auto opened = open(o);
    ASSERT_TRUE(opened.has_value()) << opened.error().message();
    stream_.emplace(std::move(*opened));
    stream_->take_baseline();
  }

  // The next answer other than Pending, or Pending after the time.
  WatchPoll next(std::chrono::milliseconds within = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    watch::WakeHandle handle = parker_.wake_handle();
    for (;;) {
      WatchPoll poll = stream_->poll_event(handle);
      const auto now = std::chrono::steady_clock::now();
      if (!poll.is<WatchPoll::Pending>() || now >= deadline) return poll;
      parker_.park_for(deadline - now);
    }
  }
  // The configuration of a Changed answer; fails the test on any other.
  ProxyConfig changed(const WatchPoll& poll) {
    const auto* c = poll.get_if<WatchPoll::Changed>();
    EXPECT_NE(c, nullptr) << "not a change";
    return c != nullptr ? c->snapshot.config : ProxyConfig::empty();
  }
  watch::WatchDiagnostics diagnostics(const WatchPoll& poll) {
    if (const auto* c = poll.get_if<WatchPoll::Changed>()) return c->snapshot.diagnostics;
    if (const auto* e = poll.get_if<WatchPoll::Error>()) return e->snapshot.diagnostics;
    ADD_FAILURE() << "no snapshot";
    return {};
  }
  // What a reading gives right now.
  ProxyConfig reading(const WatchOptions& o = options()) {
    return read_windows_config(platform(), ReadOptions{o.group_policy}).value();
  }
  // The answers until a change brings what a reading gives now; the diagnostics of that change.
  // A source reported unwatched may come first as a change of its own.
  std::optional<watch::WatchDiagnostics> published(std::chrono::milliseconds within = 10s) {
    const ProxyConfig expected = reading();
    for (WatchPoll poll = next(within); poll.is<WatchPoll::Changed>(); poll = next(within)) {
      if (poll.get_if<WatchPoll::Changed>()->snapshot.config == expected) return diagnostics(poll);
    }
    return std::nullopt;
  }

  void user_proxy(std::u16string proxy) {
    control().set_ie_config({false, std::nullopt, std::move(proxy), std::nullopt});
  }

  // Waits until the log shows what is asked for.
  bool logged(const std::function<bool(const std::vector<Call>&)>& seen,
              std::chrono::milliseconds within = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!seen(control().log())) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  static std::size_t count(const std::vector<Call>& log, Op op) {
    return static_cast<std::size_t>(
        std::count_if(log.begin(), log.end(), [op](const Call& c) { return c.op == op; }));
  }

  std::optional<watch::WatchStream> stream_;
  watch::ThreadParker parker_;
};

// ---- opening

TEST_F(NotifyTest, OpeningArmsTheThreeKeysAndStartsTheThread) {
  auto opened = open();
  ASSERT_TRUE(opened.has_value()) << opened.error().message();
  stream_.emplace(std::move(*opened));
  WatchPoll first = next();
  EXPECT_EQ(changed(first), reading()) << "the first answer is the reading of the opening";
  EXPECT_EQ(diagnostics(first), (watch::WatchDiagnostics{{}, std::nullopt, true, false}));

  std::vector<std::string> armed;
  for (const Call& c : calls(Op::RegNotifyChangeKeyValue)) {
    EXPECT_EQ(c.status, kErrorSuccess) << c.key;
    armed.push_back(c.key);
  }
  EXPECT_EQ(armed, (std::vector<std::string>{kUserKey, "HKLM\\Software\\Policies\\Microsoft\\Windows",
                                             kMachineKey}));
  const auto spawns = calls(Op::SpawnThread);
  ASSERT_EQ(spawns.size(), 1u);
  EXPECT_EQ(spawns[0].key, "zelvane-registry");
  EXPECT_EQ(control().live_notifications(), 3u);
  EXPECT_EQ(control().live_keys(), 3u);
  EXPECT_EQ(control().live_handles(), 4u) << "one event per key and the shutdown";
}

TEST_F(NotifyTest, ThePolicyKeyIsWatchedThroughItsNearestExistingAncestor) {
  struct Case {
    const char* what;
    std::vector<std::string> keys;  // under HKLM, beside the machine's Internet Settings
    std::function<void(sim::Control&)> faults;
    std::string armed;  // empty: none
  };
  const Case cases[] = {
      {"the policy key itself exists",
       {kPolicy},
       {},
       "HKLM\\Software\\Policies\\Microsoft\\Windows\\CurrentVersion"},
      {"only Policies", {"Software\\Policies"}, {}, "HKLM\\Software\\Policies"},
      {"nothing of the policy tree", {}, {}, "HKLM\\Software"},
      {"a candidate that does not arm is passed over",
       {"Software\\Policies\\Microsoft\\Windows"},
       [](sim::Control& c) {
         c.fail_next(Op::RegNotifyChangeKeyValue, "HKLM\\Software\\Policies\\Microsoft\\Windows",
                     kErrorAccessDenied);
       },
       "HKLM\\Software\\Policies\\Microsoft"},
      {"nor one that does not open",
       {"Software\\Policies\\Microsoft\\Windows"},
       [](sim::Control& c) {
         c.fail_next(Op::RegOpenKey, "HKLM\\Software\\Policies\\Microsoft\\Windows", kErrorAccessDenied);
       },
       "HKLM\\Software\\Policies\\Microsoft"},
  };
  for (const Case& c : cases) {
    control().reset();
    control().create_key(Root::CurrentUser, kUser);
    control().create_key(Root::LocalMachine, kMachine);
    for (const std::string& key : c.keys) control().create_key(Root::LocalMachine, key);
    if (c.faults) {
      auto ctl = control();
      c.faults(ctl);
    }
    auto stream = open();
    ASSERT_TRUE(stream.has_value()) << c.what;
    const auto armed = calls(Op::RegNotifyChangeKeyValue);
    std::vector<std::string> policy;
    for (const Call& call : armed) {
      if (call.status == kErrorSuccess && call.key != kUserKey && call.key != kMachineKey)
        policy.push_back(call.key);
    }
    EXPECT_EQ(policy, std::vector<std::string>{c.armed}) << c.what;
    EXPECT_EQ(diagnostics(stream->poll_event(watch::WakeHandle::noop())).unwatched, std::vector<SourceKind>{})
        << c.what;
  }
}

TEST_F(NotifyTest, WithoutGroupPolicyNoPolicyKeyIsOpened) {
  start(options({}, std::nullopt, false));
  for (const Call& c : calls(Op::RegOpenKey)) {
    EXPECT_EQ(c.key.find("Policies"), std::string::npos) << c.key;
    EXPECT_NE(c.key, "HKLM\\Software") << "no ancestor either";
  }
  EXPECT_EQ(control().live_notifications(), 2u);
  control().set_dword(Root::LocalMachine, kPolicy, "ProxyEnable", 1);
  EXPECT_TRUE(next(200ms).is<WatchPoll::Pending>()) << "the policy tree is not watched";
}

TEST_F(NotifyTest, CreatingThePolicyKeyLaterIsRead) {
  start();
  control().set_dword(Root::LocalMachine, kPolicy, "ProxyEnable", 1);
  control().set_string(Root::LocalMachine, kPolicy, "ProxyServer", u"policy.example:80");
  // Two writes: the first wakes the thread; the second may or may not make a second reading.
  ProxyConfig seen;
  for (WatchPoll poll = next(); poll.is<WatchPoll::Changed>(); poll = next(300ms)) seen = changed(poll);
  EXPECT_EQ(seen, reading());
  EXPECT_EQ(seen.sources.at(1).kind, SourceKind::GroupPolicy);
}

TEST_F(NotifyTest, AMissingKeyIsReportedAndNeverFatal) {
  struct Case {
    const char* what;
    std::vector<std::pair<Root, std::string>> keys;
    std::vector<SourceKind> unwatched;
    bool notifications;
  };
  const Case cases[] = {
      {"no HKCU key", {{Root::LocalMachine, kMachine}}, {SourceKind::Registry}, true},
      {"nothing at all",
       {},
       {SourceKind::Registry, SourceKind::GroupPolicy, SourceKind::WinHttpDefault},
       false},
  };
  for (const Case& c : cases) {
    control().reset();
    for (const auto& [root, path] : c.keys) control().create_key(root, path);
    auto stream = open();
    ASSERT_TRUE(stream.has_value()) << c.what << ": " << stream.error().message();
    const watch::WatchDiagnostics d = diagnostics(stream->poll_event(watch::WakeHandle::noop()));
    EXPECT_EQ(d.unwatched, c.unwatched) << c.what;
    EXPECT_EQ(d.notifications, c.notifications) << c.what;
  }
  // With nothing armed and no tick the thread waits for the shutdown alone.
  ASSERT_TRUE(logged([](const auto& log) {
    return std::any_of(log.begin(), log.end(), [](const Call& call) { return call.op == Op::WaitAny; });
  })) << "the stream of the last case was released, so its wait returned";
  const auto waits = calls(Op::WaitAny);
  EXPECT_EQ(waits.back().timeout_ms, kInfinite);
  EXPECT_EQ(waits.back().status, kWaitObject0);
}

TEST_F(NotifyTest, OpeningFailuresReleaseEverything) {
  using Setup = std::function<void(sim::Control&)>;
  struct Case {
    const char* what;
    Setup setup;
    std::optional<Duration> poll;
    std::string message;  // empty: the watch opens, HKCU unwatched
  };
  const std::string hkcu = "opening or arming HKCU Internet Settings for notifications failed (";
  const Case cases[] = {
      {"the shutdown event", [](sim::Control& c) { c.fail_next(Op::CreateEvent, "", kErrorAccessDenied); },
       std::nullopt, "creating the zelvane shutdown event"},
      {"opening HKCU", [](sim::Control& c) { c.fail_next(Op::RegOpenKey, kUserKey, kErrorAccessDenied); },
       std::nullopt, hkcu + "opening HKCU Internet Settings key for notifications), and " + kMandatoryWhy},
      {"the HKCU event", [](sim::Control& c) { c.fail_next(Op::CreateEvent, "", kErrorAccessDenied, 2); },
       std::nullopt, hkcu + "creating a registry notification event), and " + kMandatoryWhy},
      {"arming HKCU",
       [](sim::Control& c) { c.fail_next(Op::RegNotifyChangeKeyValue, kUserKey, kErrorAccessDenied); },
       std::nullopt, hkcu + "registering a registry change notification), and " + kMandatoryWhy},
      {"arming HKCU with a poll interval",
       [](sim::Control& c) { c.fail_next(Op::RegNotifyChangeKeyValue, kUserKey, kErrorAccessDenied); },
       Duration{60, 0}, ""},
      {"opening HKCU with a poll interval",
       [](sim::Control& c) { c.fail_next(Op::RegOpenKey, kUserKey, kErrorAccessDenied); }, Duration{60, 0},
       ""},
      {"the initial reading",
       [](sim::Control& c) {
         c.set_ie_config({false, u"http://[zz]/p.pac", std::nullopt, std::nullopt});
       },
       std::nullopt, "invalid proxy URL \"http://[zz]/p.pac\": invalid IPv6 address"},
      {"the thread", [](sim::Control& c) { c.fail_next(Op::SpawnThread, "zelvane-registry", 11); },
       std::nullopt, "spawning the zelvane registry thread"},
  };
  for (const Case& c : cases) {
    control().reset();
    standard_keys();
    auto ctl = control();
    c.setup(ctl);
    auto stream = open(options({}, c.poll));
    if (c.message.empty()) {
      ASSERT_TRUE(stream.has_value()) << c.what << ": " << stream.error().message();
      EXPECT_EQ(diagnostics(stream->poll_event(watch::WakeHandle::noop())).unwatched,
                std::vector<SourceKind>{SourceKind::Registry})
          << c.what;
      continue;
    }
    ASSERT_FALSE(stream.has_value()) << c.what;
    EXPECT_EQ(stream.error().message(), c.message) << c.what;
    EXPECT_EQ(control().live_keys(), 0u) << c.what;
    EXPECT_EQ(control().live_handles(), 0u) << c.what;
  }
}

TEST_F(NotifyTest, TheFatalSetupErrorCarriesTheFirstError) {
  control().fail_next(Op::RegNotifyChangeKeyValue, kUserKey, kErrorAccessDenied);
  auto stream = open();
  ASSERT_FALSE(stream.has_value());
  EXPECT_EQ(debug_text(stream.error()),
            "Io { context: \"" + stream.error().message() +
                "\", source: Custom { kind: Other, error: Io { context: \"registering a registry change "
                "notification\", source: Os { code: 5 } } } }");
}

// ---- waiting, settling, reading

TEST_F(NotifyTest, AChangeIsReadAgainAndPublished) {
  start();
  user_proxy(u"p.example:1");
  EXPECT_TRUE(published());
  EXPECT_TRUE(logged([this](const auto&) { return control().live_notifications() == 3; })) << "re-armed";

  user_proxy(u"p.example:1");  // written again, same settings
  EXPECT_TRUE(next(300ms).is<WatchPoll::Pending>()) << "an equal reading is not published";
}

TEST_F(NotifyTest, ABurstInsideTheSettleDelayIsReadOnce) {
  start(options(Duration::from_millis(500)));
  control().clear_log();
  user_proxy(u"p.example:1");
  user_proxy(u"p.example:2");
  user_proxy(u"p.example:3");
  const ProxyConfig seen = changed(next());
  EXPECT_TRUE(next(300ms).is<WatchPoll::Pending>()) << "one change for the burst";
  EXPECT_EQ(seen, reading()) << "the reading after the last change";
  EXPECT_EQ(count(control().log(), Op::WinHttpIeProxyConfig), 2u)
      << "one reading by the watch, one by the test";
}

TEST_F(NotifyTest, WithoutASettleDelayTheReadingFollowsTheChange) {
  start();
  control().clear_log();
  user_proxy(u"p.example:1");
  ASSERT_TRUE(next().is<WatchPoll::Changed>());
  const auto log = control().log();
  // The wait that saw the change, the re-arm, then the reading: no wait between.
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].op, Op::WaitAny);
  EXPECT_EQ(log[0].status, kWaitObject0 + 1);
  EXPECT_EQ(log[1].op, Op::RegNotifyChangeKeyValue);
  EXPECT_EQ(log[2].op, Op::RegOpenKey) << "the reading starts (group policy first)";
}

TEST_F(NotifyTest, TheMainWaitFollowsThePollInterval) {
  struct Case {
    std::optional<Duration> poll;
    std::uint32_t timeout_ms;
  };
  const Case cases[] = {
      {std::nullopt, kInfinite},
      {Duration{}, 200},
      {Duration::from_millis(50), 200},
      {Duration::from_millis(200), 200},
      {Duration::from_millis(250), 250},
      {Duration{1'000'000'000, 0}, 0xFFFFFFFE},
      {Duration{~std::uint64_t{0}, 999'999'999}, 0xFFFFFFFE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(main_timeout_ms(c.poll), c.timeout_ms) << (c.poll ? debug_text(*c.poll) : "none");
  }
  // The loop waits with it: the tick of 0 s waits 200 ms, and a tick on unchanged settings
  // publishes nothing.
  start(options({}, Duration{}));
  ASSERT_TRUE(logged([](const auto& log) { return count(log, Op::WaitAny) >= 2; }, 5s));
  const auto waits = calls(Op::WaitAny);
  EXPECT_EQ(waits[0].timeout_ms, 200u);
  EXPECT_EQ(waits[0].status, kWaitTimeout);
  EXPECT_TRUE(next(300ms).is<WatchPoll::Pending>());
}

TEST_F(NotifyTest, TheSettleDelayIsCappedAtADayAndAStopDuringItReadsNothing) {
  EXPECT_EQ(settle_time(Duration{2 * 86'400, 0}), std::chrono::seconds(86'400));
  EXPECT_EQ(settle_time(Duration{}), std::chrono::nanoseconds(0));
  start(options(Duration{2 * 86'400, 0}));
  control().clear_log();
  user_proxy(u"p.example:1");
  ASSERT_TRUE(logged([](const auto& log) { return count(log, Op::RegNotifyChangeKeyValue) == 1; }))
      << "the change was seen and the key re-armed";
  stream_.reset();
  const auto log = control().log();
  EXPECT_EQ(count(log, Op::WinHttpIeProxyConfig), 0u) << "the change being settled is not read";
  const auto waits = calls(Op::WaitAny);
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_EQ(waits[1].status, kWaitObject0) << "the settle wait ended by the shutdown";
  EXPECT_LE(*waits[1].timeout_ms, 86'400'000u);
  EXPECT_GE(*waits[1].timeout_ms, 86'390'000u);
}

TEST_F(NotifyTest, AFailedReadingIsQueuedAndTheWatchGoesOn) {
  start();
  control().set_ie_config({false, u"http://[zz]/p.pac", std::nullopt, std::nullopt});
  WatchPoll failed = next();
  ASSERT_TRUE(failed.is<WatchPoll::Error>());
  EXPECT_EQ(failed.get_if<WatchPoll::Error>()->error.message(),
            "invalid proxy URL \"http://[zz]/p.pac\": invalid IPv6 address");
  user_proxy(u"p.example:1");
  EXPECT_TRUE(published());
}

// ---- re-arming

TEST_F(NotifyTest, AKeyThatCannotBeArmedAgainIsReportedUnwatched) {
  control().fail_next(Op::RegNotifyChangeKeyValue, kMachineKey, kErrorAccessDenied, 2);
  start();
  control().set_default_proxy({kWinHttpAccessTypeNamedProxy, u"d.example:1", u""});
  EXPECT_EQ(published(), (watch::WatchDiagnostics{{SourceKind::WinHttpDefault}, std::nullopt, true, false}));
  control().set_default_proxy({kWinHttpAccessTypeNamedProxy, u"d.example:2", u""});
  EXPECT_TRUE(next(300ms).is<WatchPoll::Pending>()) << "that key is not watched any more";
  user_proxy(u"p.example:1");
  EXPECT_TRUE(published()) << "the others are";
}

TEST_F(NotifyTest, NotificationsAreLostWhenNoKeyCanBeArmedAgain) {
  // With a poll interval even the current user's key is no longer fatal.
  for (const std::string& key :
       {kUserKey, std::string("HKLM\\Software\\Policies\\Microsoft\\Windows"), kMachineKey})
    control().fail_next(Op::RegNotifyChangeKeyValue, key, kErrorAccessDenied, 2);
  start(options({}, Duration{3600, 0}));
  const std::function<void()> changes[] = {
      [&] { user_proxy(u"p.example:1"); },
      [&] { control().set_dword(Root::LocalMachine, kPolicy, "ProxyEnable", 0); },
      [&] {
        control().set_default_proxy({kWinHttpAccessTypeNamedProxy, u"d.example:1", u""});
      },
  };
  std::optional<watch::WatchDiagnostics> last;
  for (const auto& change : changes) {
    change();
    last = published();
    ASSERT_TRUE(last);
  }
  EXPECT_EQ(last, (watch::WatchDiagnostics{
                      {SourceKind::Registry, SourceKind::GroupPolicy, SourceKind::WinHttpDefault},
                      Duration{3600, 0},
                      false,
                      false}));
}

TEST_F(NotifyTest, AFatalReArmEndsTheWatchAfterItsReadingAndError) {
  control().fail_next(Op::RegNotifyChangeKeyValue, kUserKey, kErrorAccessDenied, 2);
  start();
  user_proxy(u"p.example:9");
  const ProxyConfig expected = reading();
  WatchPoll change = next();
  EXPECT_EQ(changed(change), expected);
  EXPECT_FALSE(diagnostics(change).ended) << "the error is behind it";
  WatchPoll failure = next();
  ASSERT_TRUE(failure.is<WatchPoll::Error>());
  EXPECT_EQ(failure.get_if<WatchPoll::Error>()->error.message(),
            "re-arming HKCU Internet Settings for notifications failed (registering a registry change "
            "notification), and " +
                kMandatoryWhy);
  WatchPoll end = next();
  EXPECT_TRUE(diagnostics(end).ended);
  EXPECT_TRUE(next().is<WatchPoll::Closed>());
  EXPECT_EQ(control().live_keys(), 0u) << "the thread released its keys";
  EXPECT_EQ(control().live_handles(), 1u) << "the shutdown event is the watch's until it is released";
}

// ---- waits that fail

TEST_F(NotifyTest, AFailedWaitEndsTheWatchWithItsError) {
  struct Case {
    std::uint32_t code;
    std::string source;
  };
  const Case cases[] = {
      {kWaitFailed, "Os { code: -2147024890 }"},
      {0x80, "Custom { kind: Other, error: \"unexpected wait result WAIT_EVENT(128)\" }"},
  };
  for (const Case& c : cases) {
    control().fail_next(sim::Fault{Op::WaitAny, "", std::nullopt, kErrorInvalidHandle, 1, c.code});
    start();
    WatchPoll failure = next();
    const auto* e = failure.get_if<WatchPoll::Error>();
    ASSERT_NE(e, nullptr) << c.code;
    EXPECT_EQ(debug_text(e->error),
              "Io { context: \"waiting for registry change notifications\", source: " + c.source + " }");
    EXPECT_TRUE(diagnostics(next()).ended);
    EXPECT_TRUE(next().is<WatchPoll::Closed>());
    stream_.reset();
  }
}

TEST_F(NotifyTest, AWaitThatFailsWhileSettlingReadsNothing) {
  start(options(Duration{60, 0}));
  // The main wait is under way already: the next wait is the settle's.
  control().fail_next(sim::Fault{Op::WaitAny, "", std::nullopt, kErrorInvalidHandle, 1, kWaitFailed});
  user_proxy(u"p.example:1");
  WatchPoll failure = next();
  ASSERT_TRUE(failure.is<WatchPoll::Error>());
  EXPECT_EQ(failure.get_if<WatchPoll::Error>()->error.message(), "waiting for registry change notifications");
  EXPECT_NE(changed(next()), reading()) << "the end carries the configuration of the opening";
  EXPECT_EQ(count(control().log(), Op::WinHttpIeProxyConfig), 2u) << "the opening's reading and the test's";
}

// ---- stopping

TEST_F(NotifyTest, ReleasingTheStreamStopsTheThreadAndReleasesEverything) {
  start();
  std::weak_ptr<watch::WatchState> state = stream_->state();
  stream_.reset();
  EXPECT_TRUE(state.expired()) << "the thread let go of the state before the release returned";
  EXPECT_EQ(calls(Op::SetEvent).size(), 1u);
  EXPECT_EQ(control().live_notifications(), 0u);
}

TEST_F(NotifyTest, AStopWhoseEventCannotBeSetTriesAgain) {
  for (const std::optional<Duration> poll :
       {std::optional<Duration>{}, std::optional<Duration>{Duration{60, 0}}}) {
    start(options({}, poll));
    std::weak_ptr<watch::WatchState> state = stream_->state();
    control().clear_log();
    control().fail_next(Op::SetEvent, "", kErrorInvalidHandle, 1);
    stream_.reset();
    EXPECT_TRUE(state.expired()) << "the thread was joined";
    const auto sets = calls(Op::SetEvent);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(sets[0].injected);
    EXPECT_FALSE(sets[1].injected);
    EXPECT_EQ(control().live_handles(), 0u);
    EXPECT_EQ(control().live_notifications(), 0u);
  }
}

TEST_F(NotifyTest, AStopWhoseEventCanNeverBeSetLetsTheThreadEndAtItsNextWake) {
  for (const std::optional<Duration> poll :
       {std::optional<Duration>{}, std::optional<Duration>{Duration{60, 0}}}) {
    start(options({}, poll));
    std::weak_ptr<watch::WatchState> state = stream_->state();
    for (std::uint32_t nth = 1; nth <= 1000; ++nth)
      control().fail_next(Op::SetEvent, "", kErrorInvalidHandle, nth);
    const auto before = std::chrono::steady_clock::now();
    stream_.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, kStopGiveUpAfter);
    EXPECT_LT(took, kStopGiveUpAfter + 2s) << "the stop is bounded";
    EXPECT_FALSE(state.expired()) << "the thread still waits, on its own share of everything";
    EXPECT_EQ(control().live_handles(), 4u) << "the shutdown event stays open for it, with the key events";
    control().clear_log();
    // A change wakes it: it sees the stop, reads nothing and closes what it holds.
    user_proxy(u"p.example:1");
    EXPECT_TRUE(logged([&](const auto&) { return control().live_handles() == 0; }));
    EXPECT_TRUE(state.expired());
    EXPECT_EQ(count(control().log(), Op::WinHttpIeProxyConfig), 0u) << "nothing was read after the stop";
    EXPECT_EQ(control().live_keys(), 0u);
    control().reset();  // the faults left over
    standard_keys();
  }
}

TEST_F(NotifyTest, SpawningTwiceIsAProgrammingError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto watch = Watch::create(platform(), options()).value();
        auto state = std::make_shared<watch::WatchState>(ProxyConfig::empty());
        (void)watch->spawn(options(), state);
        (void)watch->spawn(options(), state);
      },
      "Watch::spawn must be called exactly once");
}

// ---- many watches at once

TEST_F(NotifyTest, ManyWatchesOpenAndCloseWhileTheSettingsChange) {
  control().set_log_limit(0);
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int i = 0; writing; ++i) {
      user_proxy(u"p.example:" + std::u16string(1, static_cast<char16_t>(u'1' + i % 9)));
      std::this_thread::sleep_for(200us);
    }
  });
  std::atomic<int> failures{0}, changes{0};
  std::vector<std::thread> consumers;
  for (int t = 0; t < 8; ++t) {
    consumers.emplace_back([&] {
      watch::ThreadParker parker;
      watch::WakeHandle handle = parker.wake_handle();
      for (int round = 0; round < 25; ++round) {
        auto stream = open();
        if (!stream) {
          ++failures;
          continue;
        }
        stream->take_baseline();
        for (int polls = 0; polls < 5; ++polls) {
          WatchPoll poll = stream->poll_event(handle);
          if (poll.is<WatchPoll::Changed>()) ++changes;
          if (poll.is<WatchPoll::Error>() || poll.is<WatchPoll::Closed>()) ++failures;
          if (poll.is<WatchPoll::Pending>()) parker.park_for(2ms);
        }
      }
    });
  }
  for (std::thread& t : consumers) t.join();
  writing = false;
  writer.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(changes, 0);
  EXPECT_EQ(control().live_notifications(), 0u);
}

}  // namespace
}  // namespace zelvane::sys::win::notify
