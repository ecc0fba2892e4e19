// The simulated Windows: the platform of the sim build, and a control side through which tests
// (and the Python control module) shape what it answers.
//
// What it holds: an in-memory registry with the roots HKLM and HKCU (key paths and value names
// compared without regard to ASCII case, each value a type and raw bytes, keys with subkeys),
// registry change notifications, kernel events that really block and wake, scripted answers of
// WinHTTP's two reading calls, faults injected by operation, key, value and call number, a log
// of the calls made (the newest ones, up to a limit), and the counts of open keys and handles
// that show a leak.
//
// Change notifications fire when the control side changes the registry, from whatever thread:
// setting or deleting a value is a REG_NOTIFY_CHANGE_LAST_SET change of its key, creating or
// deleting a key a REG_NOTIFY_CHANGE_NAME change of its parent; a registration sees the changes
// of its own key and, when it watches the subtree, of every key below. Closing or deleting a
// watched key sets its event too, as on Windows. Registrations are always thread-agnostic, and
// only asynchronous ones are supported (a synchronous one answers ERROR_INVALID_PARAMETER).
// WinHTTP's settings live in the registry as on Windows: scripting the current user's answer
// writes "DefaultConnectionSettings" and scripting the default configuration "WinHttpSettings",
// each under the Connections key below its root's Internet Settings, so a watch sees them.
//
// It answers with the statuses Windows gives (the platform contract holds both to them): a
// missing key or value 2, a short buffer 234 with the needed size, a path with a leading
// backslash 161, a handle it does not know 6, a key deleted while open 1018, a query through a
// key opened without KEY_QUERY_VALUE 5 (a notification without KEY_NOTIFY likewise), a wait on
// no handles or on more than 64 87, a notification filter naming no change or unknown bits 87;
// text stored without its NUL gets one past the data when the buffer has room.
//
// The control side speaks in plain values (enums, UTF-8 or UTF-16 text, byte vectors) so that
// a thin Python wrapper can drive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sys/win/platform.hpp"
#include "sys/win/sim/calls.hpp"
#include "sys/win/sim/resolution.hpp"

namespace zelvane::sys::win::sim {

enum class Root : std::uint8_t { LocalMachine, CurrentUser };

class Control;

class Windows final : public Platform {
 public:
  Windows();
  ~Windows() override;
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  Control control();

  std::uint32_t reg_open_key(KeyHandle root, std::u16string_view path, std::uint32_t access,
                             KeyHandle& key) override;
  std::uint32_t reg_query_value(KeyHandle key, std::u16string_view name, std::uint32_t& type, std::byte* data,
                                std::uint32_t& size) override;
  std::uint32_t reg_close_key(KeyHandle key) noexcept override;
  std::uint32_t reg_notify_change_key_value(KeyHandle key, bool watch_subtree, std::uint32_t filter,
                                            Handle event, bool asynchronous) override;
  EventResult create_event(bool manual_reset) override;
  CallResult set_event(Handle event) noexcept override;
  CallResult close_handle(Handle handle) noexcept override;
  WaitResult wait_one(Handle handle, std::uint32_t timeout_ms) override;
  WaitResult wait_any(std::span<const Handle> handles, std::uint32_t timeout_ms) override;
  CallResult winhttp_get_ie_proxy_config_for_current_user(IeProxyConfig& config) override;
  CallResult winhttp_get_default_proxy_configuration(ProxyInfo& info) override;
  bool winhttp_has_proxy_resolver() const noexcept override;
  NetResult winhttp_open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) override;
  CallResult winhttp_set_timeouts(NetHandle session, std::int32_t resolve, std::int32_t connect,
                                  std::int32_t send, std::int32_t receive) override;
  CallResult winhttp_set_status_callback(NetHandle session, StatusSink sink,
                                         std::uint32_t notifications) override;
  std::uint32_t winhttp_create_proxy_resolver(NetHandle session, NetHandle& resolver) override;
  std::uint32_t winhttp_get_proxy_for_url_ex(NetHandle resolver, std::u16string_view url,
                                             const AutoProxyOptions& options,
                                             std::uintptr_t context) override;
  std::uint32_t winhttp_get_proxy_result(NetHandle resolver, ProxyResult& result) override;
  CallResult winhttp_close_handle(NetHandle handle) noexcept override;
  std::expected<ThreadHandle, SpawnError> spawn_thread(std::string_view name, ThreadBody body) override;
  std::chrono::steady_clock::time_point monotonic_now() noexcept override;

 private:
  friend class Control;
  struct State;
  WaitResult wait(Op op, std::span<const Handle> handles, std::uint32_t timeout_ms);
  std::unique_ptr<State> state_;
};

// The test side of one simulated Windows. Cheap to copy; valid while its Windows lives.
class Control {
 public:
  explicit Control(Windows& windows) : windows_(&windows) {}

  // ---- the registry. Paths are relative to the root, separated by backslashes; keys on the
  // way are created as needed.
  void create_key(Root root, std::string_view path);
  void set_value(Root root, std::string_view path, std::string_view name, std::uint32_t type,
                 std::vector<std::uint8_t> data);
  void set_dword(Root root, std::string_view path, std::string_view name, std::uint32_t value);
  // Little-endian UTF-16 with a terminating NUL unit, as RegSetValueExW callers store text.
  void set_string(Root root, std::string_view path, std::string_view name, std::u16string_view text,
                  std::uint32_t type = kRegSz);
  // Whether there was such a value or key. A deleted key takes its subtree with it, and keys
  // open on it answer ERROR_KEY_DELETED from then on.
  bool delete_value(Root root, std::string_view path, std::string_view name);
  bool delete_key(Root root, std::string_view path);

  // ---- WinHTTP's answers from now on. At the start: the current user's settings detect
  // automatically and hold no strings, the default configuration is "no proxy"; as on a fresh
  // Windows.
  void set_ie_config(IeProxyConfig config);
  void fail_ie_config(std::uint32_t last_error);
  void set_default_proxy(ProxyInfo info);
  void fail_default_proxy(std::uint32_t last_error);

  // ---- WinHTTP's proxy resolver. A session answers only when opened with WINHTTP_FLAG_ASYNC
  // (else resolver creation answers 12018); one resolver takes one request at a time (a second
  // answers 12019, as does a result asked for before the answer is in); the callback goes to
  // the session's sink only for notifications it asked for (others are passed over, and the
  // context stays held). Callbacks come from a thread of the simulation's own.
  void script_resolution(Resolution resolution);
  std::size_t scripted_resolutions() const;         // scripted and not yet used
  std::vector<SessionInfo> sessions() const;        // every session opened, in order
  std::vector<ResolutionRequest> requests() const;  // every request, in order
  std::size_t live_sessions() const;
  std::size_t live_resolvers() const;
  // Contexts handed over with a pending request whose callback has not come yet.
  std::size_t held_callbacks() const;
  // Returns once every callback scheduled so far has been made (held ones stay held).
  void settle_callbacks();
  // Every callback still owed, now (from the simulation's thread), as REQUEST_ERROR with the
  // given error; returns once they have been made.
  void deliver_held_callbacks(std::uint32_t error = kErrorWinHttpOperationCancelled);
  // A WinHTTP without its resolver (present at the start; reset() brings it back): the native
  // engine then asks it nothing and answers as the build without one.
  void set_proxy_resolver_present(bool present);

  // ---- faults, the log, the leak counts
  void fail_next(Fault fault);
  void fail_next(Op op, std::string key, std::uint32_t status, std::uint32_t nth = 1);
  // The newest calls, oldest first: at most the limit (65,536 at the start), so that a stress
  // test can run for minutes; a limit of 0 logs nothing. Calls that fell out are counted.
  std::vector<Call> log() const;
  void clear_log();  // also the count of calls that fell out
  void set_log_limit(std::size_t limit);
  std::uint64_t log_dropped() const;
  std::size_t live_keys() const;     // keys opened and not closed
  std::size_t live_handles() const;  // events created and not closed (WinHTTP handles apart)

  // Registrations waiting for a change.
  std::size_t live_notifications() const;

  // An empty registry, WinHTTP's first answers (no resolutions scripted), no faults, an empty
  // log. Keys still open answer ERROR_KEY_DELETED, and every registration fires; events,
  // WinHTTP handles and callbacks owed stay as they are.
  void reset();

 private:
  // `f(system)`, the parts of the simulated Windows, with its lock held; state.hpp defines both.
  template <class F>
  auto locked(F f) const;
  Windows::State& state() const;
  Windows* windows_;
};

// The simulated Windows that default_platform() answers in the sim build; never destroyed.
Windows& default_windows();

}  // namespace zelvane::sys::win::sim
