#include "album/json_writer.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>
#include <limits>

#include "album/json_number.h"

namespace vellomar {
namespace {

TEST(JsonNumberTest, RealsAreWrittenInTheFixedForm) {
  struct Row {
    double value;
    const char* text;
  };
  const Row rows[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {1.5, "1.50"},
      {-2.5, "-2.50"},
      {0.1, "0.10"},
      {123.25, "123.250"},
      {3.14159, "3.141590"},
      {0.0001, "0.00010"},
      {1.0 / 3.0, "0.3333333333333333"},
      {2147483648.0, "2147483648.0"},
      {1e15, "1000000000000000."},
      {1e16, "1.000000000000000e+016"},
      {0.00001, "1.000000000000000e-005"},
      {1e20, "1.000000000000000e+020"},
      {1e100, "1.000000000000000e+100"},
      {-1.5e-300, "-1.500000000000000e-300"},
      {5e-324, "4.940656458412465e-324"},
      {100.0, "100.0"},
      {std::numeric_limits<double>::infinity(), "1e+9999"},
      {-std::numeric_limits<double>::infinity(), "-1e+9999"},
      {std::nan(""), "null"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(formatReal(row.value), row.text);
  }
}

TEST(JsonWriterTest, StringsEscapeQuotesBackslashesAndControlBytesOnly) {
  const std::string raw("q\" b\\ /\b\f\n\r\t\x01\x1F\x7F\xC3\xA9\0end", 21);
  EXPECT_EQ(writeJson(Json::Value(raw.data(), raw.data() + raw.size())),
            "\"q\\\" b\\\\ /\\b\\f\\n\\r\\t\\u0001\\u001F\x7F\xC3\xA9\\u0000end\"\n");
}

TEST(JsonWriterTest, MembersComeInUnsignedByteOrderWithPrefixesFirst) {
  Json::Value object(Json::objectValue);
  for (const char* key : {"b", "a", "B", "a_b", "ab", "\xC3\xA9", "height_o", "height"}) {
    object[key] = 1;
  }
  EXPECT_EQ(writeJson(object),
            "{\"B\":1,\"a\":1,\"a_b\":1,\"ab\":1,\"b\":1,\"height\":1,\"height_o\":1,"
            "\"\xC3\xA9\":1}\n");
}

}  // namespace
}  // namespace vellomar
