#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bm25/bm25.h"
#include "same_counts.h"
#include "temporary_directory.h"

namespace tarn::typing::text {
namespace {

namespace fs = std::filesystem;
using Text = std::vector<std::string>;

using testing_support::read_file;
using ModelFile = testing_support::TemporaryDirectory;

void expect_runtime_error(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    FAIL() << "no exception, expected: " << message;
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(error.what(), message);
  }
}

TEST_F(ModelFile, DumpWritesTheDocumentExactly) {
  BM25 model(0.75, 1.2);
  model.train(Text{"a", "b", "c"});
  model.train(Text{"b", "c"});
  model.dump(path("model.json"));
  EXPECT_EQ(
      read_file(path("model.json")),
      "{\n  \"_b\" : 0.750000,\n  \"_doc_count\" : 2,\n  \"_doc_length_average\" : 2.500000,\n"
      "  \"_doc_token_frequency\" : {\n    \"a\" : 1,\n    \"b\" : 2,\n    \"c\" : 2\n  },\n"
      "  \"_k1\" : 1.200000\n}");
  BM25(0.5, 2.0).dump(path("empty.json"));
  EXPECT_EQ(
      read_file(path("empty.json")),
      "{\n  \"_b\" : 0.500000,\n  \"_doc_count\" : 0,\n  \"_doc_length_average\" : 0.000000,\n"
      "  \"_doc_token_frequency\" : {\n\n  },\n  \"_k1\" : 2.000000\n}");
}

TEST_F(ModelFile, EveryTokenSurvivesDumpAndLoad) {
  const Text tokens{"plain",
                    "q\"uote",
                    "back\\slash",
                    "\\u0001",
                    std::string("\x01\x1f\x7f", 3),
                    std::string("nul\0byte", 8),
                    "\b\t\n\f\r",
                    "\\",
                    "\"",
                    "",
                    "\xff\xfe"};
  BM25 model(0.75, 1.2);
  model.train(tokens);
  model.train(Text{"\\u0001", "\x01"});
  model.dump(path("tokens.json"));
  BM25 loaded(0.75, 1.2);
  loaded.load(read_file(path("tokens.json")));
  expect_same_counts(model.doc_token_frequency(), loaded.doc_token_frequency());
}

TEST_F(ModelFile, FailedLoadChangesNothing) {
  BM25 model(0.3, 0.9);
  model.train(Text{"keep", "keep"});
  const std::vector<std::pair<std::string, std::string>> failures{
      {R"({"_doc_token_frequency": {"a": 1, "b": 2.0}, "_doc_count": 1,
          "_doc_length_average": 1.0, "_b": 1.0, "_k1": 1.0})",
       "load doc_token_frequency failed"},
      {R"({"_doc_token_frequency": {"a": 1}, "_doc_count": 2.0})", "load doc_count failed"},
      {R"({"_doc_count": 3, "_doc_length_average": 1})", "load doc_length_average failed"},
      {R"({"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1, "_k1": 1.0})", "load b failed"},
      {R"({"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1.0})", "load k1 failed"},
      // Numbers past the double range read as infinity, 0.0e999 as NaN.
      {R"({"_doc_count": 1, "_doc_length_average": 1e400, "_b": 0.75, "_k1": 1.2})",
       "load doc_length_average failed"},
      {R"({"_doc_count": 1, "_doc_length_average": 0.0e999, "_b": 0.75, "_k1": 1.2})",
       "load doc_length_average failed"},
      {R"({"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1.0e999, "_k1": 1.0})",
       "load b failed"},
      {R"({"_doc_count": 3, "_doc_length_average": 2.0, "_b": 1.0, "_k1": -1e999})",
       "load k1 failed"},
      {"   ", "load doc_count failed"},
      {"", "json data should not be empty"}};
  testing::internal::CaptureStderr();
  for (const auto& [text, message] : failures) {
    expect_runtime_error([&] { model.load(text); }, message);
  }
  EXPECT_THROW(model.load(R"({"_doc_count": 2147483648})"), std::out_of_range);
  EXPECT_THROW(model.load(R"({"_doc_count": -})"), std::invalid_argument);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(model.b(), 0.3);
  EXPECT_EQ(model.k1(), 0.9);
  EXPECT_EQ(model.doc_count(), 1);
  EXPECT_EQ(model.doc_length_average(), 2.0);
  EXPECT_EQ(model.doc_token_frequency().size(), 1u);
  EXPECT_EQ(*model.doc_token_frequency().find("keep"), 2);
}

TEST_F(ModelFile, LoadMergesCountsAndContinuesTheCorpus) {
  BM25 model(0.75, 1.2);
  model.train(Text{"old", "a"});
  model.load(
      "{\"_doc_token_frequency\" : {\"a\" : 5, \"new\" : 1},\r\n \"_doc_count\" : 3,\r\n"
      " \"_doc_length_average\" : 2.333333, \"_b\" : 0.5, \"_k1\" : 2.0, \"x\" : 1} trailing");
  EXPECT_EQ(*model.doc_token_frequency().find("old"), 1);
  EXPECT_EQ(*model.doc_token_frequency().find("a"), 5);
  EXPECT_EQ(*model.doc_token_frequency().find("new"), 1);
  EXPECT_EQ(model.doc_count(), 3);
  EXPECT_EQ(model.doc_length_total(), 7);  // 2.333333 * 3, rounded
  model.train(Text{"a", "b", "c", "d", "e"});
  EXPECT_EQ(model.doc_length_average(), 12.0 / 4.0);
  // Without the frequency object the counts stay as they were.
  model.load(R"({"_doc_count": 0, "_doc_length_average": 0.0, "_b": 0.75, "_k1": 1.2})");
  EXPECT_EQ(model.doc_token_frequency().size(), 7u);
  expect_runtime_error([&] { model.encode_query(Text{"a"}); }, "BM25 has not been initialized");
}

TEST_F(ModelFile, CountsStayWithinThirtyTwoBits) {
  BM25 model(0.75, 1.2);
  model.load(R"({"_doc_token_frequency": {"full": 2147483647, "room": 2147483646},
                 "_doc_count": 2147483646, "_doc_length_average": 1.0, "_b": 0.75, "_k1": 1.2})");
  expect_runtime_error([&] { model.train(Text{"room", "full"}); },
                       "BM25 token frequency would exceed 2147483647");
  expect_runtime_error([&] { model.train(Text{"room", "room"}); },
                       "BM25 token frequency would exceed 2147483647");
  EXPECT_EQ(*model.doc_token_frequency().find("room"), 2147483646);
  EXPECT_EQ(model.doc_token_frequency().find("fresh"), nullptr);
  EXPECT_EQ(model.doc_count(), 2147483646);
  model.train(Text{"room", "fresh"});
  EXPECT_EQ(*model.doc_token_frequency().find("room"), 2147483647);
  EXPECT_EQ(model.doc_count(), 2147483647);
  expect_runtime_error([&] { model.train(std::vector<std::int64_t>{1}); },
                       "BM25 document count would exceed 2147483647");
  EXPECT_EQ(model.doc_token_frequency().find("1"), nullptr);
  // The query's document count is widened, not wrapped.
  EXPECT_EQ(model.encode_query(Text{"fresh", "unseen"}).size(), 2u);
}

TEST_F(ModelFile, DumpRefusesWhatJsonCannotHold) {
  for (const auto& [field, model] :
       {std::pair{"_b", BM25(INFINITY, 1.2)}, std::pair{"_k1", BM25(0.75, NAN)}}) {
    expect_runtime_error([&] { model.dump(path("bad.json")); },
                         std::string("Failed to dump: ") + field +
                             " is not a finite number, which JSON cannot hold");
  }
  EXPECT_TRUE(fs::is_empty(directory_));
}

TEST_F(ModelFile, FailedDumpLeavesThePreviousFileWhole) {
  BM25 model(0.75, 1.2);
  model.train(Text{"a"});
  expect_runtime_error([&] { model.dump(path("missing/model.json")); },
                       "Failed to dump: Unable to open file");
  fs::create_directory(path("dir"));
  expect_runtime_error([&] { model.dump(path("dir")); }, "Failed to dump: Unable to open file");
  expect_runtime_error([&] { model.dump("/dev/full"); }, "Failed to dump: No space left on device");
  {
    std::ofstream(path("old.json")) << "previous";
  }
  fs::permissions(path("old.json"), fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(path("old.json"), path("link.json"));
  if (::geteuid() != 0) {
    expect_runtime_error([&] { model.dump(path("link.json")); },
                         "Failed to dump: Unable to open file");
    EXPECT_EQ(read_file(path("old.json")), "previous");
  }
  fs::permissions(path("old.json"), fs::perms::owner_write, fs::perm_options::add);
  model.dump(path("link.json"));
  EXPECT_TRUE(fs::is_symlink(path("link.json")));
  EXPECT_EQ(read_file(path("old.json")).rfind("{\n  \"_b\"", 0), 0u);
  EXPECT_EQ(fs::status(path("old.json")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace tarn::typing::text
