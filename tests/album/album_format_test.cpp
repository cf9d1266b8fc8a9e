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
  const char* const rows[][3] = {
      {"null", "0.000000", "0"},
      {"true", "1.000000", "1"},
      {"-12", "-12.000000", "-12"},
      {"3000000000", "3000000000.000000", "integer out of signed integer range"},
      {"-2.9", "-2.900000", "-2"},
      {"2147483647.5", "2147483647.500000", "Real out of signed integer range"},
      {"-2147483648.0", "-2147483648.000000", "-2147483648"},
      {"-2147483648.5", "-2147483648.500000", "Real out of signed integer range"},
      {"\"1\"", "Type is not convertible to double", "Type is not convertible to int"},
      {"{}", "Type is not convertible to double", "Type is not convertible to int"},
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
