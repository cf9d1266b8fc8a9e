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

TEST(JsonReaderTest, IntegerTokensBecomeRealsPastTheThresholds) {
  struct Row {
    const char* text;
    const char* written;
    Json::ValueType kind;
  };
  const Row rows[] = {
      {"0", "0", Json::intValue},
      {"-0", "0", Json::intValue},
      {"007", "7", Json::intValue},
      {"-", "0", Json::intValue},
      {"2147483647", "2147483647", Json::intValue},
      {"2147483648", "2147483648", Json::uintValue},
      {"3000000000", "3000000000", Json::uintValue},
      {"4294967289", "4294967289", Json::uintValue},
      {"4294967290", "4294967290.0", Json::realValue},
      {"5000000000", "5000000000.0", Json::realValue},
      {"-2147483639", "-2147483639", Json::intValue},
      {"-2147483640", "-2147483640.0", Json::realValue},
      {"-2147483648", "-2147483648.0", Json::realValue},
      {"2.0", "2.0", Json::realValue},
      {"1e2", "100.0", Json::realValue},
      {"1E+2", "100.0", Json::realValue},
      {"0-1", "0.0", Json::realValue},  // read as "%lf" reads it
      {"1.5.3", "1.50", Json::realValue},
      {"1e", "1.0", Json::realValue},
      {"-.5", "-0.50", Json::realValue},
      {"1e999", "1e+9999", Json::realValue},
      {"-1e999", "-1e+9999", Json::realValue},
      {"123456789012345678901234567890", "1.234567890123457e+029", Json::realValue},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Json::Value value;
    ASSERT_TRUE(readJson(row.text, value));
    EXPECT_EQ(value.type(), row.kind);
    EXPECT_EQ(roundTrip(row.text), row.written);
  }
}

TEST(JsonReaderTest, AcceptedTextsReadAsTheirValue) {
  struct Row {
    const char* text;
    const char* written;
  };
  const Row rows[] = {
      {"// comment\n/* block */ {\"a\" /* c */ : /* c */ 1 /* c */, /* c */ \"b\":[1 // c\r,2]}",
       "{\"a\":1,\"b\":[1,2]}"},
      {"{\"a\":1} {\"b\":2}", "{\"a\":1}"},
      {"{\"a\":1} ]]] garbage \"unclosed", "{\"a\":1}"},
      {"{\"a\":1} /* unclosed", "{\"a\":1}"},
      {"[1]x", "[1]"},
      {" \t\r\n7", "7"},
      {"\"text\"", "\"text\""},
      {"true", "true"},
      {"null", "null"},
      {"{\"k\":1,\"k\":[2]}", "{\"k\":[2]}"},
      {"{\"a\":{\"x\":1},\"a\":{\"y\":2}}", "{\"a\":{\"y\":2}}"},
      {"[\"\\u00e9\\u00E9\"]", "[\"\xC3\xA9\xC3\xA9\"]"},
      {"[\"\\ud83d\\ude00\"]", "[\"\xF0\x9F\x98\x80\"]"},
      {"[\"\\udbff\\u0041\"]", "[\"\xF4\x8F\xB1\x81\"]"},  // low ten bits of each
      {"[\"\\udc00\"]", "[\"\xED\xB0\x80\"]"},
      {"[\"\\u0000x\"]", "[\"\\u0000x\"]"},
      {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", "[\"\\\"\\\\/\\b\\f\\n\\r\\t\"]"},
      {"[\"raw\ttab\x01\xFF\"]", "[\"raw\\ttab\\u0001\xFF\"]"},
      {"{\"\":1}", "{\"\":1}"},
      {"[ ]", "[]"},
      {"{ }", "{}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(roundTrip(row.text), row.written);
  }
}

TEST(JsonReaderTest, RefusedTexts) {
  const char* texts[] = {
      "",
      " ",
      "// only a comment",
      "/* unclosed",
      "/x {}",
      "{\"a\":1,}",
      "[1,]",
      "[1 2]",
      "{\"a\" 1}",
      "{a:1}",
      "[01x]",
      "\"unclosed",
      "[\"\\x\"]",
      "[\"\\u12\"]",
      "[\"\\ud83dx\"]",
      "[\"\\ud83d\\x\"]",
      "TRUE",
      "nul",
      "+1",
      ".5",
      "-e5",
      "[--]",
      "\f{}",
      "{\"a\":1",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Json::Value root;
    EXPECT_FALSE(readJson(text, root));
  }
}

TEST(JsonReaderTest, NestingStopsAfterAThousandLevels) {
  auto nested = [](int depth, char open, char close) {
    return std::string(static_cast<size_t>(depth), open) +
           std::string(static_cast<size_t>(depth), close);
  };
  Json::Value root;
  EXPECT_TRUE(readJson(nested(1000, '[', ']'), root));
  EXPECT_FALSE(readJson(nested(1001, '[', ']'), root));
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
