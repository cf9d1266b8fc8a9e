#include "album/album_format.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>
#include <stdexcept>

#include "support/test_support.h"

namespace vellomar {
namespace {

// The conversion's result as text, or its failure message.
template <typename Convert>
std::string outcome(Convert convert, const Json::Value& value) {
  try {
    return std::to_string(convert(value));
  } catch (const std::runtime_error& error) {
    return error.what();
  }
}

TEST(AlbumFormatTest, ConversionsGiveValuesOrTheirFailureMessages) {
  struct Row {
    const char* text;
    const char* asDoubleGives;
    const char* asIntGives;
  };
  const Row rows[] = {
      {"null", "0.000000", "0"},
      {"true", "1.000000", "1"},
      {"false", "0.000000", "0"},
      {"-12", "-12.000000", "-12"},
      {"3000000000", "3000000000.000000", "integer out of signed integer range"},
      {"2.9", "2.900000", "2"},
      {"-2.9", "-2.900000", "-2"},
      {"2147483647.5", "2147483647.500000", "Real out of signed integer range"},
      {"-2147483648.0", "-2147483648.000000", "-2147483648"},
      {"-2147483648.5", "-2147483648.500000", "Real out of signed integer range"},
      {"1e999", "inf", "Real out of signed integer range"},
      {"\"1\"", "Type is not convertible to double", "Type is not convertible to int"},
      {"[]", "Type is not convertible to double", "Type is not convertible to int"},
      {"{}", "Type is not convertible to double", "Type is not convertible to int"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const Json::Value value = parseJson(row.text);
    EXPECT_EQ(outcome([](const Json::Value& v) { return asDouble(v); }, value), row.asDoubleGives);
    EXPECT_EQ(outcome([](const Json::Value& v) { return asInt(v); }, value), row.asIntGives);
  }
  Json::Value nan(std::nan(""));
  EXPECT_EQ(outcome([](const Json::Value& v) { return asInt(v); }, nan),
            "Real out of signed integer range");
}

}  // namespace
}  // namespace vellomar
