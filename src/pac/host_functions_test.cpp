// The host functions as a script sees them: argument conversion, results, policy and
// resolver. The bodies themselves are tested in pac/hostfn.
#include "pac/host_functions.hpp"

#include <gtest/gtest.h>

#include <string>

#include "model/test_print.hpp"
#include "pac/quickjs.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {
namespace {

using model::Error;
using value::debug_text;
using value::IpAddr;
using value::Ipv4Addr;
using value::WallTime;

constexpr std::string_view kFailed = "FindProxyForURL failed: ";

// The text of a script expression, carried out of the evaluation as a thrown string.
std::string probe(std::string_view expression, const hostfn::PacPolicy& policy = {},
                  hostfn::Resolver& resolver = hostfn::system_resolver()) {
  const std::string script =
      "function FindProxyForURL(url, host) { throw String(" + std::string(expression) + "); }";
  const auto result =
      evaluate_pac_quickjs(script, "http://example.com/", "example.com", policy, std::nullopt, resolver);
  if (result) return "<success>";
  const auto* e = result.error().get_if<Error::PacEvaluation>();
  if (e == nullptr || !e->reason.starts_with(kFailed)) return "<" + debug_text(result.error()) + ">";
  return e->reason.substr(kFailed.size());
}

// A function of the script that runs `body` and answers its return value.
std::string iife(std::string_view body) { return "(function () {" + std::string(body) + "})()"; }

TEST(HostFunctionBindingTest, ArgumentsAreConvertedByPosition) {
  struct Case {
    std::string expression;
    std::string want;
  };
  const Case cases[] = {
      // An absent argument is the empty text; an explicit undefined is the text undefined.
      {"isPlainHostName()", "true"},
      {"dnsDomainLevels()", "0"},
      {"dnsDomainIs('host.example')", "true"},
      {"dnsDomainIs(undefined, 'ned')", "true"},
      {"dnsDomainIs(null, 'ull')", "true"},
      {"dnsDomainIs(true, 'rue')", "true"},
      {"dnsDomainLevels(1.5)", "1"},
      {"dnsDomainLevels(1e21)", "0"},
      {"dnsDomainLevels({ toString() { return 'a.b.c'; } })", "2"},
      {"dnsDomainLevels({ valueOf() { return 1; }, toString() { return 'a.b'; } })", "1"},
      {"dnsDomainLevels([1, 2, 3])", "0"},
      // Surplus arguments are never converted.
      {"isPlainHostName('a', Symbol())", "true"},
      {"myIpAddress(Symbol())", "127.0.0.1"},
      // Conversions run in order and the first that throws ends the call.
      {iife("var log = [];"
            "try { dnsDomainIs({ toString() { log.push(1); throw 'first'; } },"
            "                  { toString() { log.push(2); return ''; } }); }"
            "catch (e) { log.push(e); }"
            "return log.join();"),
       "1,first"},
      {iife("try { isPlainHostName(Symbol()); return 'no exception'; }"
            "catch (e) { return e instanceof TypeError; }"),
       "true"},
      {iife("try { shExpMatch('a', '\\uD800'); return 'no exception'; }"
            "catch (e) { return e instanceof TypeError && e.message; }"),
       "shExpMatch: argument 2 holds an unpaired surrogate, which has no UTF-8 form"},
      {iife("try { alert({ toString() { throw 'from alert'; } }); } catch (e) { return e; }"), "from alert"},
      // A paired surrogate is one character of valid text.
      {"shExpMatch('a\\uD83D\\uDE00', 'a?')", "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(probe(c.expression), c.want) << c.expression;
}

TEST(HostFunctionBindingTest, ClockFunctionsTakeAtMostSevenArguments) {
  for (const std::string name : {"weekdayRange", "dateRange", "timeRange"}) {
    // One call: its value and how many arguments it converted.
    auto with = [&](std::string_view args) {
      return probe(
          iife("var n = 0; var o = { toString() { n++; return 'MON'; } };"
               "var r = " +
               name + "(" + std::string(args) + "); return typeof r + ':' + r + ':' + n;"));
    };
    EXPECT_EQ(with("o, o, o, o, o, o, o, o"), "boolean:false:0") << name;
    EXPECT_EQ(with("o, o, o, o, o, o, o"), "boolean:false:7") << name;
    EXPECT_EQ(with(""), "boolean:false:0") << name;
    EXPECT_EQ(
        probe(iife("try { " + name + "('MON', Symbol()); } catch (e) { return e instanceof TypeError; }")),
        "true")
        << name;
  }
}

TEST(HostFunctionBindingTest, ResultsComeBackAsScriptValues) {
  struct Case {
    std::string expression;
    std::string want;
  };
  const Case cases[] = {
      {"typeof isPlainHostName('a') + ' ' + isPlainHostName('a')", "boolean true"},
      {"typeof dnsDomainLevels('a.b') + ' ' + dnsDomainLevels('a.b')", "number 1"},
      {"typeof convert_addr('192.168.0.1') + ' ' + convert_addr('192.168.0.1')", "number -1062731775"},
      {"convert_addr('10.0.0.1')", "167772161"},
      {"dnsResolve('example.com') === null", "true"},
      {"typeof dnsResolve(' 10.1.2.3 ') + ' ' + dnsResolve(' 10.1.2.3 ')", "string 10.1.2.3"},
      {"typeof myIpAddress() + ' ' + myIpAddress()", "string 127.0.0.1"},
      {"alert('x') === undefined", "true"},
      {"isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0')", "true"},
      {"isResolvable('[::1]')", "true"},
      {"localHostOrDomainIs('web', 'web.example.com')", "true"},
      {"shExpMatch('web.example.com', '*.example.com')", "true"},
      {"typeof weekdayRange('MON') + typeof dateRange(1) + typeof timeRange(12)", "booleanbooleanboolean"},
      {"isPlainHostName.name + ' ' + convert_addr.name", "isPlainHostName convert_addr"},
  };
  for (const Case& c : cases) EXPECT_EQ(probe(c.expression), c.want) << c.expression;
}

TEST(HostFunctionBindingTest, EachEvaluationSeesItsOwnPolicyAndResolver) {
  hostfn::ScriptedResolver resolver(
      {{"intranet.example", {IpAddr{Ipv4Addr{{10, 0, 0, 7}}}, IpAddr{Ipv4Addr{{93, 184, 216, 34}}}}}});
  hostfn::PacPolicy resolving;
  resolving.resolve_dns = true;
  EXPECT_EQ(probe("dnsResolve('intranet.example')", resolving, resolver), "93.184.216.34");
  EXPECT_EQ(probe("isResolvable('intranet.example')", resolving, resolver), "true");
  EXPECT_EQ(probe("isInNet('intranet.example', '93.184.216.0', '255.255.255.0')", resolving, resolver),
            "true");
  resolving.allow_internal_addresses = true;
  EXPECT_EQ(probe("dnsResolve('intranet.example')", resolving, resolver), "10.0.0.7");
  EXPECT_EQ(resolver.asked().size(), 4u);

  // Without resolve_dns nothing is asked.
  hostfn::ScriptedResolver silent({{"intranet.example", {IpAddr{Ipv4Addr{{93, 184, 216, 34}}}}}});
  EXPECT_EQ(probe("dnsResolve('intranet.example') + ' ' + isResolvable('intranet.example')", {}, silent),
            "null false");
  EXPECT_TRUE(silent.asked().empty());

  hostfn::PacPolicy addressed;
  addressed.my_ip_address = IpAddr{Ipv4Addr{{192, 0, 2, 1}}};
  EXPECT_EQ(probe("myIpAddress()", addressed), "192.0.2.1");
  EXPECT_EQ(probe("myIpAddress()"), "127.0.0.1");

  // A fixed clock: 2020-06-15 12:30:00 UTC, a Monday, two hours east.
  hostfn::PacPolicy clocked;
  clocked.now = WallTime{(1592224200LL + 11644473600LL) * 10'000'000LL};
  clocked.local_utc_offset = 7200;
  EXPECT_EQ(probe("[weekdayRange('MON'), dateRange(15, 'JUN', 2020, 15, 'JUN', 2020), timeRange(14),"
                  " timeRange(12, 'GMT')].join()",
                  clocked),
            "true,true,true,true");
}

}  // namespace
}  // namespace zelvane::pac
