// Owning handles for QuickJS-ng values and the one text conversion the PAC evaluation uses.
// Freeing the runtime aborts the process when anything is still alive, so every value the
// evaluation touches sits in one of these, declared after the context it belongs to and
// therefore destroyed before it.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <utility>

#include "quickjs.h"

namespace zelvane::pac {

struct JsRuntimeFree {
  void operator()(JSRuntime* rt) const noexcept { JS_FreeRuntime(rt); }
};
struct JsContextFree {
  void operator()(JSContext* ctx) const noexcept { JS_FreeContext(ctx); }
};
using JsRuntimePtr = std::unique_ptr<JSRuntime, JsRuntimeFree>;
using JsContextPtr = std::unique_ptr<JSContext, JsContextFree>;

// One owned reference to a value of a context.
class JsValue {
 public:
  JsValue(JSContext* ctx, JSValue value) noexcept : ctx_(ctx), value_(value) {}
  JsValue(JsValue&& other) noexcept : ctx_(other.ctx_), value_(std::exchange(other.value_, JS_UNDEFINED)) {}
  JsValue& operator=(JsValue&& other) noexcept {
    if (this != &other) {
      JS_FreeValue(ctx_, value_);
      ctx_ = other.ctx_;
      value_ = std::exchange(other.value_, JS_UNDEFINED);
    }
    return *this;
  }
  JsValue(const JsValue&) = delete;
  JsValue& operator=(const JsValue&) = delete;
  ~JsValue() { JS_FreeValue(ctx_, value_); }

  JSValueConst get() const noexcept { return value_; }
  bool is_exception() const noexcept { return JS_IsException(value_); }
  // Gives up ownership, for the engine calls that take it over.
  JSValue release() noexcept { return std::exchange(value_, JS_UNDEFINED); }

 private:
  JSContext* ctx_;
  JSValue value_;
};

// The pending exception, taken out of the runtime (JS_UNINITIALIZED when there is none).
inline JsValue take_exception(JSContext* ctx) noexcept { return JsValue(ctx, JS_GetException(ctx)); }

enum class TextFailure {
  Thrown,   // the conversion threw; the exception is pending
  NotUtf8,  // the text holds an unpaired surrogate, which has no UTF-8 form; nothing pending
};

// The language's ToString of the value (which may run script code), as strict UTF-8.
std::expected<std::string, TextFailure> to_text(JSContext* ctx, JSValueConst value);

}  // namespace zelvane::pac
