#include "bypass/rules.hpp"

#include <gtest/gtest.h>

#include <random>

#include "value/debug.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

using R = BypassRule;
using Port = std::optional<std::uint16_t>;
constexpr auto kNoProxy = BypassDialect::NoProxyStyle;
constexpr auto kWindows = BypassDialect::WindowsStyle;

const EntryOutcome kNothing = NoRule{};
const EntryOutcome kRefused = Refused{};

EntryOutcome domain(std::string suffix, bool match_self, Port port = {}) {
  return R{R::Domain{std::move(suffix), match_self, port}};
}
EntryOutcome exact_name(std::string host, Port port = {}) {
  return R{R::Exact{Host::domain(std::move(host)), port}};
}
EntryOutcome exact_v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, Port port = {}) {
  return R{R::Exact{Host{Ipv4Addr{{a, b, c, d}}}, port}};
}
EntryOutcome exact_v6(std::array<std::uint16_t, 8> segments, Port port = {}) {
  return R{R::Exact{Host{Ipv6Addr::from_segments(segments)}, port}};
}
EntryOutcome wildcard(std::string pattern, Port port = {}) {
  return R{R::Wildcard{std::move(pattern), port}};
}
EntryOutcome cidr(IpAddr addr, std::uint8_t prefix) { return R{R::Cidr{IpNet{addr, prefix}}}; }
EntryOutcome cidr_v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t prefix) {
  return cidr(IpAddr{Ipv4Addr{{a, b, c, d}}}, prefix);
}
EntryOutcome cidr_v6(std::array<std::uint16_t, 8> segments, std::uint8_t prefix) {
  return cidr(IpAddr{Ipv6Addr::from_segments(segments)}, prefix);
}

std::string text_of(const EntryOutcome& outcome) {
  if (const auto* rule = std::get_if<BypassRule>(&outcome)) return debug_text(*rule);
  return std::holds_alternative<NoRule>(outcome) ? "nothing" : "refused";
}

struct EntryCase {
  std::string entry;  // already trimmed
  EntryOutcome no_proxy;
  EntryOutcome windows;
};

void expect_entries(const std::vector<EntryCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(text_of(parse_entry(c.entry, kNoProxy)), text_of(c.no_proxy))
        << "no_proxy: " << quoted(c.entry);
    EXPECT_EQ(text_of(parse_entry(c.entry, kWindows)), text_of(c.windows)) << "windows: " << quoted(c.entry);
  }
}

TEST(BypassEntryTest, KeywordsInAnyCaseAndBothDialects) {
  expect_entries({
      {"", kNothing, kNothing},
      {"*", R{R::All{}}, R{R::All{}}},
      {"<local>", R{R::Local{}}, R{R::Local{}}},
      {"<LOCAL>", R{R::Local{}}, R{R::Local{}}},
      {"<-Loopback>", R{R::SubtractImplicit{}}, R{R::SubtractImplicit{}}},
      // Only the whole entry is a keyword; '<' cannot stand in a host.
      {"<local>:80", kRefused, kRefused},
      {"<local>.example", kRefused, kRefused},
  });
}

TEST(BypassEntryTest, RefusedBeforeAnyHostIsRead) {
  expect_entries({
      // Credentials: a proxy URL, not a destination.
      {"user:pass@proxy", kRefused, kRefused},
      {"user@example.com", kRefused, kRefused},
      // White space inside the entry, ASCII or not.
      {"a\tb", kRefused, kRefused},
      {"a\u00a0b", kRefused, kRefused},
      {"a\u3000b", kRefused, kRefused},
      {"a\u0085b", kRefused, kRefused},
      // A scheme.
      {"http://example.com", kRefused, kRefused},
      {"HTTPS://example.com:443", kRefused, kRefused},
      // Network blocks and leading dots: Windows refuses them all, no_proxy reads them.
      {"10.0.0.0/8", cidr_v4(10, 0, 0, 0, 8), kRefused},
      {".example.com", domain(".example.com", false), kRefused},
      {".", kNothing, kNothing},
      {"..", kNothing, kNothing},
  });
}

TEST(BypassEntryTest, Networks) {
  expect_entries({
      // Not the standard syntax, but read as the URL parser reads the address.
      {"010.1.2.0/24", cidr_v4(8, 1, 2, 0, 24), kRefused},
      {"0x7F.0.0.1/8", cidr_v4(127, 0, 0, 1, 8), kRefused},  // host bits stay as written
      {"010.1.2.0/33", kRefused, kRefused},
      {"1.2.3.4.5/8", kRefused, kRefused},
      {"10.1/8", kRefused, kRefused},  // not four parts: no URL reading of the address
      {"010..2.0/8", kRefused, kRefused},
      {"%31%30.0.0.1/8", kRefused, kRefused},  // the host parser would decode it to 10.0.0.1
      {"10.1.2.3/24", cidr_v4(10, 1, 2, 3, 24), kRefused},
      {"10.0.0.0/8x", kRefused, kRefused},
      {"10.0.0.0/", kRefused, kRefused},
      {"FE80::/10", cidr_v6({0xfe80, 0, 0, 0, 0, 0, 0, 0}, 10), kRefused},
      {"::ffff:10.0.0.0/104", cidr_v6({0, 0, 0, 0, 0, 0xffff, 0x0a00, 0}, 104), kRefused},
      {"::1/129", kRefused, kRefused},
      {"[::1]/128", kRefused, kRefused},
      {"example.com/24", kRefused, kRefused},
      {"example.com/path", kRefused, kRefused},
  });
}

TEST(BypassEntryTest, HostAndPort) {
  expect_entries({
      {"[::1]:8080", exact_v6({0, 0, 0, 0, 0, 0, 0, 1}, 8080), exact_v6({0, 0, 0, 0, 0, 0, 0, 1}, 8080)},
      {"[::1]", exact_v6({0, 0, 0, 0, 0, 0, 0, 1}), exact_v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"::1", exact_v6({0, 0, 0, 0, 0, 0, 0, 1}), exact_v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"FE80::1:8080", exact_v6({0xfe80, 0, 0, 0, 0, 0, 1, 0x8080}),
       exact_v6({0xfe80, 0, 0, 0, 0, 0, 1, 0x8080})},  // a bare literal takes no port
      {"[1.2.3.4]:80", exact_v4(1, 2, 3, 4, 80), exact_v4(1, 2, 3, 4, 80)},
      {"example.com:8080", domain(".example.com", true, 8080), exact_name("example.com", 8080)},
      {"example.com:", domain(".example.com", true), exact_name("example.com")},
      {"*.example.com:8080", domain(".example.com", false, 8080), domain(".example.com", false, 8080)},
      {"10.*:80", wildcard("10.*", 80), wildcard("10.*", 80)},
      {"*:80", wildcard("*", 80), wildcard("*", 80)},  // a port makes "*" a glob, not All
      {":80", kNothing, kNothing},                     // no host: names no destination
      {"host:abc", kRefused, kRefused},
      {"host:65536", kRefused, kRefused},
      {"[::1", kRefused, kRefused},
      {"[::1]x", kRefused, kRefused},
      {"a:b:c", kRefused, kRefused},
      // Brackets hold an address only.
      {"[example.com]", kRefused, kRefused},
      {"[]", kRefused, kRefused},
      {"[zz]:80", kRefused, kRefused},
  });
}

TEST(BypassEntryTest, TrailingDots) {
  expect_entries({
      {"example.com.", domain(".example.com", true), kRefused},
      {"127.0.0.1.", exact_v4(127, 0, 0, 1), kRefused},
      {"10.*.", wildcard("10.*"), kRefused},
      {"*.example.com.", domain(".example.com", false), kRefused},
      {"*.", kNothing, kNothing},
      {"*..", kNothing, kNothing},
      {"*.*.", wildcard("*.*"), wildcard("*.*")},  // only '*' and '.': Windows lets it by
  });
}

TEST(BypassEntryTest, CharactersNoHostHolds) {
  expect_entries({
      {"exa%6dple.com", kRefused, kRefused},
      {"a|b", kRefused, kRefused},
      {"a^b", kRefused, kRefused},
      {"a#b", kRefused, kRefused},
      {"a?b", kRefused, kRefused},
      {"a\\b", kRefused, kRefused},
      {"a>b", kRefused, kRefused},
      {std::string("a\x01"
                   "b"),
       kRefused, kRefused},
      {std::string("a\0b", 3), kRefused, kRefused},
      {"a\u0090b", kRefused, kRefused},  // a C1 control
      {"a\x7f"
       "b",
       kRefused, kRefused},
  });
}

TEST(BypassEntryTest, NonAsciiNamesInTheirAsciiForm) {
  expect_entries({
      {"bücher.example", domain(".xn--bcher-kva.example", true), exact_name("xn--bcher-kva.example")},
      {"BÜCHER.Example", domain(".xn--bcher-kva.example", true), exact_name("xn--bcher-kva.example")},
      {"*.bücher.example", domain(".xn--bcher-kva.example", false), domain(".xn--bcher-kva.example", false)},
      {"*.bücher.*", wildcard("*.xn--bcher-kva.*"), wildcard("*.xn--bcher-kva.*")},
      // Each label is converted under a fixed last label: alone, "１０" reads as a number.
      {"１０.example", domain(".10.example", true), exact_name("10.example")},
      {"*ü.example", kRefused, kRefused},  // glob and non-ASCII text in one label
      {"ü*.example", kRefused, kRefused},
      {"b\xff"
       "cher.example",
       kRefused, kRefused},  // not UTF-8
      {"ü..example", kRefused, kRefused},
      // A full-width character whose ASCII twin the rule's text could not carry: the list
      // would split at ',' or ';', read '*' as a glob and ':' as a port.
      {"\uff0c", kRefused, kRefused},
      {"a\uff1bb.example", kRefused, kRefused},
      {"a\uff0a.example", kRefused, kRefused},
      {"a\uff1a80.example", kRefused, kRefused},
      // An ideographic full stop is a label separator, which the text carries as '.'.
      {"b\u00fccher\u3002example", domain(".xn--bcher-kva.example", true), exact_name("xn--bcher-kva.example")},
  });
}

TEST(BypassEntryTest, EmptyLabelsAndSubdomainForms) {
  expect_entries({
      {"a..b", kRefused, kRefused},
      {"..a", kRefused, kRefused},
      {"*..a", kRefused, kRefused},
      {"a.b..", kRefused, kRefused},
      {"...", kRefused, kRefused},
      // An address has no subdomains.
      {".10.0.0.1", kRefused, kRefused},
      {"*.10.0.0.1", kRefused, kRefused},
      {"*.1", kRefused, kRefused},
      {"*.::1", kRefused, kRefused},
      // A last label that reads as a number names no domain...
      {".example.123", kRefused, kRefused},
      {"*.example.123", kRefused, kRefused},
      {"example.123", kRefused, kRefused},
      {"*.a*.1", kRefused, kRefused},
      // ...unless it is a glob over addresses.
      {"*.*.1", wildcard("*.*.1"), wildcard("*.*.1")},
      {"*.1.*.1", wildcard("*.1.*.1"), wildcard("*.1.*.1")},
      {"*.1.2.*.1", kRefused, kRefused},
      {".*.1", wildcard("*.*.1"), kRefused},
      {"*.example.*", wildcard("*.example.*"), wildcard("*.example.*")},
      {".*.example", wildcard("*.*.example"), kRefused},
  });
}

TEST(BypassEntryTest, BareHostsByDialect) {
  expect_entries({
      {"127.0.0.1", exact_v4(127, 0, 0, 1), exact_v4(127, 0, 0, 1)},
      {"10.1", exact_v4(10, 0, 0, 1), kRefused},  // Windows compares it as text
      {"0x7f.1", exact_v4(127, 0, 0, 1), kRefused},
      {"localhost", domain(".localhost", true), exact_name("localhost")},
      {"Intranet", domain(".intranet", true), exact_name("intranet")},
      {"EXAMPLE.COM:80", domain(".example.com", true, 80), exact_name("example.com", 80)},
      {"ex*le.com", wildcard("ex*le.com"), wildcard("ex*le.com")},
      {"**", wildcard("**"), wildcard("**")},
      {"*.example.com", domain(".example.com", false), domain(".example.com", false)},
      {".example.org", domain(".example.org", false), kRefused},
  });
}

TEST(BypassEntryTest, HelpersOnTheirOwn) {
  EXPECT_EQ(trim_windows_entry("\t\r\n\v\f example \t"), "example");
  EXPECT_EQ(trim_windows_entry("\u00a0example"), "\u00a0example");
  EXPECT_EQ(trim_entry("\u00a0\u3000example\u2029 ", kNoProxy), "example");
  EXPECT_EQ(trim_entry("\u00a0example", kWindows), "\u00a0example");

  EXPECT_FALSE(has_forbidden_host_char("*.xn--bcher-kva.example:80"));
  EXPECT_FALSE(has_forbidden_host_char("bücher\xff"));  // undecodable bytes are no character
  EXPECT_TRUE(has_forbidden_host_char("a\u009fb"));
  EXPECT_TRUE(has_forbidden_host_char("]"));

  EXPECT_EQ(wildcard_to_ascii("*.EXAMPLE.bücher"), "*.EXAMPLE.xn--bcher-kva");  // ASCII stays
  EXPECT_EQ(wildcard_to_ascii("*.bücher.example."), "*.xn--bcher-kva.example.");
  EXPECT_EQ(wildcard_to_ascii("ü*"), std::nullopt);
  EXPECT_EQ(wildcard_to_ascii("\xc3"), std::nullopt);
}

// ---- whole lists

TEST(BypassListTest, NoProxyStyle) {
  const BypassRules got = bypass::parse(
      " example.com , .example.org,*.example.net,,10.0.0.0/8, [::1]:8080, localhost", ",", kNoProxy);
  EXPECT_EQ(debug_text(got),
            "BypassRules { patterns: ["
            "Domain { suffix: \".example.com\", match_self: true, port: None }, "
            "Domain { suffix: \".example.org\", match_self: false, port: None }, "
            "Domain { suffix: \".example.net\", match_self: false, port: None }, "
            "Cidr(10.0.0.0/8), "
            "Exact { host: Ipv6(::1), port: Some(8080) }, "
            "Domain { suffix: \".localhost\", match_self: true, port: None }], "
            "exclude_simple_hostnames: false, reversed_exceptions: false, rejected: [], "
            "require_explicit_port: false, implicit: Broad, ipv4_mapped_as_ipv4: true, "
            "strip_trailing_dot: true }");
}

TEST(BypassListTest, WindowsStyle) {
  const BypassRules got = bypass::parse("*.example.com;intranet;<local>;10.*", "; ,\t\r\n", kWindows);
  EXPECT_EQ(debug_text(got),
            "BypassRules { patterns: ["
            "Domain { suffix: \".example.com\", match_self: false, port: None }, "
            "Exact { host: Domain(\"intranet\"), port: None }, Local, "
            "Wildcard { pattern: \"10.*\", port: None }], "
            "exclude_simple_hostnames: false, reversed_exceptions: false, rejected: [], "
            "require_explicit_port: false, implicit: WinInet, ipv4_mapped_as_ipv4: false, "
            "strip_trailing_dot: false }");
}

std::vector<std::string> texts(const std::vector<BypassRule>& rules) {
  std::vector<std::string> out;
  out.reserve(rules.size());
  for (const auto& r : rules) out.push_back(to_text(r));
  return out;
}

std::vector<std::string> inputs(const BypassRules& rules) {
  std::vector<std::string> out;
  for (const auto& r : rules.rejected) {
    EXPECT_EQ(r.kind, RejectedKind::InvalidBypassPattern);
    EXPECT_EQ(r.source, RejectedSource::bypass_list());
    EXPECT_EQ(r.scheme, std::nullopt);
    out.push_back(r.redacted_input);
  }
  return out;
}

TEST(BypassListTest, RefusedEntriesAreRecordedAsWrittenAndRedacted) {
  const std::string seps = "; ,\t\r\n";
  const BypassRules w = bypass::parse("10.0.0.0/8;.Example.com;ok;Example.COM.;10.1", seps, kWindows);
  EXPECT_EQ(texts(w.patterns), std::vector<std::string>{"ok"});
  EXPECT_EQ(inputs(w), (std::vector<std::string>{"10.0.0.0/8", ".Example.com", "Example.COM.", "10.1"}));

  const BypassRules n = bypass::parse("10.0.0.0/8,.Example.com,ok,Example.COM.,10.1", ",", kNoProxy);
  EXPECT_EQ(texts(n.patterns),
            (std::vector<std::string>{"10.0.0.0/8", ".example.com", "ok", "example.com", "10.0.0.1"}));
  EXPECT_TRUE(n.rejected.empty());

  // The trimmed entry, never lower-cased; a password never reaches the diagnostics, and a
  // text that may still hold one is withheld whole. A repeated refusal is kept once.
  const BypassRules r = bypass::parse(
      " HTTP://Proxy.Example ,User:Secret@Proxy,Host:Abc,a@b,a@b, [Example.com] ", ",", kNoProxy);
  EXPECT_TRUE(r.patterns.empty());
  EXPECT_EQ(inputs(r),
            (std::vector<std::string>{"HTTP://Proxy.Example", "User:***@Proxy",
                                      "<8 characters, withheld: it may hold a user:password fragment>", "a@b",
                                      "[Example.com]"}));
}

TEST(BypassListTest, SeparatorsAndTrimmingByDialect) {
  const std::string seps = "; ,\t\r\n";
  // Windows: every separator ends an entry, and only ASCII white space is trimmed.
  EXPECT_EQ(texts(bypass::parse("a b\tc\r\nd;e,f", seps, kWindows).patterns),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
  const BypassRules nbsp = bypass::parse("a\u00a0b;\u00a0c", seps, kWindows);
  EXPECT_TRUE(nbsp.patterns.empty());
  EXPECT_EQ(inputs(nbsp), (std::vector<std::string>{"a\u00a0b", "\u00a0c"}));
  EXPECT_EQ(texts(bypass::parse("\v\fa\v", seps, kWindows).patterns), std::vector<std::string>{"a"});

  // no_proxy: only ',' separates, Unicode white space is trimmed, inner white space refused.
  const BypassRules n = bypass::parse("\u3000a\u00a0,a b;c", ",", kNoProxy);
  EXPECT_EQ(texts(n.patterns), std::vector<std::string>{"a"});
  EXPECT_EQ(inputs(n), (std::vector<std::string>{"a b;c"}));
}

TEST(BypassListTest, EmptyListsKeepTheDialectsFlags) {
  struct Case {
    std::string text;
    BypassDialect dialect;
  };
  for (const Case& c : {Case{"", kNoProxy}, Case{",,,", kNoProxy}, Case{" , \u00a0, ", kNoProxy},
                        Case{"", kWindows}, Case{" ; ;\t\r\n,", kWindows}, Case{".;..;*.;*..", kWindows}}) {
    const BypassRules got = bypass::parse(c.text, c.dialect == kNoProxy ? "," : "; ,\t\r\n", c.dialect);
    BypassRules want;
    want.implicit = c.dialect == kNoProxy ? ImplicitBypass::Broad : ImplicitBypass::WinInet;
    want.ipv4_mapped_as_ipv4 = want.strip_trailing_dot = c.dialect == kNoProxy;
    EXPECT_EQ(got, want) << quoted(c.text) << ": " << debug_text(got);
  }
}

TEST(BypassListTest, DeduplicationKeepsTheFirstAndStopsAtLoopback) {
  struct Case {
    std::string text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"example.com, EXAMPLE.COM, example.com:80", {"example.com", "example.com:80"}},
      {"localhost, <-loopback>, localhost", {"localhost", "<-loopback>", "localhost"}},
      {"a, <-loopback>, <-loopback>, a, a, b, a", {"a", "<-loopback>", "<-loopback>", "a", "b"}},
      // Equal rules written differently.
      {"*.example.com, .example.com, .EXAMPLE.com.", {".example.com"}},
      {"10.0.0.0/8,10.0.0.0/8,10.0.0.1/8", {"10.0.0.0/8", "10.0.0.1/8"}},
      {"010.1.2.0/24, 8.1.2.0/24", {"8.1.2.0/24"}},
      {"[::1], ::1, 0:0::1, [::1]:80", {"[::1]", "[::1]:80"}},
      {"*, *, <local>, <LOCAL>, *:80", {"*", "<local>", "*:80"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(texts(bypass::parse(c.text, ",", kNoProxy).patterns), c.want) << c.text;
  }
  // On its own, on rules built by hand.
  std::vector<BypassRule> rules = {R{R::Local{}}, R{R::SubtractImplicit{}}, R{R::Local{}}, R{R::Local{}},
                                   R{R::All{}}};
  dedup_rules(rules);
  EXPECT_EQ(texts(rules), (std::vector<std::string>{"<local>", "<-loopback>", "<local>", "*"}));
}

// ---- rule text

TEST(BypassRuleTextTest, Forms) {
  struct Case {
    BypassRule rule;
    std::string want;
  };
  const auto v6 = [](std::array<std::uint16_t, 8> s) { return Ipv6Addr::from_segments(s); };
  const Case cases[] = {
      {R{R::All{}}, "*"},
      {R{R::Local{}}, "<local>"},
      {R{R::SubtractImplicit{}}, "<-loopback>"},
      {R{R::Cidr{{IpAddr{Ipv4Addr{{10, 0, 0, 0}}}, 8}}}, "10.0.0.0/8"},
      {R{R::Cidr{{IpAddr{v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1})}, 128}}}, "2001:db8::1/128"},
      {R{R::Cidr{{IpAddr{v6({0, 0, 0, 0, 0, 0xffff, 0x0a00, 0})}, 104}}}, "::ffff:10.0.0.0/104"},
      {R{R::Exact{Host{v6({0, 0, 0, 0, 0, 0, 0, 1})}, 8080}}, "[::1]:8080"},
      {R{R::Exact{Host{v6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1})}, {}}}, "[2001:db8::1:0:0:1]"},
      // The host as a URL writes it.
      {R{R::Exact{Host{v6({0, 0, 0, 0, 0, 0xffff, 0x7f00, 1})}, {}}}, "[::ffff:127.0.0.1]"},
      {R{R::Exact{Host{Ipv4Addr{{10, 0, 0, 1}}}, 80}}, "10.0.0.1:80"},
      {R{R::Exact{Host::domain("intranet"), {}}}, "intranet"},
      {R{R::Exact{Host::domain("intranet"), 0}}, "intranet:0"},
      {R{R::Domain{".example.com", true, {}}}, "example.com"},
      {R{R::Domain{".example.com", false, {}}}, ".example.com"},
      {R{R::Domain{".example.com", true, 443}}, "example.com:443"},
      {R{R::Domain{"example.com", true, {}}}, "example.com"},
      {R{R::Domain{"example.com", false, 80}}, ".example.com:80"},
      {R{R::Domain{"", false, {}}}, "."},
      {R{R::Domain{"", true, {}}}, ""},
      {R{R::Wildcard{"*.example.*", {}}}, "*.example.*"},
      {R{R::Wildcard{"*", 80}}, "*:80"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_text(c.rule), c.want) << debug_text(c.rule);
}

// The text of every rule the no_proxy parser makes reads back as the same rule.
TEST(BypassRuleTextTest, ReadsBackAsTheSameRule) {
  const std::string list =
      "example.com, .example.org:81, *.example.net, 10.0.0.0/8, 010.1.2.0/24, fe80::1/64, "
      "[::1]:8080, ::ffff:127.0.0.1, 10.1, *:80, *.*.1, bücher.example, <local>, "
      "<-loopback>, *, 10.*:443, .*.example";
  const BypassRules rules = bypass::parse(list, ",", kNoProxy);
  ASSERT_EQ(rules.patterns.size(), 17u);
  for (const BypassRule& rule : rules.patterns) {
    EXPECT_EQ(text_of(parse_entry(to_text(rule), kNoProxy)), debug_text(rule)) << to_text(rule);
  }
}

// ---- hostile input

bool is_lower_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && !(c >= 'A' && c <= 'Z');
  });
}

void expect_sound(const BypassRules& rules) {
  for (const BypassRule& rule : rules.patterns) {
    std::visit(
        [&](const auto& r) {
          using T = std::decay_t<decltype(r)>;
          if constexpr (std::is_same_v<T, R::Exact>) {
            if (const auto* d = r.host.as_domain()) {
              EXPECT_TRUE(is_lower_ascii(*d)) << *d;
            }
          } else if constexpr (std::is_same_v<T, R::Domain>) {
            EXPECT_TRUE(r.suffix.starts_with('.') && is_lower_ascii(r.suffix)) << r.suffix;
          } else if constexpr (std::is_same_v<T, R::Wildcard>) {
            EXPECT_TRUE(r.pattern.find('*') != std::string::npos && is_lower_ascii(r.pattern)) << r.pattern;
          }
        },
        rule.value);
  }
  for (const RejectedValue& r : rules.rejected) {
    EXPECT_EQ(r.redacted_input.find("secret"), std::string::npos) << r.redacted_input;
  }
}

TEST(BypassHostileTest, LongListsAndManySeparators) {
  std::string list;
  for (int i = 0; i < 20000; ++i) {
    list += "h" + std::to_string(i % 500) + ".example,";
    list += i % 7 == 0 ? "u:secret@x," : ",,";
  }
  const BypassRules n = bypass::parse(list, ",", kNoProxy);
  EXPECT_EQ(n.patterns.size(), 500u);                         // repeats dropped
  EXPECT_EQ(inputs(n), std::vector<std::string>{"u:***@x"});  // 2858 refusals, one text
  expect_sound(n);

  const BypassRules w = bypass::parse(std::string(1 << 20, ';'), "; ,\t\r\n", kWindows);
  EXPECT_TRUE(w.patterns.empty());
  EXPECT_TRUE(w.rejected.empty());

  // One huge entry, and one of very many labels that each need converting.
  EXPECT_EQ(bypass::parse(std::string(1 << 20, 'a'), ",", kNoProxy).patterns.size(), 1u);
  std::string labels;
  for (int i = 0; i < 5000; ++i) labels += "ü.";
  expect_sound(bypass::parse(labels + "example", ",", kNoProxy));
  expect_sound(bypass::parse(std::string(100000, '*') + "ü", ",", kNoProxy));
}

TEST(BypassHostileTest, RandomBytesNeverBreakTheParser) {
  // The last piece is empty and stands for a NUL byte (see below).
  const std::string alphabet[] = {"a",      "Z",      "0",      "1",  ".", "*",  ":",    "/",    "[",    "]",
                                  "@",      "%",      ",",      ";",  " ", "\t", "\xff", "\xc3", "\xa4", "ü",
                                  "\u00a0", "\u3000", "\u00ad", "１", "<", ">",  "-",    "x",    "n",    ""};
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const std::string& piece = alphabet[random() % std::size(alphabet)];
      text += piece.empty() ? std::string(1, '\0') : piece;
    }
    for (BypassDialect dialect : {kNoProxy, kWindows}) {
      const BypassRules rules = bypass::parse(text, dialect == kNoProxy ? "," : "; ,\t\r\n", dialect);
      expect_sound(rules);
      for (const BypassRule& rule : rules.patterns) (void)to_text(rule);
    }
  }
}

// Repeats are dropped as the list is read, refusals too, each kept once where it first stood;
// a "<-loopback>" still separates equal rules.
TEST(BypassListTest, RepeatsAreKeptOnce) {
  const BypassRules n =
      bypass::parse("a b,c,a b,x@y,<-loopback>,c,x@y,a b,c", ",", BypassDialect::NoProxyStyle);
  EXPECT_EQ(texts(n.patterns), (std::vector<std::string>{"c", "<-loopback>", "c"}));
  EXPECT_EQ(inputs(n), (std::vector<std::string>{"a b", "x@y"}));
}

}  // namespace
}  // namespace zelvane::bypass
