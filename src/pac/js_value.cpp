#include "pac/js_value.hpp"

#include <cstddef>
#include <string_view>

#include "util/utf8.hpp"

namespace zelvane::pac {

std::expected<std::string, TextFailure> to_text(JSContext* ctx, JSValueConst value) {
  std::size_t length = 0;
  const char* bytes = JS_ToCStringLen(ctx, &length, value);
  if (bytes == nullptr) return std::unexpected(TextFailure::Thrown);
  // The engine writes an unpaired surrogate as its three-byte form, which is not UTF-8.
  struct Release {
    JSContext* ctx;
    const char* bytes;
    ~Release() { JS_FreeCString(ctx, bytes); }
  } release{ctx, bytes};
  const std::string_view text(bytes, length);
  if (!util::is_valid_utf8(text)) return std::unexpected(TextFailure::NotUtf8);
  return std::string(text);
}

}  // namespace zelvane::pac
