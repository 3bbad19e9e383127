#include "files/Paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "TestFiles.h"

namespace {

void ExpectParts(const std::string& path, const std::string& folder, const std::string& name,
                 const std::string& extension) {
  const SplitPathParts parts = SplitPath(path);
  EXPECT_EQ(parts.folder, folder) << path;
  EXPECT_EQ(parts.name, name) << path;
  EXPECT_EQ(parts.extension, extension) << path;
  EXPECT_EQ(parts.folder + parts.name + parts.extension, path) << "nothing lost or doubled";
}

TEST(SplitPath, TakesFolderNameAndExtensionApart) {
  ExpectParts("/lab/Sequence_Files/demo.sif", "/lab/Sequence_Files/", "demo", ".sif");
  ExpectParts("demo.sif", "", "demo", ".sif");
  ExpectParts("archive.tar.gz", "", "archive.tar", ".gz");
  ExpectParts("/lab/no_extension", "/lab/", "no_extension", "");
  ExpectParts("", "", "", "");
}

TEST(SplitPath, ADotInAFolderIsNoExtension) {
  ExpectParts("/lab/v1.2/pattern", "/lab/v1.2/", "pattern", "");
  ExpectParts("/lab/folder/", "/lab/folder/", "", "");
}

TEST(SplitPath, ANameOfOnlyAnExtensionKeepsItAsTheExtension) {
  ExpectParts("/home/op/.profile", "/home/op/", "", ".profile");
}

TEST(NameAndExtension, DropsTheFolder) {
  EXPECT_EQ(NameAndExtension("/lab/Image_Files/grating 8.bmp"), "grating 8.bmp");
  EXPECT_EQ(NameAndExtension("linear.lut"), "linear.lut");
  EXPECT_EQ(NameAndExtension("/lab/"), "");
}

TEST(AbsolutePath, JoinsRelativePathsToTheWorkingDirectory) {
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(AbsolutePath("/lab/../p.bmp"), "/lab/../p.bmp");  // links and dots stay as written
  EXPECT_EQ(AbsolutePath("img/p.bmp"), std::string(cwd) + "/img/p.bmp");
  ASSERT_EQ(::chdir("/"), 0);
  const std::string fromRoot = AbsolutePath("p.bmp");
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(fromRoot, "/p.bmp");
}

TEST(AbsolutePath, PathsBeyondThePlatformLimitAreEmpty) {
  EXPECT_EQ(AbsolutePath("/" + std::string(PATH_MAX - 2, 'a')).size(), size_t{PATH_MAX - 1});
  EXPECT_EQ(AbsolutePath("/" + std::string(PATH_MAX - 1, 'a')), "");
}

// The data beside a program in bin/ and beside a library in lib/<triplet>/sorrel/, as
// installed under one prefix; the nearest prefix that holds it wins.
TEST(InstalledFile, IsFoundUnderThePrefixOfTheBinaryWhereverItLies) {
  CTempFolder prefix;
  std::filesystem::create_directories(prefix.Path("share/doc/sorrel"));
  std::filesystem::create_directories(prefix.Path("lib/x86_64-linux-gnu/sorrel"));
  std::ofstream(prefix.Path("share/doc/sorrel/guide.md")) << "guide";
  const std::string guide = prefix.Path("share/doc/sorrel/guide.md");
  EXPECT_EQ(InstalledFile(prefix.Path("bin/Sorrel"), "share/doc/sorrel/guide.md"), guide);
  EXPECT_EQ(InstalledFile(prefix.Path("bin/../lib/x86_64-linux-gnu/sorrel/libpci.so"), "share/doc/sorrel/guide.md"), guide)
      << "named through the program's RUNPATH";
  EXPECT_EQ(InstalledFile(prefix.Path("bin/Sorrel"), "share/doc/sorrel/other.md"), "") << "not installed";
  EXPECT_EQ(InstalledFile("Sorrel", "share/doc/sorrel/guide.md"), "") << "no folder to start from";
}

}  // namespace
