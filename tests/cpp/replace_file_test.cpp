#include "posix/replace_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "temporary_directory.h"

namespace tarn::posix {
namespace {

namespace fs = std::filesystem;

class ReplaceFile : public testing_support::TemporaryDirectory {
 protected:
  std::string read(const std::string& name) const { return testing_support::read_file(path(name)); }
  std::size_t entries() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory_), fs::directory_iterator()));
  }
};

std::string message_of(const std::string& path, std::string_view content) {
  try {
    replace_file(path, content);
  } catch (const ReplaceError& error) {
    return error.what();
  }
  return "no error";
}

// The errno that opening `path` would set, as the refusal carries it; 0 for no refusal.
int error_number_of(const std::string& path) {
  try {
    replace_file(path, "x");
  } catch (const ReplaceError& error) {
    return error.error_number();
  }
  return 0;
}

TEST_F(ReplaceFile, PathsThatCannotBeOpenedAreRefusedAndCreateNothing) {
  fs::create_symlink("loop_b", path("loop_a"));
  fs::create_symlink("loop_a", path("loop_b"));
  const std::pair<std::string, int> refusals[] = {
      {std::string(), ENOENT},       {path("missing/file"), ENOENT},
      {directory_.string(), EISDIR}, {path("nul") + '\0' + "byte", EINVAL},
      {path("loop_a"), ELOOP},       {path("loop_a") + "/file", ELOOP}};
  for (const auto& [target, error_number] : refusals) {
    EXPECT_EQ(message_of(target, "x"), "Unable to open file") << target;
    EXPECT_EQ(error_number_of(target), error_number) << target;
  }
  EXPECT_EQ(entries(), 2u);
}

TEST_F(ReplaceFile, ReplacesTheNamedFileThroughItsLinksAndLeavesNothingElse) {
  { std::ofstream(path("old")) << "a longer previous content"; }
  fs::permissions(path("old"), fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
  fs::create_symlink("old", path("link"));
  replace_file(path("link"), std::string("new\0bytes", 9));
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(read("old"), std::string("new\0bytes", 9));
  EXPECT_EQ(fs::status(path("old")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  EXPECT_EQ(entries(), 2u);  // no temporary file left beside them
}

TEST_F(ReplaceFile, DanglingRelativeLinkCreatesTheFileItNames) {
  fs::create_directory(path("sub"));
  fs::create_symlink("target", path("sub/link"));
  replace_file(path("sub/link"), "made");
  EXPECT_EQ(read("sub/target"), "made");
  EXPECT_TRUE(fs::is_symlink(path("sub/link")));
}

TEST_F(ReplaceFile, DevicesAreWrittenAsTheyStand) {
  EXPECT_EQ(message_of("/dev/null", "discarded"), "no error");
  EXPECT_EQ(message_of("/dev/full", "x"), "No space left on device");
}

}  // namespace
}  // namespace tarn::posix
