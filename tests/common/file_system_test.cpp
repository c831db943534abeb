#include "common/file_system.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace marquo {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, IsTheRunningExecutablesFolderWithItsSeparator) {
  const std::u16string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == u'\\' || folder.back() == u'/');
  EXPECT_TRUE(FileExists(folder + u"common_tests") || FileExists(folder + u"common_tests.exe"));
}

TEST(FileExists, OnlyFilesCount) {
  // A name of its own, so two builds' suites running at once do not meet.
  const fs::path folder =
      fs::temp_directory_path() /
      ("marquo-file-exists-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::remove_all(folder);
  fs::create_directories(folder / "sub.bat");
  std::ofstream(folder / "file.bat") << "x";
  EXPECT_TRUE(FileExists((folder / "file.bat").u16string()));
  EXPECT_FALSE(FileExists((folder / "sub.bat").u16string())) << "a folder is no file";
  EXPECT_FALSE(FileExists((folder / "missing.bat").u16string()));
  EXPECT_FALSE(FileExists(u""));
  fs::remove_all(folder);
}

} // namespace
} // namespace marquo
