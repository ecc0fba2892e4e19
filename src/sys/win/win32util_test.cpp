#include "sys/win/win32util.hpp"

#include <gtest/gtest.h>

#include <variant>

#include "sys/win/sim/fixture.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

using sim::Op;

std::u16string units(std::initializer_list<char16_t> list) { return std::u16string(list); }

std::optional<std::int32_t> os_code(const Error& error) {
  const auto source = error.source();
  if (!source) return std::nullopt;
  const auto* os = std::get_if<OsError>(&*source);
  return os != nullptr ? os->code : std::nullopt;
}

TEST(Utf16, DecodesPairsAndReplacesEachUnpairedSurrogate) {
  struct Case {
    std::u16string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {u"", ""},
      {u"proxy:8080", "proxy:8080"},
      {u"caf\u00e9 \u4e2d", "caf\u00e9 \u4e2d"},
      {u"\U0001F600", "\U0001F600"},
      {units({0xD83D}), "\uFFFD"},
      {units({0xDE00}), "\uFFFD"},
      {units({0xDE00, 0xD83D}), "\uFFFD\uFFFD"},
      {units({u'a', 0xD83D, u'b'}), "a\uFFFDb"},
      {units({0xD83D, 0xD83D, 0xDE00}), "\uFFFD\U0001F600"},
  };
  for (const Case& c : cases) EXPECT_EQ(utf16_to_utf8(c.input), c.expected) << "case " << c.expected;
}

TEST(Utf16, EncodesUtf8AndReplacesEachMaximalInvalidSequence) {
  struct Case {
    std::string input;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"Software\\Microsoft", u"Software\\Microsoft"},
      {"\u00e9\u4e2d\U0001F600", u"\u00e9\u4e2d\U0001F600"},
      {"a\xFF", u"a\uFFFD"},
      {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong NUL
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xE4\xB8", u"\uFFFD"},                            // a valid start cut short
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(utf8_to_utf16(c.input), c.expected) << "case " << c.input;
}

TEST(WideText, IsCutAtTheFirstNul) {
  EXPECT_EQ(wide_until_nul(std::u16string_view(u"ab\0cd", 5)), u"ab");
  EXPECT_EQ(wide_until_nul(std::u16string_view(u"\0ab", 3)), u"");
  EXPECT_EQ(wide_until_nul(u"abc"), u"abc");

  EXPECT_EQ(wide_to_string(std::nullopt), std::nullopt) << "a null pointer is no text";
  EXPECT_EQ(wide_to_string(u""), std::optional<std::string>(""));
  EXPECT_EQ(wide_to_string(std::u16string(u"p:80\0junk", 9)), std::optional<std::string>("p:80"));
  EXPECT_EQ(wide_to_string(units({u'p', 0xDC00})), std::optional<std::string>("p\uFFFD"));
}

TEST(RegistryText, ReadsLittleEndianUnitsUpToTheFirstNul) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> data;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"empty", {}, ""},
      {"terminated", {'h', 0, 'i', 0, 0, 0}, "hi"},
      {"unterminated", {'h', 0, 'i', 0}, "hi"},
      {"cut at a NUL inside", {'a', 0, 0, 0, 'b', 0}, "a"},
      {"NUL first", {0, 0, 'a', 0}, ""},
      {"a trailing odd byte is ignored", {'a', 0, 'b'}, "a"},
      {"one odd byte", {'a'}, ""},
      {"little-endian", {0x2D, 0x4E}, "\u4e2d"},
      {"a pair", {0x3D, 0xD8, 0x00, 0xDE}, "\U0001F600"},
      {"an unpaired surrogate", {'a', 0, 0x3D, 0xD8, 'b', 0}, "a\uFFFDb"},
      {"not expanded", {'%', 0, 'T', 0, '%', 0}, "%T%"},
  };
  for (const Case& c : cases) {
    std::vector<std::byte> data;
    for (std::uint8_t b : c.data) data.push_back(std::byte{b});
    EXPECT_EQ(string_from_registry_data(data), c.expected) << c.what;
  }
}

TEST(Hresult, MapsPositiveCodesAndKeepsTheRest) {
  struct Case {
    std::uint32_t last_error;
    std::uint32_t hresult;
  };
  const std::vector<Case> cases = {
      {0, 0},
      {2, 0x80070002},
      {5, 0x80070005},
      {1018, 0x800703FA},
      {0x12345, 0x80072345},  // only the low 16 bits survive
      {0x7FFFFFFF, 0x8007FFFF},
      {0x80070005, 0x80070005},  // already an HRESULT
      {0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(hresult_from_win32(c.last_error)), c.hresult) << c.last_error;
  }
}

TEST(IoErrors, CarryTheirContextAsMessageAndTheCodeAsSource) {
  const Error win32 = io_error_from_win32("opening HKCU Internet Settings key", 5);
  ASSERT_NE(win32.get_if<Error::Io>(), nullptr);
  EXPECT_EQ(win32.message(), "opening HKCU Internet Settings key");
  EXPECT_EQ(os_code(win32), 5);

  const Error hresult = io_error_from_hresult("waiting for registry change notifications",
                                              std::bit_cast<std::int32_t>(0x80070006u));
  EXPECT_EQ(hresult.message(), "waiting for registry change notifications");
  EXPECT_EQ(os_code(hresult), std::bit_cast<std::int32_t>(0x80070006u));
}

class EventUtilities : public sim::SimTest {};

TEST_F(EventUtilities, CreateEventMakesAClearEventOfTheAskedKind) {
  auto manual = create_event(platform(), true, "creating the zelvane shutdown event");
  auto automatic = create_event(platform(), false, "creating a registry notification event");
  ASSERT_TRUE(manual.has_value() && automatic.has_value());
  for (Handle h : {manual->get(), automatic->get()}) {
    EXPECT_EQ(platform().wait_one(h, 0).code, kWaitTimeout);
    platform().set_event(h);
    EXPECT_EQ(platform().wait_one(h, 0).code, kWaitObject0);
  }
  EXPECT_EQ(platform().wait_one(manual->get(), 0).code, kWaitObject0);
  EXPECT_EQ(platform().wait_one(automatic->get(), 0).code, kWaitTimeout);
  EXPECT_EQ(control().live_handles(), 2u);
}

TEST_F(EventUtilities, AFailedCreationIsIoWithTheHresultOfTheLastError) {
  struct Case {
    std::uint32_t last_error;
    std::int32_t code;
  };
  for (const Case c : {Case{5, std::bit_cast<std::int32_t>(0x80070005u)}, Case{0, 0},
                       Case{0x8007000E, std::bit_cast<std::int32_t>(0x8007000Eu)}}) {
    control().fail_next(Op::CreateEvent, "", c.last_error);
    const auto event = create_event(platform(), true, "creating the PAC resolution completion event");
    ASSERT_FALSE(event.has_value());
    EXPECT_EQ(event.error().message(), "creating the PAC resolution completion event");
    EXPECT_EQ(os_code(event.error()), c.code) << "last error " << c.last_error;
  }
}

TEST_F(EventUtilities, AGuardClosesItsHandleOnceWhereverItEnds) {
  {
    auto event = create_event(platform(), false, "x");
    ASSERT_TRUE(event.has_value());
    HandleGuard moved = std::move(*event);
    HandleGuard assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved);
    EXPECT_TRUE(assigned);
    assigned.release();
    assigned.release();
    EXPECT_FALSE(assigned);
  }
  EXPECT_EQ(calls(Op::CloseHandle).size(), 1u);
}

TEST_F(EventUtilities, AFailingCloseIsIgnored) {
  auto event = create_event(platform(), true, "x");
  ASSERT_TRUE(event.has_value());
  control().fail_next(Op::CloseHandle, "", kErrorInvalidHandle);
  event->release();
  EXPECT_FALSE(*event);
  ASSERT_EQ(calls(Op::CloseHandle).size(), 1u);
  EXPECT_TRUE(calls(Op::CloseHandle)[0].injected);
}

}  // namespace
}  // namespace zelvane::sys::win
