#include "siphash.hpp"

#include <bit>
#include <string>

namespace zelvane::python {
namespace {

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1;
  v1 = std::rotl(v1, 13);
  v1 ^= v0;
  v0 = std::rotl(v0, 32);
  v2 += v3;
  v3 = std::rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = std::rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = std::rotl(v1, 17);
  v1 ^= v2;
  v2 = std::rotl(v2, 32);
}

}  // namespace

void SipHash13::compress(std::uint64_t m) {
  v3_ ^= m;
  sip_round(v0_, v1_, v2_, v3_);
  v0_ ^= m;
}

void SipHash13::write(std::string_view bytes) {
  for (unsigned char b : bytes) {
    tail_ |= std::uint64_t{b} << (8 * tail_len_);
    if (++tail_len_ == 8) {
      compress(tail_);
      tail_ = 0;
      tail_len_ = 0;
    }
  }
  total_ += bytes.size();
}

void SipHash13::write_u64_le(std::uint64_t v) {
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(v >> (8 * i));
  write(std::string_view(bytes, 8));
}

void SipHash13::write_str_list(const std::vector<std::string>& texts) {
  write_u64_le(texts.size());
  for (const auto& t : texts) {
    write(t);
    write_u8(0xFF);
  }
}

std::uint64_t SipHash13::finish() const {
  std::uint64_t v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
  const std::uint64_t b = ((total_ & 0xFF) << 56) | tail_;
  v3 ^= b;
  sip_round(v0, v1, v2, v3);
  v0 ^= b;
  v2 ^= 0xFF;
  for (int i = 0; i < 3; ++i) sip_round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

long long to_py_hash(std::uint64_t h) {
  auto v = static_cast<long long>(h);
  return v == -1 ? -2 : v;
}

}  // namespace zelvane::python
