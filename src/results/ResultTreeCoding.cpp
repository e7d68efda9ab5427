#include <quarlen/ResultTreeCoding.h>

#include <cstdint>
#include <sstream>

#include <qrlcore/Exception.h>

#include "common/Coding.h"

namespace qridy {

namespace {

constexpr const char* kDecodeFunction = "qridy::ResultTreeCoding::decode";
constexpr std::uint16_t kVersion = 1;

// The smallest encoding of each element, to bound counts by the bytes that are left.
constexpr std::size_t kRecordBytes = 8 + 8 + 4 + 4 + 4;
constexpr std::size_t kBioRecordBytes = 4 + 4 + 4;
constexpr std::size_t kTemplateBytes = 8 + 8 + 4 + 4;
constexpr std::size_t kBlockBytes = 4 + 4 + 1;

void appendFloat(std::string& dstA, float vA) {
  unsigned char bL[4];
  coding::encodeFloat32(bL, vA);
  dstA.append(reinterpret_cast<const char*>(bL), 4);
}

void appendText(std::string& dstA, const char* dataA, std::size_t sizeA) {
  coding::appendFixed32(dstA, static_cast<std::uint32_t>(sizeA));
  if (sizeA != 0) dstA.append(dataA, sizeA);
}

[[noreturn]] void fail(const std::string& whatA) {
  KXXCP_THROW(kDecodeFunction, "Result list: " << whatA);
}

class Reader {
 public:
  Reader(const unsigned char* dataA, std::size_t sizeA) : curM(dataA, sizeA) {}
  std::uint64_t u64(const char* whatA) {
    std::uint64_t vL = 0;
    if (!curM.getFixed64(vL)) early(whatA);
    return vL;
  }
  std::uint16_t u16(const char* whatA) {
    std::uint16_t vL = 0;
    if (!curM.getFixed16(vL)) early(whatA);
    return vL;
  }
  std::uint32_t u32(const char* whatA) {
    std::uint32_t vL = 0;
    if (!curM.getFixed32(vL)) early(whatA);
    return vL;
  }
  float f32(const char* whatA) {
    float vL = 0.0f;
    if (!curM.getFloat32(vL)) early(whatA);
    return vL;
  }
  std::uint8_t u8(const char* whatA) {
    std::uint8_t vL = 0;
    if (!curM.getBytes(&vL, 1)) early(whatA);
    return vL;
  }
  // A count of elements of at least elementA bytes each, refused when the rest cannot hold them.
  std::uint32_t count(const char* whatA, std::size_t elementA) {
    const std::uint32_t nL = u32(whatA);
    if (static_cast<std::uint64_t>(nL) * elementA > curM.remaining()) {
      std::ostringstream osL;
      osL << whatA << " '" << nL << "' exceeds the " << curM.remaining() << " bytes left";
      fail(osL.str());
    }
    return nL;
  }
  std::string text(const char* whatA) {
    const std::uint32_t nL = count(whatA, 1);
    std::string sL(nL, '\0');
    curM.getBytes(sL.data(), nL);
    return sL;
  }
  std::size_t remaining() const { return curM.remaining(); }

 private:
  [[noreturn]] void early(const char* whatA) { fail(std::string("bytes end before the ") + whatA); }
  coding::Cursor curM;
};

}  // namespace

std::string ResultTreeCoding::encode(const ResultTreeList& listA) {
  std::string outL = "RL";
  coding::appendFixed16(outL, kVersion);
  coding::appendFixed32(outL, static_cast<std::uint32_t>(listA.size()));
  for (const ResultIdRecord& rL : listA.resultIdRecordVector()) {
    coding::appendFixed64(outL, rL.personId());
    coding::appendFixed64(outL, rL.transactionId());
    appendFloat(outL, rL.getScore());
    appendText(outL, rL.getSID(), rL.getSID() != nullptr ? rL.getSIDSize() : 0);
    coding::appendFixed32(outL, static_cast<std::uint32_t>(rL.bioRecords().size()));
    for (const auto& [keyL, bioL] : rL.bioRecords()) {
      coding::appendFixed32(outL, keyL);
      appendFloat(outL, bioL.getScore());
      coding::appendFixed32(outL, static_cast<std::uint32_t>(bioL.templates().size()));
      for (const auto& [sampleL, templateL] : bioL.templates()) {
        coding::appendFixed64(outL, sampleL.high);
        coding::appendFixed64(outL, sampleL.low);
        appendFloat(outL, templateL.getScore());
        coding::appendFixed32(outL, static_cast<std::uint32_t>(templateL.blocks().size()));
        for (const auto& [algorithmL, blockL] : templateL.blocks()) {
          coding::appendFixed32(outL, static_cast<std::uint32_t>(algorithmL));
          appendFloat(outL, blockL.getScore());
          outL.push_back(blockL.isNormalaizedScore() ? 1 : 0);
        }
      }
    }
  }
  const std::string& missL = listA.missAnalysisResult();
  appendText(outL, missL.data(), missL.size());
  return outL;
}

ResultTreeList ResultTreeCoding::decode(const unsigned char* dataA, std::size_t sizeA,
                                        std::deque<std::string>& sidStoreA) {
  if (sizeA < 4 || dataA[0] != 'R' || dataA[1] != 'L') fail("wrong magic");
  Reader inL(dataA + 2, sizeA - 2);
  const std::uint16_t versionL = inL.u16("version");
  if (versionL != kVersion) {
    std::ostringstream osL;
    osL << "version '" << versionL << "' is not " << kVersion;
    fail(osL.str());
  }
  ResultTreeList listL;
  const std::uint32_t recordsL = inL.count("record count", kRecordBytes);
  listL.reserve(recordsL);
  for (std::uint32_t r = 0; r < recordsL; ++r) {
    const std::uint64_t personL = inL.u64("person id");
    ResultIdRecord recordL(personL, inL.u64("transaction id"));
    recordL.scoreM = inL.f32("identity score");
    std::string sidL = inL.text("SID length");
    if (!sidL.empty()) {
      sidStoreA.push_back(std::move(sidL));
      recordL.setSID(sidStoreA.back().data(), static_cast<std::uint32_t>(sidStoreA.back().size()));
    }
    const std::uint32_t biosL = inL.count("biometric record count", kBioRecordBytes);
    for (std::uint32_t b = 0; b < biosL; ++b) {
      ResultBioRecord& bioL = recordL.getBioRecord(inL.u32("biometric record key"), true);
      bioL.scoreM = inL.f32("biometric record score");
      const std::uint32_t templatesL = inL.count("template count", kTemplateBytes);
      for (std::uint32_t t = 0; t < templatesL; ++t) {
        KXuint128 sampleL;
        sampleL.high = inL.u64("sample id");
        sampleL.low = inL.u64("sample id");
        ResultTemplate& templateL = bioL.templatesM[sampleL];
        templateL.scoreM = inL.f32("template score");
        const std::uint32_t blocksL = inL.count("block count", kBlockBytes);
        for (std::uint32_t k = 0; k < blocksL; ++k) {
          const auto algorithmL = static_cast<Algorithm>(inL.u32("algorithm"));
          const float scoreL = inL.f32("block score");
          templateL.blocksM[algorithmL].setScore(scoreL, inL.u8("normalised flag") != 0);
        }
      }
    }
    listL.push_back(recordL);
  }
  listL.setMissAnalysisResult(inL.text("miss-analysis length"));
  if (inL.remaining() != 0) {
    std::ostringstream osL;
    osL << inL.remaining() << " bytes follow the list";
    fail(osL.str());
  }
  return listL;
}

}  // namespace qridy
