#include "app/album_run.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

#include "album/json_reader.h"
#include "album/json_writer.h"
#include "plan/run_settings.h"
#include "platform/code_page.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using AlbumRunTest = AlbumPassTest;

TEST_F(AlbumRunTest, UnreadableOrUnparsableAlbumPrintsItsMessageAndCreatesNothing) {
  struct Row {
    const char* content;  // nullptr: no album.desc at all
    const char* message;
  };
  const Row rows[] = {
      {nullptr, kFileOpenErrorLine},        {"", kFileOpenErrorLine},
      {"\xEF\xBB\xBF", kFileOpenErrorLine}, {"ab", kFileOpenErrorLine},
      {"{\"photoBook\":", kParseErrorLine}, {"{]", kParseErrorLine},
      {"      ", kParseErrorLine},          {" \n{}", kParseErrorLine},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.content ? row.content : "(no file)");
    std::remove(sourceFile("album.desc").c_str());
    if (row.content) writeAlbum(row.content);
    const PassResult result = runPass();
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out, row.message);
    EXPECT_NE(result.err.find("album.desc: "), std::string::npos) << result.err;
    EXPECT_FALSE(fileExists(outputDir()));
  }
}

// The rows share one output directory, so all but the first also show an
// existing directory used as it is and its album.desc replaced.
TEST_F(AlbumRunTest, PassWritesTheDocumentInItsCompactFormEndingInCrLf) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"\xEF\xBB\xBF// made by "
       "hand\r\n{\"z\":1,\"photoBook\":{\"scale\":2,\"pages\":[{\"elements\":"
       "[{\"id\":1,\"image\":{\"src\":\"a.jpg\"}}],\"title\":\"t\\u00e9\"},{}]}}\r\n",
       "{\"photoBook\":{\"pages\":[{\"elements\":[{\"id\":1,\"image\":{\"src\":\"a.jpg\"}}],"
       "\"title\":\"t\xC3\xA9\"},{}],\"scale\":2},\"z\":1}\r\n"},
      {"{\"other\":[1.5]}", "{\"other\":[1.50],\"photoBook\":{\"pages\":null,\"scale\":null}}\r\n"},
      // Three bytes are dropped from a text that does not begin with a brace.
      {"   null", "{\"photoBook\":{\"pages\":null,\"scale\":null}}\r\n"},
      {"{\"photoBook\":null}", "{\"photoBook\":{\"pages\":null,\"scale\":null}}\r\n"},
      {"{\"photoBook\":{\"pages\":7}}", "{\"photoBook\":{\"pages\":7,\"scale\":null}}\r\n"},
      {"{\"photoBook\":{\"pages\":{},\"scale\":true}}",
       "{\"photoBook\":{\"pages\":{},\"scale\":true}}\r\n"},
      // Nothing rewritten: the pages as read, without the lookups' nulls.
      {"{\"photoBook\":{\"pages\":[{\"elements\":[{\"image\":{\"src\":\"default\"}}]},{}]}}",
       "{\"photoBook\":{\"pages\":[{\"elements\":[{\"image\":{\"src\":\"default\"}}]},{}],"
       "\"scale\":null}}\r\n"},
      {"{\"photoBook\":{\"pages\":[null,5.0]}} trailing", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    writeAlbum(row.input);
    const PassResult result = runPass();
    if (row.output == nullptr) {
      EXPECT_EQ(result.status, -1);
      continue;
    }
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(outputAlbum(), row.output);
  }
}

TEST_F(AlbumRunTest, ShapesTheWalkCannotFollowEndTheRunNamingThePlace) {
  struct Row {
    const char* input;
    const char* place;
  };
  const Row rows[] = {
      {"   [1]", "album.desc: the document is neither an object nor null"},
      {"{\"photoBook\":[]}", "album.desc: photoBook: neither an object nor null"},
      {"{\"photoBook\":{\"scale\":\"1\"}}",
       "album.desc: photoBook.scale: Type is not convertible to double"},
      {"{\"photoBook\":{\"pages\":{\"a\":{}}}}", "album.desc: photoBook.pages: an object"},
      {"{\"photoBook\":{\"pages\":[{},\"x\"]}}", "album.desc: photoBook.pages[1]: a page"},
      {"{\"photoBook\":{\"pages\":[{\"elements\":{\"0\":{}}}]}}",
       "album.desc: photoBook.pages[0].elements: an object"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    writeAlbum(row.input);
    const PassResult result = runPass();
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(row.place), std::string::npos) << result.err;
    EXPECT_EQ(result.err.rfind("vellomar: ", 0), 0u);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_EQ(outputAlbum(), "");
  }
}

TEST_F(AlbumRunTest, UnwritableAlbumIsReportedAsAFailure) {
  writeAlbum("{}");
  std::ostringstream out, err;
  // The parent of the output directory does not exist: nothing is created.
  RunSettings settings;
  settings.sourceDir = sourceDir() + "\\";
  settings.outputDir = outputDir() + "/missing/deeper";
  EXPECT_EQ(processAlbum(settings, CodePage::named("UTF-8"), out, err), -1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("missing/deeper/album.desc: cannot be written"), std::string::npos)
      << err.str();
}

TEST_F(AlbumRunTest, BinaryExitsWith255AndPrintsOnlyTheMessage) {
  const PassResult wrongCount = runBinary({sourceDir(), outputDir()});
  EXPECT_EQ(wrongCount.status, 255);
  EXPECT_EQ(wrongCount.out + wrongCount.err, "");

  const PassResult missing = runBinary({sourceDir(), outputDir(), "0"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.out, kFileOpenErrorLine);

  writeAlbum("{\"photoBook\":{\"scale\":0.5}}");
  const PassResult done = runBinary({sourceDir(), outputDir(), "1"});
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.out + done.err, "");
  EXPECT_EQ(outputAlbum(), "{\"photoBook\":{\"pages\":null,\"scale\":0.50}}\r\n");
}

// Every document of a public JSON test suite, used as album.desc, ends the run
// cleanly; every document the suite calls valid is read, and what the tool
// writes reads back as the same document.
TEST_F(AlbumRunTest, JsonTestSuiteDocumentsEndCleanly) {
  const std::string suite = std::string(JSON_TEST_SUITE_PATH) + "/test_parsing";
  DIR* listing = ::opendir(suite.c_str());
  ASSERT_NE(listing, nullptr);
  int documents = 0;
  while (dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() < 5 || name.substr(name.size() - 5) != ".json") continue;
    SCOPED_TRACE(name);
    ++documents;
    const std::string text = readFile(suite + "/" + name);
    if (name[0] == 'y') {
      Json::Value value;
      EXPECT_TRUE(readJson(text, value));
    }
    writeAlbum(text);
    const PassResult result = runPass();
    ASSERT_TRUE(result.status == 0 || result.status == -1);
    if (result.status == 0) {
      Json::Value written;
      EXPECT_TRUE(readJson(outputAlbum(), written));
      Json::Value again;
      writeAlbum(outputAlbum());
      EXPECT_EQ(runPass().status, 0);
      EXPECT_EQ(outputAlbum(), readFile(sourceFile("album.desc")));
    }
  }
  ::closedir(listing);
  EXPECT_GT(documents, 300);
}

// Inputs the fuzzers found faults with, kept: JSON texts read, write and read
// back; albums end with whole diagnostic lines.
TEST_F(AlbumRunTest, KeptFuzzInputsEndCleanly) {
  for (const auto& entry : std::filesystem::directory_iterator(TEST_DATA_PATH "/fuzz")) {
    SCOPED_TRACE(entry.path());
    const std::string text = readFile(entry.path().string());
    if (entry.path().extension() == ".json") {
      Json::Value value, again;
      ASSERT_TRUE(readJson(text, value));
      EXPECT_TRUE(readJson(writeJson(value), again));
      continue;
    }
    writeAlbum(text);
    const PassResult result = runPass();
    EXPECT_EQ(result.status, -1);
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("vellomar: ", 0), 0u);
  }
}

}  // namespace
}  // namespace vellomar
