#include <quarlen/FileManager.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/Environment.h"
#include "support/FaultyFiles.h"

namespace {

using quarlen_test::FaultyFiles;
using quarlen_test::TempDir;

class FileManagerTest : public ::testing::Test {
 protected:
  void TearDown() override { FileManager::reset(); }

  std::string writeFile(const std::string& nameA, const std::string& contentA) {
    const std::string pathL = dirM.path() + "/" + nameA;
    std::ofstream(pathL, std::ios::binary) << contentA;
    return pathL;
  }

  TempDir dirM;
};

struct OpenSpy {
  static int callsS;
  static void* lastStateManagerS;
  static void* open(void* smA, const char* pathA, const char* modeA) {
    ++callsS;
    lastStateManagerS = smA;
    return std::fopen(pathA, modeA);
  }
};
int OpenSpy::callsS = 0;
void* OpenSpy::lastStateManagerS = nullptr;

unsigned long long zeroRead(void*, unsigned long long, unsigned long long, void*) {
  return 0;
}

TEST_F(FileManagerTest, DefaultsRoundTripBytesThroughTheTable) {
  const std::string pathL = dirM.path() + "/a.bin";
  void* hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathL.c_str(), "wb");
  ASSERT_NE(hL, nullptr);
  const char kData[] = "0123456789";
  EXPECT_EQ(FileManager::writeFuncPtrS(kData, 1, 10, hL), 10u);
  EXPECT_EQ(FileManager::flushFuncPtrS(hL), 0);
  EXPECT_EQ(FileManager::tellFuncPtrS(hL), 10u);
  EXPECT_EQ(FileManager::closeFuncPtrS(hL), 0);

  hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathL.c_str(), "r+b");
  ASSERT_NE(hL, nullptr);
  EXPECT_EQ(FileManager::seekFuncPtrS(hL, 4, SEEK_SET), 0);
  char bufL[4] = {};
  EXPECT_EQ(FileManager::readFuncPtrS(bufL, 2, 2, hL), 2u);
  EXPECT_EQ(std::string(bufL, 4), "4567");
  EXPECT_EQ(FileManager::seekFuncPtrS(hL, 0, SEEK_END), 0);
  EXPECT_EQ(FileManager::tellFuncPtrS(hL), 10u);
  // Reading at the end delivers no item.
  EXPECT_EQ(FileManager::readFuncPtrS(bufL, 1, 4, hL), 0u);
  EXPECT_EQ(FileManager::syncFuncPtrS(hL), 0);
  EXPECT_EQ(FileManager::closeFuncPtrS(hL), 0);
}

TEST_F(FileManagerTest, OpenOfAMissingFileForReadingGivesNull) {
  const std::string pathL = dirM.path() + "/missing.bin";
  EXPECT_EQ(FileManager::openFuncPtrS(nullptr, pathL.c_str(), "rb"), nullptr);
  EXPECT_EQ(FileManager::openFuncPtrS(nullptr, pathL.c_str(), "r+b"), nullptr);
  EXPECT_EQ(FileManager::openFuncPtrS(nullptr, nullptr, "rb"), nullptr);
}

TEST_F(FileManagerTest, SeekBeyondTheSignedRangeIsRefused) {
  void* hL = FileManager::openFuncPtrS(nullptr, writeFile("s.bin", "xy").c_str(), "rb");
  ASSERT_NE(hL, nullptr);
  EXPECT_EQ(FileManager::seekFuncPtrS(hL, ~0ULL, SEEK_SET), -1);
  EXPECT_EQ(FileManager::tellFuncPtrS(hL), 0u);
  FileManager::closeFuncPtrS(hL);
}

TEST_F(FileManagerTest, NullFunctionsAreRefusedAndTheEntryStays) {
  EXPECT_FALSE(FileManager::setReadFuncPtr(nullptr));
  EXPECT_EQ(FileManager::readFuncPtrS, &FileManager::defaultRead);
  EXPECT_FALSE(FileManager::setOpenFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setCloseFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setFlushFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setWriteFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setSeekFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setTellFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setTruncateFuncPtr(nullptr));
  EXPECT_FALSE(FileManager::setSyncFuncPtr(nullptr));
  EXPECT_EQ(FileManager::openFuncPtrS, &FileManager::defaultOpen);

  // The default read is really still in force.
  void* hL = FileManager::openFuncPtrS(nullptr, writeFile("r.bin", "abc").c_str(), "rb");
  char bufL[3] = {};
  EXPECT_EQ(FileManager::readFuncPtrS(bufL, 1, 3, hL), 3u);
  FileManager::closeFuncPtrS(hL);

  EXPECT_TRUE(FileManager::setReadFuncPtr(&zeroRead));
  EXPECT_EQ(FileManager::readFuncPtrS, &zeroRead);
}

TEST_F(FileManagerTest, OpenHookReceivesTheStateManagerUntilReset) {
  const std::string pathL = writeFile("o.bin", "q");
  int contextL = 0;
  EXPECT_TRUE(FileManager::setGlobalStateManager(&contextL));
  EXPECT_TRUE(FileManager::setOpenFuncPtr(&OpenSpy::open));
  OpenSpy::callsS = 0;
  void* hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathL.c_str(), "rb");
  ASSERT_NE(hL, nullptr);
  FileManager::closeFuncPtrS(hL);
  EXPECT_EQ(OpenSpy::callsS, 1);
  EXPECT_EQ(OpenSpy::lastStateManagerS, &contextL);

  FileManager::reset();
  EXPECT_EQ(FileManager::stateManagerS, nullptr);
  hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathL.c_str(), "rb");
  ASSERT_NE(hL, nullptr);
  FileManager::closeFuncPtrS(hL);
  EXPECT_EQ(OpenSpy::callsS, 1);  // fopen again, not the hook

  FileManager::setOpenFuncPtr(&OpenSpy::open);
  hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathL.c_str(), "rb");
  FileManager::closeFuncPtrS(hL);
  EXPECT_EQ(OpenSpy::callsS, 2);
  EXPECT_EQ(OpenSpy::lastStateManagerS, nullptr);
  EXPECT_TRUE(FileManager::setGlobalStateManager(nullptr));
}

TEST_F(FileManagerTest, ConstructorRestoresTheDefaults) {
  FileManager::setReadFuncPtr(&zeroRead);
  FileManager::setGlobalStateManager(this);
  FileManager managerL;
  EXPECT_EQ(FileManager::readFuncPtrS, &FileManager::defaultRead);
  EXPECT_EQ(FileManager::stateManagerS, nullptr);
}

TEST_F(FileManagerTest, DefaultTruncateLeavesTheLengthAndReportsZero) {
  const std::string pathL = writeFile("t.bin", "0123456789");
  void* hL = FileManager::openFuncPtrS(nullptr, pathL.c_str(), "r+b");
  ASSERT_NE(hL, nullptr);
  EXPECT_EQ(FileManager::truncateFuncPtrS(hL, 3), 0);
  FileManager::closeFuncPtrS(hL);
  EXPECT_EQ(std::filesystem::file_size(pathL), 10u);
}

TEST_F(FileManagerTest, DefaultSyncLeavesHandlesOfAnotherOpenAlone) {
  int notAFileL = 0;
  FileManager::setOpenFuncPtr(&OpenSpy::open);
  EXPECT_EQ(FileManager::defaultSync(&notAFileL), 0);
  EXPECT_EQ(FileManager::defaultSync(nullptr), -1);
}

// The test helper itself: counts, fails the chosen call, tears writes, restores on destruction.
TEST_F(FileManagerTest, FaultyFilesFailsTheNthCallOfAKind) {
  const std::string pathL = dirM.path() + "/f.bin";
  {
    FaultyFiles faultsL(FaultyFiles::Write, 2);
    void* hL = FileManager::openFuncPtrS(nullptr, pathL.c_str(), "wb");
    ASSERT_NE(hL, nullptr);
    EXPECT_EQ(FileManager::writeFuncPtrS("abcd", 1, 4, hL), 4u);
    EXPECT_FALSE(faultsL.fired());
    EXPECT_EQ(FileManager::writeFuncPtrS("efgh", 1, 4, hL), 2u);  // torn: half written
    EXPECT_TRUE(faultsL.fired());
    EXPECT_EQ(FileManager::writeFuncPtrS("ij", 1, 2, hL), 2u);  // only the second call fails
    EXPECT_EQ(faultsL.calls(FaultyFiles::Write), 3u);
    EXPECT_EQ(faultsL.calls(FaultyFiles::Open), 1u);

    faultsL.arm(FaultyFiles::Flush, 1, FaultyFiles::FromThen);
    faultsL.resetCounts();
    EXPECT_EQ(FileManager::flushFuncPtrS(hL), EOF);
    EXPECT_EQ(FileManager::flushFuncPtrS(hL), EOF);
    faultsL.arm(FaultyFiles::Seek, 1);
    EXPECT_EQ(FileManager::seekFuncPtrS(hL, 0, SEEK_SET), -1);
    faultsL.arm(FaultyFiles::Close, 1);
    EXPECT_EQ(FileManager::closeFuncPtrS(hL), EOF);  // the file is still released
    faultsL.arm(FaultyFiles::Open, 1);
    EXPECT_EQ(FileManager::openFuncPtrS(nullptr, pathL.c_str(), "rb"), nullptr);
  }
  EXPECT_EQ(FileManager::writeFuncPtrS, &FileManager::defaultWrite);
  EXPECT_EQ(FileManager::openFuncPtrS, &FileManager::defaultOpen);
  std::ifstream inL(pathL, std::ios::binary);
  const std::string contentL((std::istreambuf_iterator<char>(inL)), {});
  EXPECT_EQ(contentL, "abcdefij");
  EXPECT_THROW(
      {
        FaultyFiles aL;
        FaultyFiles bL;
      },
      std::logic_error);
}

}  // namespace
