#include "Output.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <quarlen/BioRecordImp.h>
#include <quarlen/Types.h>

namespace quarlen_cli {

CLI::App makeApp(const std::string& nameA) {
  return CLI::App("quarlen " + nameA, "quarlen " + nameA);
}

bool parseArguments(CLI::App& appA, const std::vector<std::string>& argsA) {
  // CLI11 takes the arguments last first.
  appA.set_help_flag();
  std::vector<std::string> reversedL(argsA.rbegin(), argsA.rend());
  try {
    appA.parse(reversedL);
  } catch (const CLI::ParseError& e) {
    fail(appA.get_name(), e.what());
    return false;
  }
  return true;
}

int fail(const std::string& commandA, const std::string& messageA) {
  std::string lineL = messageA;
  while (!lineL.empty() && std::isspace(static_cast<unsigned char>(lineL.front()))) {
    lineL.erase(lineL.begin());
  }
  std::replace(lineL.begin(), lineL.end(), '\n', ' ');
  std::cerr << commandA << ": " << lineL << "\n";
  return kExitFailure;
}

int guarded(const std::string& commandA, const std::function<int()>& bodyA) {
  try {
    return bodyA();
  } catch (const std::exception& e) {
    // kxxcp::Exception: what() is its message.
    return fail(commandA, e.what());
  }
}

void printJson(const nlohmann::json& documentA) {
  std::cout << documentA.dump(2) << "\n";
}

bool parseKey(const std::string& textA, qridy::IdRecordKey& keyA) {
  unsigned long long pL = 0, tL = 0;
  int usedL = 0;
  if (textA.empty() || !std::isdigit(static_cast<unsigned char>(textA[0]))) return false;
  if (std::sscanf(textA.c_str(), "%llu:%llu%n", &pL, &tL, &usedL) != 2) return false;
  if (static_cast<std::size_t>(usedL) != textA.size()) return false;
  // sscanf lets blanks and signs stand before the transaction; the text has a ':' here.
  if (!std::isdigit(static_cast<unsigned char>(textA[textA.find(':') + 1]))) return false;
  keyA = qridy::IdRecordKey(pL, tL);
  return true;
}

nlohmann::json keyJson(const qridy::IdRecordKey& keyA) {
  return {{"person", keyA.personId}, {"transaction", keyA.transactionId}};
}

nlohmann::json candidateJson(const qridy::ResultIdRecord& resultA, std::size_t rankA) {
  nlohmann::json blocksL = nlohmann::json::array();
  for (const auto& [hashL, bioL] : resultA.bioRecords()) {
    qridy::Modality modalityL;
    qridy::Instance instanceL;
    qridy::BioRecordImp::decryptHashKey(hashL, modalityL, instanceL);
    for (const auto& [sampleL, templateL] : bioL.templates()) {
      std::ostringstream sampleTextL;
      sampleTextL << sampleL.high << ":" << sampleL.low;
      for (const auto& [algorithmL, blockL] : templateL.blocks()) {
        blocksL.push_back({{"modality", qridy::Types::modality2Text(modalityL)},
                           {"instance", qridy::Types::instance2Text(instanceL)},
                           {"sample", sampleTextL.str()},
                           {"algorithm", qridy::Types::algorithm2Text(algorithmL)},
                           {"score", blockL.getScore()}});
      }
    }
  }
  nlohmann::json candidateL;
  if (rankA != 0) candidateL["rank"] = rankA;
  candidateL["person"] = resultA.personId();
  candidateL["transaction"] = resultA.transactionId();
  candidateL["score"] = resultA.getScore();
  candidateL["blocks"] = blocksL;
  return candidateL;
}

nlohmann::json candidatesJson(const qridy::ResultTreeList& resultsA, std::size_t topA) {
  nlohmann::json listL = nlohmann::json::array();
  for (std::size_t r = 0; r < std::min(topA, resultsA.size()); ++r) {
    listL.push_back(candidateJson(resultsA[r], r + 1));
  }
  return listL;
}

std::string candidatesTable(const qridy::ResultTreeList& resultsA, std::size_t topA) {
  std::ostringstream osL;
  osL << "rank  person        transaction   score\n";
  for (std::size_t r = 0; r < std::min(topA, resultsA.size()); ++r) {
    osL << std::setw(4) << r + 1 << "  " << std::left << std::setw(12) << resultsA[r].personId()
        << "  " << std::setw(12) << resultsA[r].transactionId() << std::right << "  " << std::fixed
        << std::setprecision(4) << resultsA[r].getScore() << "\n";
  }
  return osL.str();
}

}  // namespace quarlen_cli
