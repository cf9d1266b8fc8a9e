#include "album/json_writer.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>
#include <limits>

#include "album/json_number.h"

namespace vellomar {
namespace {

TEST(JsonWriterTest, RealsStringsAndMembersAreWrittenByTheFixedRules) {
  const std::pair<double, const char*> reals[] = {
      {-0.0, "-0.0"},
      {0.1, "0.10"},
      {3.14159, "3.141590"},
      {0.0001, "0.00010"},
      {1.0 / 3.0, "0.3333333333333333"},
      {1e15, "1000000000000000."},
      {1e16, "1.000000000000000e+016"},
      {0.00001, "1.000000000000000e-005"},
      {-1.5e-300, "-1.500000000000000e-300"},
      {5e-324, "4.940656458412465e-324"},
      {std::numeric_limits<double>::infinity(), "1e+9999"},
      {std::nan(""), "null"},
  };
  for (const auto& [value, text] : reals) EXPECT_EQ(formatReal(value), text);
  // Strings escape quotes, backslashes and control bytes only; members come
  // in unsigned byte order, prefixes first.
  const std::string raw("q\" b\\ /\b\f\n\r\t\x01\x1F\x7F\xC3\xA9\0end", 21);
  Json::Value object(Json::objectValue);
  for (const char* key : {"b", "a", "B", "a_b", "ab", "\xC3\xA9", "height_o", "height"}) {
    object[key] = 1;
  }
  object["list"].append(Json::Value(raw.data(), raw.data() + raw.size()));
  object["list"].append(Json::Value(true));
  EXPECT_EQ(
      writeJson(object),
      "{\"B\":1,\"a\":1,\"a_b\":1,\"ab\":1,\"b\":1,\"height\":1,\"height_o\":1,\"list\":[\"q\\\" "
      "b\\\\ /\\b\\f\\n\\r\\t\\u0001\\u001F\x7F\xC3\xA9\\u0000end\",true],\"\xC3\xA9\":1}\n");
}

}  // namespace
}  // namespace vellomar
