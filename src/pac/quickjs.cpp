#include "pac/quickjs.hpp"

#include <array>
#include <expected>
#include <new>
#include <string>
#include <utility>

#include "pac/host_functions.hpp"
#include "pac/js_value.hpp"
#include "parse/pac_answer.hpp"
#include "util/redact.hpp"

namespace zelvane::pac {

using model::Error;
using model::Result;
using model::RouteStep;

namespace {

constexpr std::string_view kStartFailed = "could not start the QuickJS runtime";
constexpr std::string_view kInstallFailed = "could not install the PAC host functions";
constexpr std::string_view kLoadFailed = "the PAC script failed to load";
constexpr std::string_view kEntryReadFailed = "reading the PAC entry point failed";
constexpr std::string_view kNoEntryPoint =
    "the PAC script defines no FindProxyForURL function on its global object (a `let` or "
    "`const` declaration does not put one there)";
constexpr std::string_view kCallFailed = "FindProxyForURL failed";
constexpr std::string_view kNotAString = "FindProxyForURL returned a value that is not a string";
constexpr std::string_view kUnconvertibleThrow = "a value that is not a string";
constexpr std::string_view kInterrupted = "interrupted";  // the engine's own word
constexpr std::string_view kNotUtf8 = "the text holds an unpaired surrogate, which has no UTF-8 form";

// Room the engine gets beyond the memory limit once the deadline has passed, so that it can
// still build the uncatchable error that ends the script. Without it a script that keeps
// the heap full would be handed a catchable null in place of that error and could go on.
constexpr std::size_t kInterruptReserve = std::size_t{1} << 20;

constexpr std::array<const char*, 2> kEntryPoints = {"FindProxyForURL", "FindProxyForURLEx"};

Error evaluation_error(std::string_view reason) {
  return Error(Error::PacEvaluation{util::sanitize_message(reason)});
}

// The detail comes from outside (the script's message, the engine's report): it is redacted
// before it joins the context, so that the context's words are never taken for credentials.
Error evaluation_error(std::string_view context, std::string_view detail) {
  std::string words(context);
  words += ": ";
  return Error(Error::PacEvaluation{util::sanitize_message(words, detail)});
}

// The detail of a thrown value: an Error's message, anything else as its text. Whatever
// the conversions throw in turn is dropped, so nothing is left pending.
std::string thrown_detail(JSContext* ctx, JSValueConst thrown) {
  if (JS_IsUninitialized(thrown)) return "the engine failed without an exception";
  if (JS_IsError(thrown)) {
    JsValue message(ctx, JS_GetPropertyStr(ctx, thrown, "message"));
    if (message.is_exception()) {
      take_exception(ctx);
      return {};
    }
    if (JS_IsUndefined(message.get()) || JS_IsNull(message.get())) return {};
    auto text = to_text(ctx, message.get());
    if (!text) {
      take_exception(ctx);
      return {};
    }
    return std::move(*text);
  }
  auto text = to_text(ctx, thrown);
  if (!text) {
    take_exception(ctx);
    return std::string(kUnconvertibleThrow);
  }
  return std::move(*text);
}

// The deadline as the engine consults it, and whether it has stopped the script.
struct InterruptState {
  DeadlineInterrupt interrupt;
  bool fired = false;
};

// Once the deadline has passed, every later consultation stops the script again, and no
// script function can be entered any more: a few of the engine's own functions (the Promise
// constructor running its executor, async generators) turn even the uncatchable interruption
// into a rejected promise, and a loop around them would otherwise run on. With no call
// possible, each frame that swallowed it is stopped at its own next consultation.
int interrupt_handler(JSRuntime* rt, void* opaque) {
  auto& state = *static_cast<InterruptState*>(opaque);
  if (!state.fired) {
    if (!state.interrupt.should_stop()) return 0;
    state.fired = true;
    JS_SetMemoryLimit(rt, kPacMemoryLimit + kInterruptReserve);
    JS_SetMaxStackSize(rt, 1);
  }
  return 1;
}

// The step named by `context` failed with the pending exception. Once the deadline has
// stopped the script (possibly while the detail itself was being read), whatever the step
// reports is the interruption's doing.
Error pac_js_error(JSContext* ctx, std::string_view context, const InterruptState* interrupt) {
  const JsValue thrown = take_exception(ctx);
  std::string detail = thrown_detail(ctx, thrown.get());
  if (interrupt != nullptr && interrupt->fired) detail = kInterrupted;
  return evaluation_error(context, detail);
}

// Everything that needs the engine: the answer as text, or the failure. The runtime and all
// its values are gone when this returns.
Result<std::string> run_script(std::string_view script, std::string_view url, std::string_view host,
                               const HostBinding& binding, std::optional<value::MonotonicInstant> deadline) {
  // Declared before the runtime, which refers to it until it is freed.
  std::optional<InterruptState> interrupt;
  const std::string source(script);  // the engine reads the text up to a terminating NUL

  JsRuntimePtr runtime(JS_NewRuntime());
  if (!runtime) return std::unexpected(evaluation_error(kStartFailed, "no runtime was created"));
  JSRuntime* rt = runtime.get();
  // The stack limit counts from here, on this thread.
  JS_UpdateStackTop(rt);
  JS_SetMemoryLimit(rt, kPacMemoryLimit);
  JS_SetMaxStackSize(rt, kPacStackLimit);
  if (deadline) {
    interrupt.emplace(InterruptState{DeadlineInterrupt{*deadline}});
    JS_SetInterruptHandler(rt, &interrupt_handler, &*interrupt);
  }

  JsContextPtr context(JS_NewContext(rt));
  if (!context) return std::unexpected(evaluation_error(kStartFailed, "no context was created"));
  JSContext* ctx = context.get();
  const auto fail = [&](std::string_view step) {
    return std::unexpected(pac_js_error(ctx, step, interrupt ? &*interrupt : nullptr));
  };

  {
    const JsValue global(ctx, JS_GetGlobalObject(ctx));
    if (auto installed = install_host_functions(ctx, global.get(), binding); !installed) {
      take_exception(ctx);
      return std::unexpected(evaluation_error(kInstallFailed, installed.error()));
    }
  }

  if (source.find('\0') != std::string::npos) {
    return std::unexpected(evaluation_error(kLoadFailed, "the script holds a NUL character"));
  }
  {
    const JsValue completion(ctx,
                             JS_Eval(ctx, source.c_str(), source.size(), "eval_script", JS_EVAL_TYPE_GLOBAL));
    if (completion.is_exception()) return fail(kLoadFailed);
  }

  const JsValue global(ctx, JS_GetGlobalObject(ctx));
  std::optional<JsValue> entry;
  for (const char* name : kEntryPoints) {
    JsValue candidate(ctx, JS_GetPropertyStr(ctx, global.get(), name));
    if (candidate.is_exception()) return fail(kEntryReadFailed);
    if (JS_IsFunction(ctx, candidate.get())) {
      entry.emplace(std::move(candidate));
      break;
    }
  }
  if (!entry) return std::unexpected(evaluation_error(kNoEntryPoint));

  JsValue url_arg(ctx, JS_NewStringLen(ctx, url.data(), url.size()));
  if (url_arg.is_exception()) return fail(kCallFailed);
  JsValue host_arg(ctx, JS_NewStringLen(ctx, host.data(), host.size()));
  if (host_arg.is_exception()) return fail(kCallFailed);
  std::array<JSValueConst, 2> args = {url_arg.get(), host_arg.get()};
  const JsValue answer(ctx, JS_Call(ctx, entry->get(), JS_UNDEFINED, 2, args.data()));
  if (answer.is_exception()) return fail(kCallFailed);

  auto text = to_text(ctx, answer.get());
  if (!text) {
    if (text.error() == TextFailure::NotUtf8) {
      return std::unexpected(evaluation_error(kNotAString, kNotUtf8));
    }
    return fail(kNotAString);
  }
  return std::move(*text);
}

}  // namespace

Result<std::vector<RouteStep>> evaluate_pac_quickjs(std::string_view script, std::string_view url,
                                                    std::string_view host, const hostfn::PacPolicy& policy,
                                                    std::optional<value::MonotonicInstant> deadline,
                                                    hostfn::Resolver& resolver) {
  const HostBinding binding{policy, resolver};
  try {
    auto answer = run_script(script, url, host, binding, deadline);
    if (!answer) return std::unexpected(std::move(answer.error()));
    return parse::parse_pac_result(*answer);
  } catch (const std::bad_alloc&) {
    // The process itself, not the engine's bounded heap, is out of memory; the engine's
    // values were released on the way out.
    return std::unexpected(evaluation_error("the PAC evaluation ran out of memory"));
  }
}

}  // namespace zelvane::pac
