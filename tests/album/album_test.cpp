// The JSON text rules, both ways, and the conversions of document values.

#include <cmath>
#include <limits>
#include <stdexcept>

#include "album/album_format.h"
#include "album/json_number.h"
#include "album/json_writer.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// The text read and written again, without the final line feed; "FAIL" when
// the reader refuses it.
std::string roundTrip(const std::string& text) {
  Json::Value root;
  if (!readJson(text, root)) return "FAIL";
  std::string written = writeJson(root);
  written.pop_back();
  return written;
}

TEST(JsonReaderTest, TextsReadAsTheirValueOrAreRefused) {
  const std::pair<const char*, const char*> rows[] = {
      // Integer tokens become reals past the thresholds; numbers read as
      // "%lf" reads them.
      {"007", "7"},
      {"-", "0"},
      {"4294967289", "4294967289"},
      {"4294967290", "4294967290.0"},
      {"-2147483639", "-2147483639"},
      {"-2147483640", "-2147483640.0"},
      {"0-1", "0.0"},
      {"1.5.3", "1.50"},
      {"-1e999", "-1e+9999"},
      {"[100000000000000000000001]", "[1.000000000000000e+023]"},
      // Comments wherever white space may stand; what follows the value is
      // not read.
      {"// c\n/* b */ {\"a\" /* c */ : 1 /* c */, /* c */ \"b\":[1 // c\r,2]}",
       "{\"a\":1,\"b\":[1,2]}"},
      {"{\"a\":1} ]]] garbage \"unclosed", "{\"a\":1}"},
      {"{\"a\":1} /* unclosed", "{\"a\":1}"},
      {" \t\r\n7", "7"},
      {"{\"k\":1,\"k\":[2]}", "{\"k\":[2]}"},
      {"[\"\\u00e8\\ud83d\\ude00\"]", "[\"\xC3\xA8\xF0\x9F\x98\x80\"]"},
      {"[\"\\udbff\\u0041\"]", "[\"\xF4\x8F\xB1\x81\"]"},  // low ten bits of each
      {"[\"\\udc00\"]", "[\"\xED\xB0\x80\"]"},
      {"[\"\\u0000x\"]", "[\"\\u0000x\"]"},
      {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", "[\"\\\"\\\\/\\b\\f\\n\\r\\t\"]"},
      {"[\"raw\ttab\x01\xFF\"]", "[\"raw\\ttab\\u0001\xFF\"]"},
      // Refused.
      {"", "FAIL"},
      {"// only a comment", "FAIL"},
      {"{\"a\":1,}", "FAIL"},
      {"[1,]", "FAIL"},
      {"[1", "FAIL"},
      {"{\"a\" 1}", "FAIL"},
      {"{a:1}", "FAIL"},
      {"\"unclosed", "FAIL"},
      {"[\"\\x\"]", "FAIL"},
      {"[\"\\u12\"]", "FAIL"},
      {"TRUE", "FAIL"},
      {"+1", "FAIL"},
      {"-e5", "FAIL"},
      {"\f{}", "FAIL"},
      {"{\"a\":1", "FAIL"},
  };
  for (const auto& [text, written] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(roundTrip(text), written);
  }
  Json::Value value;
  // A comment that ends the text is a comment, not a lone '/'.
  JsonParseError error;
  EXPECT_FALSE(readJson("[1 //", value, &error));
  EXPECT_EQ(error.reason, "',' or ']' is expected");
  ASSERT_TRUE(readJson("[2147483647, 2147483648]", value));
  EXPECT_EQ(value[0].type(), Json::intValue);
  EXPECT_EQ(value[1].type(), Json::uintValue);
}

TEST(JsonReaderTest, NestingStopsAfterAThousandLevels) {
  Json::Value root;
  EXPECT_TRUE(readJson(std::string(1000, '[') + std::string(1000, ']'), root));
  EXPECT_FALSE(readJson(std::string(1001, '[') + std::string(1001, ']'), root));
  std::string objects;
  for (int i = 0; i < 1001; ++i) objects += "{\"a\":";
  objects += "1" + std::string(1001, '}');
  EXPECT_FALSE(readJson(objects, root));
  EXPECT_TRUE(readJson(objects.substr(5, objects.size() - 6), root));
  // Far deeper nesting is refused just as cleanly.
  EXPECT_FALSE(readJson(std::string(1000000, '['), root));
}

TEST(JsonWriterTest, RealsStringsAndMembersAreWrittenByTheFixedRules) {
  const std::pair<double, const char*> reals[] = {
      {-0.0, "-0.0"},
      {0.1, "0.10"},
      {1.0 / 3.0, "0.3333333333333333"},
      {1e15, "1000000000000000."},
      {1e16, "1.000000000000000e+016"},
      {0.00001, "1.000000000000000e-005"},
      {5e-324, "4.940656458412465e-324"},
      {std::numeric_limits<double>::infinity(), "1e+9999"},
      {-std::numeric_limits<double>::infinity(), "-1e+9999"},
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

// The conversion's result as text, or its failure message.
template <typename Convert>
std::string outcome(Convert convert, const Json::Value& value) {
  const auto converted = convert(value);
  return converted.ok() ? std::to_string(converted.value()) : converted.problem().text;
}

TEST(AlbumFormatTest, ConversionsGiveValuesOrTheirFailureMessages) {
  const char* const rows[][3] = {
      {"-2.9", "-2.900000", "-2"},
      {"2147483647.5", "2147483647.500000", "Real out of signed integer range"},
      {"-2147483648.0", "-2147483648.000000", "-2147483648"},
      {"-2147483648.5", "-2147483648.500000", "Real out of signed integer range"},
      {"\"1\"", "Type is not convertible to double", "Type is not convertible to int"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    const Json::Value value = parseJson(row[0]);
    EXPECT_EQ(outcome([](const Json::Value& v) { return asDouble(v); }, value), row[1]);
    EXPECT_EQ(outcome([](const Json::Value& v) { return asInt(v); }, value), row[2]);
  }
  EXPECT_EQ(outcome([](const Json::Value& v) { return asInt(v); }, Json::Value(std::nan(""))),
            "Real out of signed integer range");
}

}  // namespace
}  // namespace vellomar
