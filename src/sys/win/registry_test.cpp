#include "sys/win/registry.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <variant>

#include "sys/win/sim/fixture.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

using sim::Op;
using sim::Root;

const std::string kInternetSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::optional<std::int32_t> os_code(const Error& error) {
  const auto source = error.source();
  if (!source || !error.get_if<Error::Io>()) return std::nullopt;
  return std::get<OsError>(*source).code;
}

template <class T>
std::optional<Error> error_of(const Result<T>& result) {
  if (result) return std::nullopt;
  return result.error();
}

std::vector<std::uint8_t> bytes_of(const std::vector<std::byte>& data) {
  std::vector<std::uint8_t> out;
  for (std::byte b : data) out.push_back(std::to_integer<std::uint8_t>(b));
  return out;
}

class RegKeyTest : public sim::SimTest {
 protected:
  RegKey open(KeyHandle root = kHkeyCurrentUser, const std::string& path = kInternetSettings) {
    auto key = RegKey::open(platform(), root, path, kKeyRead, "opening a key the test made");
    EXPECT_TRUE(key.has_value() && key->has_value());
    return std::move(**key);
  }
  void set(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    control().set_value(Root::CurrentUser, kInternetSettings, name, type, std::move(data));
  }

  template <class T>
  struct ReadCase {
    const char* what;  // also the value's name
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::optional<T> expected;
  };
  template <class T>
  void expect_reads(Result<std::optional<T>> (RegKey::*read)(std::string_view) const,
                    const std::vector<ReadCase<T>>& cases) {
    for (const auto& c : cases) set(c.what, c.type, c.data);
    const RegKey key = open();
    for (const auto& c : cases) {
      const auto value = (key.*read)(c.what);
      ASSERT_TRUE(value.has_value()) << c.what;
      EXPECT_EQ(*value, c.expected) << c.what;
    }
    EXPECT_EQ((key.*read)("Absent").value(), std::nullopt);
  }
};

// ---- opening

TEST_F(RegKeyTest, OpenGivesTheKeyWithTheTextOfItsRootAndPath) {
  control().create_key(Root::CurrentUser, kInternetSettings);
  control().create_key(Root::LocalMachine, kInternetSettings);
  RegKey parent = open(kHkeyCurrentUser, "Software\\Microsoft");
  struct Case {
    KeyHandle root;
    std::string path;
    std::string_view root_text;
  };
  const std::vector<Case> cases = {
      {kHkeyCurrentUser, kInternetSettings, "HKCU"},
      {kHkeyLocalMachine, kInternetSettings, "HKLM"},
      {parent.hkey(), "Windows\\CurrentVersion\\Internet Settings", "HKEY"},
  };
  for (const Case& c : cases) {
    RegKey key = open(c.root, c.path);
    EXPECT_EQ(key.root(), c.root_text);
    EXPECT_EQ(key.path(), c.path);
    EXPECT_TRUE(key.hkey());
  }
}

TEST_F(RegKeyTest, OpenAnswersNoneForAMissingKeyAndIoForAnyOtherFailure) {
  control().create_key(Root::CurrentUser, kInternetSettings);
  const std::string context = "opening HKCU Internet Settings key";
  struct Case {
    const char* what;
    std::string path;
    std::optional<std::uint32_t> injected;
    std::optional<std::uint32_t> io_code;  // none: the key does not exist
  };
  const std::vector<Case> cases = {
      {"missing", kInternetSettings + "\\Missing", std::nullopt, std::nullopt},
      {"missing, as answered", kInternetSettings, kErrorFileNotFound, std::nullopt},
      {"access denied", kInternetSettings, kErrorAccessDenied, kErrorAccessDenied},
      {"bad path", "\\" + kInternetSettings, std::nullopt, kErrorBadPathname},
      {"more data is no success", kInternetSettings, kErrorMoreData, kErrorMoreData},
  };
  for (const Case& c : cases) {
    if (c.injected) control().fail_next(Op::RegOpenKey, "", *c.injected);
    const auto key = RegKey::open(platform(), kHkeyCurrentUser, c.path, kKeyRead, context);
    if (c.io_code) {
      ASSERT_FALSE(key.has_value()) << c.what;
      EXPECT_EQ(key.error().message(), context) << c.what;
      EXPECT_EQ(os_code(key.error()), static_cast<std::int32_t>(*c.io_code)) << c.what;
    } else {
      ASSERT_TRUE(key.has_value()) << c.what;
      EXPECT_FALSE(key->has_value()) << c.what;
    }
  }
}

TEST_F(RegKeyTest, AKeyIsClosedOnceWhereverItEnds) {
  control().create_key(Root::CurrentUser, kInternetSettings);
  {
    RegKey key = open();
    RegKey moved = std::move(key);
    RegKey assigned = open();
    assigned = std::move(moved);  // closes the key it held
    EXPECT_EQ(control().live_keys(), 1u);
    assigned.release();
    assigned.release();
    EXPECT_FALSE(assigned.hkey());
  }
  EXPECT_EQ(calls(Op::RegCloseKey).size(), 2u);

  RegKey failing = open();
  control().fail_next(Op::RegCloseKey, "", kErrorInvalidHandle);
  failing.release();  // the status is ignored
  EXPECT_TRUE(calls(Op::RegCloseKey).back().injected);
}

// ---- reading values

TEST_F(RegKeyTest, AValueIsReadIntoExactlyTheSizeTheSystemReported) {
  set("ProxyServer", kRegSz, {'p', 0, ':', 0, '1', 0, 0, 0});
  set("Empty", kRegBinary, {});
  const RegKey key = open();
  struct Case {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  for (const Case& c :
       {Case{"ProxyServer", kRegSz, {'p', 0, ':', 0, '1', 0, 0, 0}}, Case{"Empty", kRegBinary, {}}}) {
    control().clear_log();
    const auto value = key.query_value(c.name);
    ASSERT_TRUE(value.has_value() && value->has_value()) << c.name;
    EXPECT_EQ((*value)->value_type, c.type);
    EXPECT_EQ(bytes_of((*value)->data), c.data);
    const auto queries = calls(Op::RegQueryValue);
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(queries[0].buffer, std::nullopt) << "first the size question";
    EXPECT_EQ(queries[1].buffer, c.data.size()) << "then a buffer of exactly that size, even an empty one";
    EXPECT_EQ(queries[1].value, c.name);
  }
}

TEST_F(RegKeyTest, AMissingValueIsNone) {
  control().create_key(Root::CurrentUser, kInternetSettings);
  set("ProxyEnable", kRegDword, {1, 0, 0, 0});
  const RegKey key = open();
  EXPECT_EQ(key.query_value("AutoConfigURL").value(), std::nullopt);
  // Gone between the size question and the read.
  control().fail_next({Op::RegQueryValue, "", "ProxyEnable", kErrorFileNotFound, 2});
  EXPECT_EQ(key.query_value("ProxyEnable").value(), std::nullopt);
}

TEST_F(RegKeyTest, AValueThatGrewIsAskedAgainUpToThreeReads) {
  set("ProxyOverride", kRegSz, {'a', 0, 0, 0});
  const RegKey key = open();
  struct Case {
    int grown_reads;  // reads answered ERROR_MORE_DATA
    bool read;
    std::size_t calls;
  };
  for (const Case c : {Case{1, true, 4}, Case{2, true, 6}, Case{3, false, 6}}) {
    control().clear_log();
    for (int i = 0; i < c.grown_reads; ++i) {
      // Every second call is a read: calls 2, 4 and 6.
      control().fail_next(
          {Op::RegQueryValue, "", "ProxyOverride", kErrorMoreData, 2 + 2 * static_cast<std::uint32_t>(i)});
    }
    const auto value = key.query_value("ProxyOverride");
    EXPECT_EQ(calls(Op::RegQueryValue).size(), c.calls) << c.grown_reads;
    if (c.read) {
      ASSERT_TRUE(value.has_value() && value->has_value()) << c.grown_reads;
      EXPECT_EQ(bytes_of((*value)->data), (std::vector<std::uint8_t>{'a', 0, 0, 0}));
    } else {
      ASSERT_FALSE(value.has_value());
      EXPECT_EQ(value.error().message(),
                "reading registry value ProxyOverride under HKCU\\" + kInternetSettings);
      EXPECT_EQ(os_code(value.error()), static_cast<std::int32_t>(kErrorMoreData));
    }
  }
}

TEST_F(RegKeyTest, AValueThatReallyGrewIsReadWhole) {
  set("ProxyServer", kRegSz, {'a', 0, 0, 0});
  const RegKey key = open();
  // The size question saw 4 bytes; the value grows before the read.
  std::uint32_t type = 0, size = 0;
  ASSERT_EQ(platform().reg_query_value(key.hkey(), u"ProxyServer", type, nullptr, size), kErrorSuccess);
  set("ProxyServer", kRegSz, {'a', 0, 'b', 0, 0, 0});
  std::byte buffer[4];
  EXPECT_EQ(platform().reg_query_value(key.hkey(), u"ProxyServer", type, buffer, size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  const auto value = key.query_value("ProxyServer");
  ASSERT_TRUE(value.has_value() && value->has_value());
  EXPECT_EQ((*value)->data.size(), 6u);
}

TEST_F(RegKeyTest, AFailureOfEitherCallNamesTheValueAndTheKey) {
  control().create_key(Root::LocalMachine, kInternetSettings);
  control().set_dword(Root::CurrentUser, kInternetSettings, "ProxyEnable", 1);
  RegKey parent = open(kHkeyCurrentUser, "Software\\Microsoft");
  const RegKey hkcu = open();
  const RegKey hklm = open(kHkeyLocalMachine);
  const RegKey relative = open(parent.hkey(), "Windows\\CurrentVersion\\Internet Settings");
  struct Case {
    const RegKey& key;
    std::uint32_t nth;  // 1: the size question, 2: the read
    std::uint32_t status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {hkcu, 1, kErrorAccessDenied, "reading registry value ProxyEnable under HKCU\\" + kInternetSettings},
      {hkcu, 2, kErrorInvalidHandle, "reading registry value ProxyEnable under HKCU\\" + kInternetSettings},
      {hklm, 1, kErrorKeyDeleted, "reading registry value ProxyEnable under HKLM\\" + kInternetSettings},
      {relative, 2, kErrorAccessDenied,
       "reading registry value ProxyEnable under HKEY\\Windows\\CurrentVersion\\Internet Settings"},
  };
  // Each of the three readers goes through the same query.
  const std::vector<std::function<std::optional<Error>(const RegKey&)>> readers = {
      [](const RegKey& k) { return error_of(k.query_value("ProxyEnable")); },
      [](const RegKey& k) { return error_of(k.read_dword("ProxyEnable")); },
      [](const RegKey& k) { return error_of(k.read_string("ProxyEnable")); },
  };
  for (const Case& c : cases) {
    for (const auto& read : readers) {
      control().fail_next({Op::RegQueryValue, "", "ProxyEnable", c.status, c.nth});
      const std::optional<Error> error = read(c.key);
      ASSERT_TRUE(error.has_value()) << c.message;
      EXPECT_EQ(error->message(), c.message);
      EXPECT_EQ(os_code(*error), static_cast<std::int32_t>(c.status)) << c.message;
    }
  }
}

TEST_F(RegKeyTest, AKeyDeletedWhileOpenFailsItsReads) {
  set("ProxyEnable", kRegDword, {1, 0, 0, 0});
  const RegKey key = open();
  control().delete_key(Root::CurrentUser, "Software\\Microsoft");
  const auto value = key.read_dword("ProxyEnable");
  ASSERT_FALSE(value.has_value());
  EXPECT_EQ(os_code(value.error()), static_cast<std::int32_t>(kErrorKeyDeleted));
}

TEST_F(RegKeyTest, ReadDwordTakesTheFirstFourBytesOfADword) {
  expect_reads<std::uint32_t>(&RegKey::read_dword,
                              {
                                  {"one", kRegDword, {1, 0, 0, 0}, 1},
                                  {"little-endian", kRegDword, {0x04, 0x03, 0x02, 0x01}, 0x01020304},
                                  {"longer than four bytes", kRegDword, {2, 0, 0, 0, 9, 9}, 2},
                                  {"short", kRegDword, {1, 0, 0}, std::nullopt},
                                  {"empty", kRegDword, {}, std::nullopt},
                                  {"text \"1\"", kRegSz, {'1', 0, 0, 0}, std::nullopt},
                                  {"big-endian DWORD", kRegDwordBigEndian, {0, 0, 0, 1}, std::nullopt},
                                  {"binary", kRegBinary, {1, 0, 0, 0}, std::nullopt},
                              });
}

TEST_F(RegKeyTest, ReadStringDecodesTextValuesOnly) {
  expect_reads<std::string>(
      &RegKey::read_string,
      {
          {"plain", kRegSz, {'p', 0, ':', 0, '8', 0, 0, 0}, "p:8"},
          {"expandable, taken literally", kRegExpandSz, {'%', 0, 'X', 0, '%', 0, 0, 0}, "%X%"},
          {"cut at a NUL inside", kRegSz, {'a', 0, 0, 0, 'b', 0, 0, 0}, "a"},
          {"one odd byte", kRegSz, {'a'}, ""},
          {"a trailing odd byte", kRegSz, {'a', 0, 'b'}, "a"},
          {"empty", kRegSz, {}, ""},
          {"NUL first", kRegSz, {0, 0, 'a', 0}, ""},
          {"unpaired surrogate", kRegSz, {0x00, 0xDC, 'x', 0}, "\uFFFDx"},
          {"DWORD", kRegDword, {1, 0, 0, 0}, std::nullopt},
          {"multi-string", kRegMultiSz, {'a', 0, 0, 0, 0, 0}, std::nullopt},
          {"binary", kRegBinary, {'a', 0}, std::nullopt},
      });
}

}  // namespace
}  // namespace zelvane::sys::win
