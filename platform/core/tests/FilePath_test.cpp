#include <qrlcore/FilePath.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include <filesystem>

#include "support/Environment.h"

namespace kxutl {
namespace {

namespace fs = std::filesystem;

std::string trimmed(std::string pathA, bool trailingA) {
  FilePath::trimPath(pathA, trailingA);
  return pathA;
}

TEST(FilePathTest, TrimPathNormalisesSeparators) {
  EXPECT_EQ(trimmed("  C:\\data\\\\Face\\HGMPyr\\ ", false), "C:/data/Face/HGMPyr");
  EXPECT_EQ(trimmed("/a//b///", true), "/a/b/");
  EXPECT_EQ(trimmed("/a/b", true), "/a/b/");
  EXPECT_EQ(trimmed("///", false), "/");
  EXPECT_EQ(trimmed("/", true), "/");
  EXPECT_EQ(trimmed("", true), "");
  EXPECT_EQ(trimmed("name", false), "name");
}

TEST(FilePathTest, FoldersAndFiles) {
  const FilePath fileL("/gallery//face\\metaData.dat", false);
  EXPECT_EQ(fileL.getCompletePath(), "/gallery/face/metaData.dat");
  EXPECT_EQ(fileL.getFolder(), "/gallery/face");
  EXPECT_EQ(fileL.getFileName(), "metaData.dat");
  EXPECT_EQ(FilePath("metaData.dat", false).getFolder(), ".");
  EXPECT_EQ(FilePath("/metaData.dat", false).getFolder(), "/");

  FilePath folderL("/gallery/face/", true);
  EXPECT_EQ(folderL.getFolder(), "/gallery/face");
  EXPECT_EQ(folderL.getFileName(), "");
  folderL.setCompletePath("x/y.txt", false);
  EXPECT_FALSE(folderL.isFolder());
  EXPECT_EQ(folderL.getFileName(), "y.txt");
}

TEST(FilePathTest, MkdirCreatesHierarchiesAndRemovalTakesThemAway) {
  quarlen_test::TempDir dirL;
  const FilePath fileL(dirL.path() + "/a/b/c/file.dat", false);
  EXPECT_FALSE(fileL.exists());
  EXPECT_TRUE(fileL.mkdir());
  EXPECT_TRUE(fs::is_directory(dirL.path() + "/a/b/c"));
  EXPECT_FALSE(fileL.mkdir()) << "already there";
  EXPECT_EQ(fileL.mkdir("sub\\deeper"), dirL.path() + "/a/b/c/sub/deeper");
  EXPECT_TRUE(fs::is_directory(dirL.path() + "/a/b/c/sub/deeper"));
  EXPECT_EQ(fileL.mkdir(dirL.path() + "/abs"), dirL.path() + "/abs");
  dirL.write("a/b/c/file.dat", "data");
  EXPECT_TRUE(fileL.exists());

  // A file in the way of a folder.
  const FilePath blockedL(dirL.path() + "/a/b/c/file.dat/inside", true);
  try {
    blockedL.mkdir();
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage().rfind(
                  "Cannot create folder '" + dirL.path() + "/a/b/c/file.dat/inside': ", 0),
              0u)
        << e.getMessage();
  }

  EXPECT_TRUE(FilePath::rmFolderHierarchyIncludingFiles(dirL.path() + "/a/"));
  EXPECT_FALSE(fs::exists(dirL.path() + "/a"));
  EXPECT_FALSE(FilePath::rmFolderHierarchyIncludingFiles(dirL.path() + "/a"));
  for (const char* refusedL : {"", "  ", "/", "//", "\\"}) {
    try {
      FilePath::rmFolderHierarchyIncludingFiles(refusedL);
      FAIL() << "no exception for '" << refusedL << "'";
    } catch (const kxxcp::Exception& e) {
      EXPECT_EQ(e.getMessage(), std::string("Refusing to remove '") + refusedL + "'.");
    }
  }
}

}  // namespace
}  // namespace kxutl
