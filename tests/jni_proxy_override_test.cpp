// The proxy override of LuService.init: the first 255 bytes of the file, as
// they are, become "proxy"; a missing, empty or NUL-led file leaves the
// environment alone; the result is always 0.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "jni/proxy_override.h"
#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::TempDir;

std::optional<std::string> proxyVariable() {
  const char* value = getenv("proxy");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// Sets "proxy" to inherited (or unsets it), then applies a file with
// content (or no file when content is absent) and returns the variable.
std::optional<std::string> applyTo(
    const std::optional<std::string>& content,
    const std::optional<std::string>& inherited) {
  if (inherited) {
    setenv("proxy", inherited->c_str(), 1);
  } else {
    unsetenv("proxy");
  }
  TempDir dir;
  const std::string path =
      content ? dir.write("override", *content) : dir.path() + "/missing";
  EXPECT_EQ(applyProxyOverride(path.c_str()), 0);
  std::optional<std::string> result = proxyVariable();
  unsetenv("proxy");
  return result;
}

struct OverrideCase {
  const char* name;
  std::optional<std::string> content;    // absent: no file
  std::optional<std::string> inherited;  // absent: "proxy" unset
  std::optional<std::string> expected;   // absent: "proxy" unset
};

class ProxyOverrideTest : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(ProxyOverrideTest, SetsTheVariable) {
  EXPECT_EQ(applyTo(GetParam().content, GetParam().inherited),
            GetParam().expected);
}

const std::string k300 = std::string(200, 'a') + std::string(100, 'b');

const OverrideCase kCases[] = {
    {"HostPortKeepsLineFeed", "10.0.2.2:8118\n", std::nullopt,
     "10.0.2.2:8118\n"},
    {"ReplacesInherited", "127.0.0.1:3128", "old:1", "127.0.0.1:3128"},
    {"CutTo255Bytes", k300, std::nullopt, k300.substr(0, 255)},
    {"Exactly255Bytes", k300.substr(0, 255), std::nullopt, k300.substr(0, 255)},
    {"EndsAtNul", std::string("host:1\0tail", 11), std::nullopt, "host:1"},
    {"FirstByteNulLeavesUnset", std::string("\0host:1", 7), std::nullopt,
     std::nullopt},
    {"FirstByteNulKeepsInherited", std::string("\0host:1", 7), "old:1",
     "old:1"},
    {"EmptyFileLeavesUnset", "", std::nullopt, std::nullopt},
    {"EmptyFileKeepsInherited", "", "old:1", "old:1"},
    {"MissingFileLeavesUnset", std::nullopt, std::nullopt, std::nullopt},
    {"MissingFileKeepsInherited", std::nullopt, "old:1", "old:1"},
};

INSTANTIATE_TEST_SUITE_P(
    Files, ProxyOverrideTest, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<OverrideCase>& param) {
      return std::string(param.param.name);
    });

TEST(ProxyOverrideTest, DirectoryInsteadOfFileChangesNothing) {
  setenv("proxy", "old:1", 1);
  TempDir dir;
  EXPECT_EQ(applyProxyOverride(dir.path().c_str()), 0);
  EXPECT_EQ(proxyVariable(), "old:1");
  unsetenv("proxy");
}

}  // namespace
}  // namespace quibex
