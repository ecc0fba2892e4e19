// A password planted in a proxy address, for the fuzzers that check it never shows. The input
// gives the pieces, cut at the byte 0x01: the text before the address, the user name, the rest
// of the password and the text after the '@'; the password starts with a token found nowhere
// else, raw ("Zq9PLANT") or percent-encoded ("%5Aq9PLANT"). A piece alone (a seed from the
// tests) is the user name of "user:password@proxy.example:8080".
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.hpp"

namespace zelvane::fuzz {

inline constexpr std::string_view kTokenCore = "q9PLANT";  // in both forms of the token

struct Plant {
  std::string address;  // [scheme://]user:<token><rest>@<after>
  std::string in_text;  // "<before> <address>", or the address when nothing is before
};

// Whether the address grammar takes the planted text as (part of) the password: after an
// optional "scheme://", the authority ends at the first '/', '?' or '#', the credentials at
// its last '@', and the password starts after the first ':' of the credentials. This is the
// reading of the proxy address parser, so whatever it would take as a password is covered.
inline bool token_in_password(std::string_view address) {
  std::string_view rest = address;
  if (const auto sep = rest.find("://"); sep != std::string_view::npos) rest.remove_prefix(sep + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const auto at = rest.rfind('@');
  if (at == std::string_view::npos) return false;
  const auto userinfo = rest.substr(0, at);
  const auto colon = userinfo.find(':');
  if (colon == std::string_view::npos) return false;
  return userinfo.substr(colon + 1).find(kTokenCore) != std::string_view::npos;
}

// The plants of one input: with and without a scheme, raw and encoded token; none when the
// input itself holds the token (nothing could tell the plant from it).
inline std::vector<Plant> plants(std::string_view input) {
  std::vector<Plant> out;
  if (input.find(kTokenCore) != std::string_view::npos) return out;
  const auto parts = pieces(input, 4);
  const std::string_view before = parts.size() > 1 ? parts[0] : "";
  const std::string_view user = parts.size() > 1 ? parts[1] : parts[0];
  const std::string_view rest = parts.size() > 2 ? parts[2] : "";
  const std::string_view after = parts.size() > 3 ? parts[3] : "proxy.example:8080";
  for (std::string_view scheme : {"", "http://"}) {
    for (std::string_view token : {"Zq9PLANT", "%5Aq9PLANT"}) {
      const std::string credentials =
          std::string(scheme) + std::string(user) + ":" + std::string(token) + std::string(rest) + "@";
      // Asked with a host the parser certainly accepts: a refused address must hide its
      // password too.
      if (!token_in_password(credentials + "proxy.example:8080")) continue;
      Plant p;
      p.address = credentials + std::string(after);
      p.in_text = before.empty() ? p.address : std::string(before) + " " + p.address;
      out.push_back(std::move(p));
    }
  }
  return out;
}

inline void check_hidden(std::string_view what, std::string_view input, std::string_view output) {
  if (output.find(kTokenCore) == std::string_view::npos) return;
  property_failed("the planted password is hidden",
                  std::string(what) + " of " + shown(input) + " shows it: " + shown(output));
}

}  // namespace zelvane::fuzz
