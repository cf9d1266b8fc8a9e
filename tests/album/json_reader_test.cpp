#include "album/json_reader.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include "album/json_writer.h"

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
      {"-0", "0"},
      {"007", "7"},
      {"-", "0"},
      {"4294967289", "4294967289"},
      {"4294967290", "4294967290.0"},
      {"-2147483639", "-2147483639"},
      {"-2147483640", "-2147483640.0"},
      {"1E+2", "100.0"},
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
      {"[\"\\u00e9\\ud83d\\ude00\"]", "[\"\xC3\xA9\xF0\x9F\x98\x80\"]"},
      {"[\"\\udbff\\u0041\"]", "[\"\xF4\x8F\xB1\x81\"]"},  // low ten bits of each
      {"[\"\\udc00\"]", "[\"\xED\xB0\x80\"]"},
      {"[\"\\u0000x\"]", "[\"\\u0000x\"]"},
      {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", "[\"\\\"\\\\/\\b\\f\\n\\r\\t\"]"},
      {"[\"raw\ttab\x01\xFF\"]", "[\"raw\\ttab\\u0001\xFF\"]"},
      {"{ }", "{}"},
      {"[ true, null ]", "[true,null]"},
      // Refused.
      {"", "FAIL"},
      {"// only a comment", "FAIL"},
      {"/x {}", "FAIL"},
      {"{\"a\":1,}", "FAIL"},
      {"[1,]", "FAIL"},
      {"[1 2]", "FAIL"},
      {"[1", "FAIL"},
      {"{\"a\" 1}", "FAIL"},
      {"{a:1}", "FAIL"},
      {"\"unclosed", "FAIL"},
      {"[\"\\x\"]", "FAIL"},
      {"[\"\\u12\"]", "FAIL"},
      {"[\"\\ud83dx\"]", "FAIL"},
      {"TRUE", "FAIL"},
      {"nul", "FAIL"},
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

}  // namespace
}  // namespace vellomar
