// SipHash-1-3 with both keys zero, over a byte stream fed in pieces: the hash of the
// module's value classes, the same in every process (Python's own hash is keyed per process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zelvane::python {

class SipHash13 {
 public:
  void write(std::string_view bytes);
  void write_u8(std::uint8_t b) { write(std::string_view(reinterpret_cast<const char*>(&b), 1)); }
  void write_u64_le(std::uint64_t v);
  // A list of texts: the count as 8 bytes little-endian, then each text and a 0xFF byte.
  void write_str_list(const std::vector<std::string>& texts);
  std::uint64_t finish() const;

 private:
  void compress(std::uint64_t m);
  std::uint64_t v0_ = 0x736f6d6570736575ull, v1_ = 0x646f72616e646f6dull, v2_ = 0x6c7967656e657261ull,
                v3_ = 0x7465646279746573ull;
  std::uint64_t tail_ = 0;
  std::size_t tail_len_ = 0;
  std::uint64_t total_ = 0;
};

// The value as a Python hash: the 64 bits read as signed, -1 replaced by -2.
long long to_py_hash(std::uint64_t h);

}  // namespace zelvane::python
