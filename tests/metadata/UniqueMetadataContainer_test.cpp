#include <quarlen/UniqueMetadataContainer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <qrlimage/Image.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/IdentityResultContainer.h>
#include <quarlen/MultipassFileIO.h>

#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"
#include "support/ScoreConfig.h"

namespace qridy {
namespace {

using quarlen_test::CapturedErrors;
using quarlen_test::RegistryConfig;
using Words = std::vector<unsigned int>;

constexpr unsigned kAttributes = 4;

QueryLanguage attributes(unsigned a1, unsigned a2 = 0, unsigned a3 = 0, unsigned a4 = 0) {
  QueryLanguage qL;
  const unsigned int valuesL[kAttributes] = {a1, a2, a3, a4};
  qL.setAttributes(0, valuesL);
  return qL;
}

class UniqueMetadataContainerTest : public ::testing::Test {
 protected:
  RegistryConfig configM{kAttributes, 1044, 8, 2};
  std::unique_ptr<UniqueMetadataContainer> umcM =
      std::make_unique<UniqueMetadataContainer>(ModalityIris);

  IdentityMetadata* add(std::uint64_t pidA, std::uint64_t tidA, unsigned a1A = 0,
                        const std::string& sidA = "") {
    const QueryLanguage qL = attributes(a1A);
    return umcM->addIdRecordKey(IdRecordKey(pidA, tidA), &qL,
                                reinterpret_cast<const unsigned char*>(sidA.data()), sidA.size(),
                                false);
  }
  std::vector<IdRecordKey> keys() const {
    std::vector<IdRecordKey> keysL;
    for (const IdentityMetadata* mL : umcM->getInternalMetadataVector()) {
      keysL.push_back(mL->getIdRecordKey());
    }
    return keysL;
  }
  std::vector<int> states(unsigned probeA) const {
    std::vector<int> statesL;
    for (const IdentityMetadata* mL : umcM->getInternalMetadataVector()) {
      statesL.push_back(mL->getResultState(probeA));
    }
    return statesL;
  }
};

TEST_F(UniqueMetadataContainerTest, RegistryCountsAndDuplicates) {
  IdentityMetadata* firstL = add(7, 2);
  add(9, 1);
  add(7, 1);
  EXPECT_EQ(umcM->numberOfUniqueIdRecords(), 3u);
  EXPECT_EQ(umcM->numberOfUniquePersons(), 2u);
  EXPECT_EQ(keys(), (std::vector<IdRecordKey>{{7, 1}, {7, 2}, {9, 1}}));
  EXPECT_EQ(umcM->searchMaxTransactionID(), 2u);
  try {
    add(7, 2);
    FAIL() << "duplicate accepted";
  } catch (const kxxcp::Exception& eL) {
    EXPECT_EQ(eL.getMessage(),
              "Cannot add IdRecord (7, 2), because an IdRecord with this person/transactionID "
              "already exists in the gallery.");
    EXPECT_EQ(eL.errorCode(), 500);
    EXPECT_EQ(eL.getFunction(),
              "qridy::IdRecordKeyContainerInternels::searchForExisingIdRecordKey");
  }
  EXPECT_EQ(umcM->addIdRecordKey(IdRecordKey(7, 2), nullptr, nullptr, 0, true), firstL);
  EXPECT_EQ(umcM->size(), 3u);

  EXPECT_FALSE(umcM->removeIdRecordKey(IdRecordKey(7, 3)));
  EXPECT_EQ(umcM->numberOfUniqueIdRecords(), 3u);
  EXPECT_TRUE(umcM->removeIdRecordKey(IdRecordKey(7, 1)));
  EXPECT_EQ(umcM->numberOfUniqueIdRecords(), 2u);
  EXPECT_EQ(umcM->numberOfUniquePersons(), 2u);
  EXPECT_TRUE(umcM->removeIdRecordKey(IdRecordKey(7, 2)));
  EXPECT_EQ(umcM->numberOfUniquePersons(), 1u);

  std::size_t indexL = 0;
  EXPECT_KXXCP_MESSAGE(umcM->searchForExisingIdRecordKey(IdRecordKey(1, 1), nullptr, nullptr, 0,
                                                         true, true, indexL, false),
                       "Just add xor delete supported!!");
}

TEST_F(UniqueMetadataContainerTest, LookUps) {
  add(5, 50, 1, "alpha");
  add(5, 51, 2);
  add(6, 40, 3, "beta");
  EXPECT_EQ(umcM->getMetaDataByIdRecordKey(IdRecordKey(5, 51))->queryLanguage().attributes()[1],
            2u);
  EXPECT_EQ(umcM->getMetaDataByIdRecordKey(IdRecordKey(5, 52)), nullptr);
  EXPECT_EQ(umcM->getMetaDataByIndex(2)->getIdRecordKey(), IdRecordKey(6, 40));
  EXPECT_EQ(umcM->getMetaDataByIndex(3), nullptr);
  EXPECT_EQ(umcM->getIdRecordKeysByPid(5), (std::vector<IdRecordKey>{{5, 50}, {5, 51}}));
  EXPECT_TRUE(umcM->getIdRecordKeysByPid(7).empty());
  int positionL = 0;
  EXPECT_EQ(umcM->getIdRecordKeyByTransactionId(40, true, positionL), IdRecordKey(6, 40));
  EXPECT_EQ(positionL, 2);
  EXPECT_EQ(umcM->getIdentityMetadataTransactionId(50, true, positionL)->getIdRecordKey(),
            IdRecordKey(5, 50));
  EXPECT_EQ(positionL, 0);
  EXPECT_EQ(umcM->getIdentityMetadataTransactionId(41, false, positionL), nullptr);
  EXPECT_EQ(positionL, -1);
  EXPECT_KXXCP_MESSAGE(umcM->getIdRecordKeyByTransactionId(41, true, positionL),
                       "IdRecord with transactionId : 41 does not exist in the gallery.");
  // The transaction order follows adds and removals.
  add(1, 41);
  EXPECT_EQ(umcM->getIdRecordKeyByTransactionId(41, true, positionL), IdRecordKey(1, 41));
  umcM->removeIdRecordKey(IdRecordKey(1, 41));
  EXPECT_EQ(umcM->getIdentityMetadataTransactionId(41, false, positionL), nullptr);
}

TEST_F(UniqueMetadataContainerTest, SidsAreCutAndComparedPadded) {
  // SID_MAX is 8.
  add(1, 1, 0, "ABCDEFGHIJ");
  add(2, 2, 0, std::string("xy\0", 3));
  add(3, 3);
  add(4, 4, 0, std::string(5, '\0'));  // only padding: no SID
  EXPECT_EQ(umcM->sidSize(), 2u);
  EXPECT_EQ(umcM->getMetaDataByIdRecordKey(IdRecordKey(4, 4))->sid(), nullptr);
  const auto bySidL = [&](const std::string& sA) {
    return umcM->getMetaDataBySID(reinterpret_cast<const unsigned char*>(sA.data()), sA.size());
  };
  ASSERT_NE(bySidL("ABCDEFGHIJ"), nullptr);
  EXPECT_EQ(bySidL("ABCDEFGHIJ")->getIdRecordKey(), IdRecordKey(1, 1));
  EXPECT_EQ(bySidL("ABCDEFGHXX"), bySidL("ABCDEFGHIJ"));
  EXPECT_EQ(bySidL("ABCDEFG"), nullptr);
  EXPECT_EQ(bySidL("xy")->getIdRecordKey(), IdRecordKey(2, 2));
  EXPECT_EQ(bySidL(""), nullptr);
  EXPECT_EQ(std::memcmp(bySidL("xy")->sid(), "xy\0\0\0\0\0\0\0", 9), 0);
  umcM->removeIdRecordKey(IdRecordKey(1, 1));
  EXPECT_EQ(bySidL("ABCDEFGH"), nullptr);
  EXPECT_EQ(umcM->sidSize(), 1u);
}

TEST_F(UniqueMetadataContainerTest, BlocksNeverMove) {
  IdentityMetadata* firstL = add(0, 0, 17);
  for (std::uint64_t iL = 1; iL < IdRecordKeyContainerInternels::kBlockSize; ++iL) add(iL, iL);
  EXPECT_EQ(umcM->capacity(), IdRecordKeyContainerInternels::kBlockSize);
  add(99999, 99999);
  EXPECT_EQ(umcM->capacity(), 2 * IdRecordKeyContainerInternels::kBlockSize);
  EXPECT_EQ(umcM->getMetaDataByIdRecordKey(IdRecordKey(0, 0)), firstL);
  EXPECT_EQ(firstL->queryLanguage().attributes()[1], 17u);
  EXPECT_EQ(firstL->filePosition(), IdentityMetadata::kNotWritten);
}

TEST_F(UniqueMetadataContainerTest, Dumps) {
  add(2, 0x0102030405060708ull, 5);
  add(1, 9, 6);
  std::ostringstream textL;
  umcM->dump(textL);
  EXPECT_EQ(textL.str(),
            "begin UniqueMetadataContainer::dump\n<all> \n"
            "<a  pid = \"1\"  trid = \"9\"  />\n"
            "<a  pid = \"2\"  trid = \"72623859790382856\"  />\n"
            "</all> \nend UniqueMetadataContainer::dump\n");
  std::ostringstream binaryL;
  umcM->dumpBinary(binaryL);
  const std::string entry1L(
      "\x01\0\0\0\0\0\0\0"
      "\x09\0\0\0\0\0\0\0"
      "\x06\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0",
      32);
  const std::string entry2L(
      "\x02\0\0\0\0\0\0\0"
      "\x08\x07\x06\x05\x04\x03\x02\x01"
      "\x05\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0",
      32);
  EXPECT_EQ(binaryL.str(), std::string("UMBD\x02\0\0\0\x10\0\0\0", 12) + entry1L + entry2L);
  std::ostringstream shortL;
  umcM->dumpShortBinary(shortL);
  EXPECT_EQ(shortL.str(), std::string("UMSD\x02\0\0\0\x10\0\0\0", 12) +
                              std::string("\x09\0\0\0\x06\0\0\0", 8) + std::string(12, '\0') +
                              std::string("\x08\x07\x06\x05\x05\0\0\0", 8) + std::string(12, '\0'));
}

// --- selection ------------------------------------------------------------------------------

TEST_F(UniqueMetadataContainerTest, PersonAndTransactionLists) {
  add(1, 10);
  add(1, 11);
  add(2, 20);
  add(3, 30);
  umcM->selectByPersonList(1, {1, 4}, 0);
  EXPECT_EQ(states(1), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(states(0), (std::vector<int>{0, 0, 0, 0}));
  umcM->resetResultContainer(1);
  umcM->selectByPersonList(1, {1}, 1);
  EXPECT_EQ(states(1), (std::vector<int>{0, 0, 1, 1}));
  umcM->resetResultContainer(1);
  umcM->selectByTransactionList(1, {30, 11, 99}, 0);
  EXPECT_EQ(states(1), (std::vector<int>{0, 1, 0, 1}));
  umcM->resetResultContainer(1);
  umcM->selectByTransactionList(1, {20}, 1);
  EXPECT_EQ(states(1), (std::vector<int>{1, 1, 0, 1}));
  umcM->resetResultContainer(1);
  umcM->selectByTransactionList(1, {}, 0);
  EXPECT_EQ(umcM->calcNumberOfSelectedIdRecords(1), 0u);
  umcM->selectByTransactionList(1, {}, 1);
  EXPECT_EQ(umcM->calcNumberOfSelectedIdRecords(1), 4u);
  EXPECT_KXXCP_MESSAGE(umcM->selectByPersonList(2, {1}, 0),
                       "probe index 2 out of range (2 probes).");
}

TEST_F(UniqueMetadataContainerTest, QueryFilterLabelsAndDeletesResults) {
  for (unsigned iL = 0; iL < 10; ++iL) add(iL, iL, iL % 3);
  // A result for identity 4 (attribute 1), which the query drops, and for 3 (0), which it keeps.
  umcM->getMetaDataByIndex(4)->identityResult(0);
  umcM->getMetaDataByIndex(3)->identityResult(0);
  EXPECT_EQ(umcM->getResultsSize(0), 2u);
  const Words queryL{3, 1, 0xFFFFFFFF, 1, 0};  // attribute 1 != 1
  umcM->processQueryLanguage(0, queryL.data(), 2, QueryFilterModeDefault);
  EXPECT_EQ(states(0), (std::vector<int>{1, 0, 1, 3, 0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(umcM->getResultsSize(0), 1u);
  EXPECT_EQ(umcM->calcNumberOfSelectedIdRecords(0), 7u);
  // One thread per entry and more threads than entries give the same labels.
  umcM->resetResultContainer(0);
  umcM->processQueryLanguage(0, queryL.data(), 16, QueryFilterModeDefault);
  EXPECT_EQ(states(0), (std::vector<int>{1, 0, 1, 1, 0, 1, 1, 0, 1, 1}));
  umcM->processQueryLanguage(0, Words{0}.data(), 1, QueryFilterModeDefault);
  EXPECT_EQ(umcM->calcNumberOfSelectedIdRecords(0), 0u);
  umcM->processQueryLanguage(0, nullptr, 3, QueryFilterModeDefault);
  EXPECT_EQ(umcM->calcNumberOfSelectedIdRecords(0), 10u);
  EXPECT_KXXCP_MESSAGE(
      umcM->processQueryLanguage(0, queryL.data(), 1, static_cast<QueryFilterMode>(1)),
      "unknown filter mode.");

  IdRecordKey keyL;
  EXPECT_TRUE(umcM->searchTransactionIdByQueryLanguage(Words{3, 1, 1, 2, 0}.data(), keyL));
  EXPECT_EQ(keyL, IdRecordKey(2, 2));
  EXPECT_FALSE(umcM->searchTransactionIdByQueryLanguage(Words{3, 1, 1, 7, 0}.data(), keyL));
  std::vector<IdRecordKey> idsL{{1, 1}};
  umcM->getIdsByQueryLanguage(0, Words{3, 1, 1, 2, 0}.data(), idsL);
  EXPECT_EQ(idsL, (std::vector<IdRecordKey>{{2, 2}, {5, 5}, {8, 8}}));
}

// Two identifications filter at once on their own probe indexes (run under ThreadSanitizer).
TEST_F(UniqueMetadataContainerTest, ConcurrentFiltersOfTwoProbes) {
  for (unsigned iL = 0; iL < 3000; ++iL) add(iL, iL, iL % 5);
  for (unsigned iL = 0; iL < 3000; iL += 7) umcM->getMetaDataByIndex(iL)->identityResult(1);
  const Words evenL{3, 1, 0xFFFFFFFD, 1, 0};  // attribute 1 has bit 0 clear
  const Words smallL{3, 1, 0xFFFFFFFC, 2, 0};
  std::thread aL([&] { umcM->processQueryLanguage(0, evenL.data(), 2, QueryFilterModeDefault); });
  std::thread bL([&] { umcM->processQueryLanguage(1, smallL.data(), 2, QueryFilterModeDefault); });
  aL.join();
  bL.join();
  for (unsigned iL = 0; iL < 3000; ++iL) {
    const IdentityMetadata* mL = umcM->getMetaDataByIndex(iL);
    const unsigned aL1 = iL % 5;
    EXPECT_EQ(mL->getResultState(0), aL1 % 2 == 0 ? 1 : 0) << iL;
    const int expectedL = aL1 < 2 ? (iL % 7 == 0 ? 3 : 1) : 0;
    EXPECT_EQ(mL->getResultState(1), expectedL) << iL;
  }
}

TEST_F(UniqueMetadataContainerTest, FilterStateWord) {
  add(1, 1);
  IdentityMetadata* mL = umcM->getMetaDataByIndex(0);
  umcM->setUseFilterScores(1, true);
  EXPECT_FALSE(umcM->useFilterScores(0));
  mL->setFilterSelected(1, 2);
  mL->addFilterScore(1, 1.5f);
  mL->addFilterScore(1, 2.5f);
  EXPECT_EQ(mL->getFilterScoreCount(1), 2);
  EXPECT_FLOAT_EQ(mL->getFilterScore(1), 2.0f);
  EXPECT_TRUE(mL->getFilterSelected(1, 3, 2));
  EXPECT_FALSE(mL->getFilterSelected(1, 2, 2));  // count not below the limit
  EXPECT_FALSE(mL->getFilterSelected(1, 3, 3));  // level too low
  mL->setFilterSelected(1, -1);                  // signed: below every level of 0 and more
  EXPECT_FALSE(mL->getFilterSelected(1, 3, 0));
  mL->setFilterSelected(1, 2);
  mL->resetFilterScores(1);
  EXPECT_EQ(mL->getFilterSelectedLevel(1), 2);
  EXPECT_EQ(mL->getFilterScore(1), 0.0f);
  EXPECT_TRUE(mL->getFilterSelectedReset(1, 2));
  EXPECT_EQ(mL->stateWord(1), 0u);
  EXPECT_FALSE(mL->getFilterSelectedReset(1, 1));
  // Labels of a filter-mode probe set the level, never a result marker.
  umcM->setAllSelected(1, true);
  EXPECT_EQ(mL->getFilterSelectedLevel(1), 1);
  EXPECT_EQ(mL->getIdentityResult(1), nullptr);
  for (int iL = 0; iL < 130; ++iL) mL->addFilterScore(1, 1.0f);
  EXPECT_EQ(mL->getFilterScoreCount(1), 127);
}

TEST_F(UniqueMetadataContainerTest, SortAndCleanKeepsTheBestWithTiesAtTheCut) {
  umcM->initAddNewTripple(ModalityIris, InstanceIrisLeft, AlgMvxIris2PiSdk, 0);
  const float scoresL[] = {0.5f, 0.9f, 0.7f, 0.7f, 0.7f, 0.1f};
  for (unsigned iL = 0; iL < 6; ++iL) {
    IdentityResult* rL = add(iL, iL)->identityResult(0);
    rL->addRawScore(0, KXuint128{0, iL}, scoresL[iL], true, false, false);
    rL->increaseCount(AlgMvxIris2PiSdk);
  }
  add(6, 6)->labelAsSelected(0, true);  // labelled, no scores
  IdentityResult* noCountL = add(7, 7)->identityResult(0);
  noCountL->addRawScore(0, KXuint128{}, 5.0f, true, false, false);  // scored, count 0

  umcM->sortAndCleanResultContainer(0, false, 3, true);
  // 0.9 stays, and two of the three 0.7 (the first in key order); the labelled entry is kept
  // as rest, the one without counts is a rest too.
  EXPECT_EQ(states(0), (std::vector<int>{0, 3, 3, 3, 0, 0, 1, 3}));
  umcM->sortAndCleanResultContainer(0, false, 1, false);
  EXPECT_EQ(states(0), (std::vector<int>{0, 3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(umcM->getResultsSize(0), 1u);
  umcM->sortAndCleanResultContainer(0, false, 0, false);
  EXPECT_EQ(umcM->getResultsSize(0), 1u);
}

TEST_F(UniqueMetadataContainerTest, FilterSelectionBecomesCandidates) {
  for (unsigned iL = 0; iL < 4; ++iL) add(iL, iL);
  umcM->setUseFilterScores(0, true);
  const int levelsL[] = {0, 1, 2, 1};
  const float scoresL[] = {9.0f, 1.0f, 3.0f, 2.0f};
  for (unsigned iL = 0; iL < 4; ++iL) {
    umcM->getMetaDataByIndex(iL)->setFilterSelected(0, levelsL[iL]);
    umcM->getMetaDataByIndex(iL)->addFilterScore(0, scoresL[iL]);
  }
  umcM->sortAndCleanResultContainer(0, true, 2, true, 1);
  EXPECT_EQ(umcM->getMetaDataByIndex(0)->getFilterSelectedLevel(0), 0);
  EXPECT_NE(umcM->getMetaDataByIndex(0)->stateWord(0), 0u);  // rest at level 0
  EXPECT_EQ(umcM->getMetaDataByIndex(1)->stateWord(0), 0u);  // lowest candidate
  EXPECT_EQ(umcM->selectAndCleanFilterIntoRealResultContainer(0, 1), 2u);
  EXPECT_FALSE(umcM->useFilterScores(0));
  EXPECT_EQ(states(0), (std::vector<int>{0, 0, 1, 1}));
}

TEST_F(UniqueMetadataContainerTest, ResultLifeCycle) {
  IdentityMetadata* aL = add(1, 1);
  IdentityMetadata* bL = add(2, 2);
  IdentityResult* rL = aL->identityResult(1);
  EXPECT_EQ(aL->identityResult(1), rL);
  EXPECT_EQ(rL->identityMetadata(), aL);
  rL->increaseCount(AlgL2f);
  bL->identityResult(1);
  EXPECT_TRUE(aL->getRealSelected(1, 2));
  EXPECT_FALSE(aL->getRealSelected(1, 1));
  EXPECT_EQ(umcM->selectAndCleanByAlgCountResultContainer(1, 1), 1u);
  EXPECT_EQ(bL->getResultState(1), 0);
  umcM->resetRealAlgCountResultContainer(1);
  EXPECT_EQ(rL->getAlgCount(), 0);
  umcM->setDirtyResultsFlag(1, true);
  EXPECT_TRUE(umcM->dirtyResults(1));
  umcM->resetResultContainer(1);
  EXPECT_FALSE(umcM->dirtyResults(1));
  EXPECT_EQ(umcM->getResultsSize(1), 0u);
  EXPECT_EQ(aL->getResultState(1), 0);
  // A removed identity takes its results along.
  aL->identityResult(0);
  umcM->removeIdRecordKey(IdRecordKey(1, 1));
  EXPECT_EQ(umcM->getResultsSize(0), 0u);
}

// A probe's candidates stay sparse (only identities with a registered result have a state)
// until something labels entries wholesale; a reset of sparse candidates visits the registered
// ones alone, and every reset leaves no state behind.
TEST_F(UniqueMetadataContainerTest, SparseCandidatesAndTheirReset) {
  for (std::uint64_t p = 1; p <= 6; ++p) add(p, p, static_cast<unsigned>(p % 2));
  const std::vector<IdentityMetadata*> entriesL = umcM->getInternalMetadataVector();
  const auto zeroL = std::vector<int>(6, 0);
  using Step = std::function<void()>;
  // What labels wholesale, each followed by a result so that the reset has both kinds.
  const std::vector<std::pair<const char*, Step>> labellingL = {
      {"setAllSelected", [&] { umcM->setAllSelected(1, true); }},
      {"selectByPersonList",
       [&] {
         umcM->selectByPersonList(1, {2, 4}, 0);
       }},
      {"selectByTransactionList", [&] { umcM->selectByTransactionList(1, {3}, 0); }},
      {"resetQueryLanguageAndIdentityResult",
       [&] { umcM->resetQueryLanguageAndIdentityResult(1, true); }},
      {"setUseFilterScores", [&] { umcM->setUseFilterScores(1, true); }},
      {"selectAndCleanFilterIntoRealResultContainer",
       [&] { umcM->selectAndCleanFilterIntoRealResultContainer(1, 0); }},
  };
  EXPECT_TRUE(umcM->sparseCandidates(1));
  for (const auto& [nameL, stepL] : labellingL) {
    SCOPED_TRACE(nameL);
    entriesL[0]->identityResult(1);
    EXPECT_TRUE(umcM->sparseCandidates(1));
    stepL();
    EXPECT_FALSE(umcM->sparseCandidates(1));
    umcM->setUseFilterScores(1, false);
    umcM->resetResultContainer(1);
    EXPECT_EQ(states(1), zeroL);
    EXPECT_TRUE(umcM->sparseCandidates(1));
  }
  // A query filter, on several threads.
  umcM->processQueryLanguage(1, Words{3, 1, 1, 1, 0}.data(), 2, QueryFilterModeDefault);
  EXPECT_FALSE(umcM->sparseCandidates(1));
  umcM->resetResultContainer(1);
  EXPECT_EQ(states(1), zeroL);
  // Sparse: the results of one probe go, the other probe's stay.
  entriesL[1]->identityResult(1);
  entriesL[4]->identityResult(1);
  entriesL[4]->identityResult(0);
  umcM->resetResultContainer(1);
  EXPECT_EQ(states(1), zeroL);
  EXPECT_EQ(umcM->getResultsSize(1), 0u);
  EXPECT_EQ(states(0), (std::vector<int>{0, 0, 0, 0, 3, 0}));
  // Results made while the container registers nothing are found by the full walk only.
  umcM->getResultContainer(1)->setLocking(false);
  entriesL[2]->identityResult(1);
  umcM->getResultContainer(1)->setLocking(true);
  EXPECT_FALSE(umcM->sparseCandidates(1));
  umcM->resetResultContainer(1);
  EXPECT_EQ(states(1), zeroL);
}

TEST_F(UniqueMetadataContainerTest, StateImage) {
  for (unsigned iL = 0; iL < 5; ++iL) add(iL, iL);
  umcM->getMetaDataByIndex(1)->labelAsSelected(0, true);
  umcM->getMetaDataByIndex(4)->identityResult(0);
  umcM->resetCurrentStateImage(0);
  const qrimg::ByteImage& imageL = umcM->getCurrentStateImage();
  ASSERT_EQ(imageL.width(), 3);
  ASSERT_EQ(imageL.height(), 2);
  EXPECT_EQ(imageL.at(1, 0), 96);
  EXPECT_EQ(imageL.at(1, 1), 160);
  umcM->hightlightTopScoreInStateImage(IdRecordKey(3, 3));
  EXPECT_EQ(umcM->getCurrentStateImage().at(0, 1), 255);
}

TEST(IdentityMetadataStandAlone, NeedsAContainerForState) {
  RegistryConfig configL(kAttributes);
  IdentityMetadata mL(IdRecordKey(3, 4));
  EXPECT_EQ(mL.stateWord(0), 0u);
  EXPECT_EQ(mL.getResultState(0), 0);
  EXPECT_KXXCP_MESSAGE(mL.labelAsSelected(0, true), "probe index 0 out of range (0 probes).");
  EXPECT_KXXCP_MESSAGE(mL.init(nullptr), "UniqueMetadataContainer is NULL");
}

// --- the real container behind the gallery files -------------------------------------------

TEST_F(UniqueMetadataContainerTest, GalleryFilesResolveTheirEntries) {
  quarlen_test::TempDir dirL;
  IdentityMetadata* knownL = add(1, 1);
  {
    MultipassFileIO filesL(dirL.path(), 10, "g", {64});
    filesL.create(0, 0);
    const unsigned char blobL[16] = {1};
    filesL.add(*knownL, blobL, 16);
    IdentityMetadata strangerL(IdRecordKey(2, 2));
    filesL.add(strangerL, blobL, 16);
    ASSERT_TRUE(filesL.writeCacheToDisk());
  }
  MultipassFileIO filesL(dirL.path(), 10, "g", {64});
  filesL.open();
  filesL.readIdRecKeyToBlobOffsetMap("g", *umcM);
  const auto& indexL = filesL.getIdRecKeyToBlobOffsetMap();
  ASSERT_EQ(indexL.size(), 2u);
  EXPECT_EQ(indexL[0].metadata, knownL);
  EXPECT_EQ(indexL[1].metadata, nullptr);
}

}  // namespace
}  // namespace qridy

namespace qridy {
namespace {

// In a fresh process (nothing has fixed the attribute count yet) a registry made before any
// query-language record sizes its entries for the count the configuration gives.
TEST(UniqueMetadataContainerFreshProcess, EntriesAreSizedForTheConfiguredAttributeCount) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        quarlen_test::TempDir dirL;
        kxutl::QuarlenInformation::setConfigFile(
            dirL.write("quarlen.ini",
                       "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 86\nStringIdentifierData = 8\n"
                       "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 1\n"));
        UniqueMetadataContainer umcL(ModalityFace);
        std::vector<unsigned int> valuesL(16);
        for (unsigned p = 0; p < 3; ++p) {
          for (unsigned i = 0; i < 16; ++i) valuesL[i] = 100 * p + i;
          QueryLanguage qL;
          qL.setAttributes(p, valuesL.data());
          umcL.addIdRecordKey(IdRecordKey(p, p), &qL, nullptr, 0, false);
        }
        bool sameL = QueryLanguage::attributeSize() == 16;
        for (unsigned p = 0; p < 3; ++p) {
          const unsigned int* wL =
              umcL.getMetaDataByIdRecordKey(IdRecordKey(p, p))->queryLanguage().attributes();
          for (unsigned i = 0; i < 16; ++i) sameL = sameL && wL[i + 1] == 100 * p + i;
        }
        std::exit(sameL ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qridy
