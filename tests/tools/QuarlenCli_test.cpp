// The gallery commands of the quarlen tool, run as a user runs them: a session over one gallery
// folder, and the ways they fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "support/Environment.h"

namespace {

using nlohmann::json;

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& fileA) {
  std::ifstream isL(fileA, std::ios::binary);
  std::ostringstream osL;
  osL << isL.rdbuf();
  return osL.str();
}

std::string quoted(const std::string& argA) {
  std::string qL = "'";
  for (char c : argA) qL += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return qL + "'";
}

class QuarlenCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef QUARLEN_CLI
    GTEST_SKIP() << "the quarlen tool is not built";
#endif
  }

  // Runs the tool with argsA inside the test's folder.
  Outcome run(const std::vector<std::string>& argsA) const {
#ifdef QUARLEN_CLI
    std::string commandL = "cd " + quoted(dirM.path()) + " && " + quoted(QUARLEN_CLI);
    for (const auto& a : argsA) commandL += " " + quoted(a);
    commandL += " >out.txt 2>err.txt";
    const int statusL = std::system(commandL.c_str());
    Outcome rL;
    rL.exit = WIFEXITED(statusL) ? WEXITSTATUS(statusL) : -1;
    rL.out = slurp(dirM.path() + "/out.txt");
    rL.err = slurp(dirM.path() + "/err.txt");
    return rL;
#else
    return {};
#endif
  }

  // Runs a command that must succeed with --json; returns its document.
  json runJson(std::vector<std::string> argsA) const {
    argsA.push_back("--json");
    const Outcome rL = run(argsA);
    EXPECT_EQ(rL.exit, 0) << argsA[0] << ": " << rL.err;
    EXPECT_EQ(rL.err, "") << argsA[0];
    return json::parse(rL.out, nullptr, false);
  }

  // A face gallery of 40 sample identities (person i, transaction i + 1) with region 7 and age
  // 15, and probes of persons 0 and 1.
  void makeGallery() const {
    runJson({"sample-records", "s", "--identities", "40", "--probes", "2"});
    runJson({"gallery", "create", "g"});
    runJson({"enrol", "g", "s/gallery.qir", "--set", "region=7, age=15"});
  }

  quarlen_test::TempDir dirM;
};

TEST_F(QuarlenCliTest, GoldenSession) {
  const json samplesL = runJson({"sample-records", "s", "--identities", "40", "--probes", "2"});
  EXPECT_EQ(samplesL["records"], 40);
  EXPECT_EQ(samplesL["files"].size(), 4u);

  const json createdL = runJson({"gallery", "create", "g"});
  EXPECT_EQ(createdL["modality"], "face");
  EXPECT_EQ(createdL["storage"], "face");
  EXPECT_EQ(createdL["pipeline"], "face");
  EXPECT_EQ(createdL["folder"], dirM.path() + "/g");

  const json enrolledL = runJson({"enrol", "g", "s/gallery.qir", "--set", "region=7, age=15"});
  EXPECT_EQ(enrolledL["enrolled"], 40);
  EXPECT_EQ(enrolledL["persons"], 40);
  EXPECT_EQ(enrolledL["records"], 40);
  // A second run adds to the gallery the first one left on disk: a record of region 3.
  EXPECT_EQ(runJson({"enrol", "g", "s/probe-0.qir", "--set", "region=3 a0=5000"})["records"], 41);

  const json hitL = runJson({"identify", "g", "s/probe-1.qir", "--top", "3"});
  EXPECT_EQ(hitL["probe"], (json{{"person", 0}, {"transaction", 1001}}));
  EXPECT_EQ(hitL["slot"], 0);
  EXPECT_EQ(hitL["query"], nullptr);
  EXPECT_EQ(hitL["gallery_records"], 41);
  ASSERT_EQ(hitL["candidates"].size(), 3u);
  const json& bestL = hitL["candidates"][0];
  EXPECT_EQ(bestL["rank"], 1);
  EXPECT_EQ(bestL["person"], 1);
  EXPECT_EQ(bestL["transaction"], 2);
  EXPECT_EQ(hitL["candidates"][2]["rank"], 3);
  EXPECT_GE(bestL["score"], hitL["candidates"][1]["score"]);
  EXPECT_GE(hitL["candidates"][1]["score"], hitL["candidates"][2]["score"]);
  std::vector<std::string> algorithmsL;
  for (const auto& b : bestL["blocks"]) {
    EXPECT_EQ(b["modality"], "face");
    EXPECT_EQ(b["instance"], "faceFrontal");
    EXPECT_EQ(b["sample"], "0:2");
    algorithmsL.push_back(b["algorithm"]);
  }
  EXPECT_EQ(algorithmsL, (std::vector<std::string>{"hgmFloat", "hgmByte"}));

  // The query narrows the candidates to the region-3 record.
  const json narrowL =
      runJson({"identify", "g", "s/probe-1.qir", "--query", "region = 3", "--slot", "3"});
  EXPECT_EQ(narrowL["query"], "region = 3");
  EXPECT_EQ(narrowL["slot"], 3);
  ASSERT_EQ(narrowL["candidates"].size(), 1u);
  EXPECT_EQ(narrowL["candidates"][0]["transaction"], 1000);

  const json mateL = runJson({"verify", "g", "s/probe-1.qir", "s/mate-1.qir"});
  const json strangerL = runJson({"verify", "g", "s/probe-1.qir", "s/mate-0.qir"});
  EXPECT_EQ(mateL["person"], 1);
  EXPECT_EQ(mateL["probe"], (json{{"person", 0}, {"transaction", 1001}}));
  EXPECT_EQ(mateL["score"], bestL["score"]);
  EXPECT_GT(mateL["score"], strangerL["score"]);
  EXPECT_FALSE(mateL.contains("rank"));

  const json queryL = runJson({"query", "g", "region=3 or age in 10..20 and a0 < 3"});
  EXPECT_EQ(queryL["query"], "region = 3 or age in 10..20 and a0 < 3");
  EXPECT_EQ(queryL["words"],
            (std::vector<unsigned>{3, 1, 1, 3, 7, 3, 2, 10, 20, 0, 0xFFFFFFFCu, 3, 0}));
  EXPECT_EQ(queryL["matches"], (json{{{"person", 0}, {"transaction", 1}},
                                     {{"person", 0}, {"transaction", 1000}},
                                     {{"person", 1}, {"transaction", 2}}}));

  // Words a run does not set are 0; a0 was set for the region-3 record only.
  EXPECT_EQ(runJson({"query", "g", "flags != 0"})["matches"], json::array());
  EXPECT_EQ(runJson({"query", "g", "a0 = 5000"})["matches"],
            (json{{{"person", 0}, {"transaction", 1000}}}));
  EXPECT_EQ(runJson({"identify", "g", "s/probe-1.qir"})["candidates"].size(), 10u);

  // The texts for people.
  EXPECT_EQ(run({"query", "g", "a0 = 5000"}).out,
            "query: a0 = 5000\nwords: 3 0 1 5000 0\n1 records match\n0:1000\n");
  const std::string verifiedL = run({"verify", "g", "s/probe-1.qir", "s/mate-1.qir"}).out;
  EXPECT_TRUE(std::regex_match(verifiedL, std::regex("score [0-9]+\\.[0-9]{4} \\(1:2\\)\n")))
      << verifiedL;
  EXPECT_EQ(run({"sample-records", "t", "--identities", "3", "--probes", "1"}).out,
            "wrote 3 face records to t/gallery.qir and 1 probes (probe-<i>.qir of person i, "
            "mate-<i>.qir its enrolment record)\n");
  const json byKeyL = runJson({"remove", "g", "--key", "1:2"});
  EXPECT_EQ(byKeyL["removed"], 1);
  EXPECT_EQ(byKeyL["records"], 40);
  EXPECT_NE(runJson({"identify", "g", "s/probe-1.qir"})["candidates"][0]["person"], 1);
  const json byPersonL = runJson({"remove", "g", "--person", "0"});
  EXPECT_EQ(byPersonL["removed"], 2);
  EXPECT_EQ(byPersonL["persons"], 38);
  // a0 is the transaction id unless set: transactions 3 to 9 go.
  EXPECT_EQ(runJson({"remove", "g", "--query", "a0 < 10"})["removed"], 7);

  const json statusL = runJson({"gallery", "status", "g"});
  EXPECT_EQ(statusL["ok"], true);
  EXPECT_EQ(statusL["level"], 1);
  EXPECT_EQ(statusL["modality"], "face");
  EXPECT_EQ(statusL["persons"], 31);
  EXPECT_EQ(statusL["records"], 31);
  EXPECT_EQ(statusL["report"].get<std::string>().rfind(
                "<galleryStatus storage=\"face\" intensity=\"1\">", 0),
            0u);
  const Outcome textL = run({"gallery", "status", "g", "--level", "3"});
  EXPECT_EQ(textL.exit, 0) << textL.err;
  EXPECT_EQ(textL.out.rfind("face gallery g: 31 persons, 31 records\n<galleryStatus", 0), 0u);
  const Outcome tableL = run({"identify", "g", "s/probe-1.qir", "--top", "1"});
  EXPECT_EQ(tableL.out.substr(0, tableL.out.find('\n')), "rank  person        transaction   score");
  EXPECT_EQ(std::count(tableL.out.begin(), tableL.out.end(), '\n'), 2);
}

TEST_F(QuarlenCliTest, FailuresExitWithOneLine) {
  makeGallery();
  std::ofstream(dirM.path() + "/junk.qir") << "not a record";
  std::filesystem::create_directory(dirM.path() + "/damaged");
  std::ofstream(dirM.path() + "/damaged/gallery.json") << R"({"storage": "face"})";
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string line;  // after "quarlen <command>: "; a trailing '*' matches any rest
  };
  const Case casesL[] = {
      {{"identify", "g"}, 2, "quarlen identify: PROBE is required"},
      {{"identify", "g", "s/none.qir"}, 1, "quarlen identify: 's/none.qir' cannot be opened"},
      {{"identify", "nowhere", "s/probe-0.qir"},
       1,
       "quarlen identify: 'nowhere' is not a gallery folder (no gallery.json)"},
      {{"identify", "damaged", "s/probe-0.qir"},
       1,
       "quarlen identify: 'damaged' has a damaged gallery.json"},
      {{"identify", "g", "s/probe-0.qir", "--query", "regio=1"},
       1,
       "quarlen identify: Query text, column 1: unknown attribute 'regio'."},
      {{"identify", "g", "s/probe-0.qir", "--slot", "4"},
       1,
       "quarlen identify: probe slot 4 does not exist (0 to 3)"},
      {{"identify", "g", "s/probe-0.qir", "--top", "0"}, 2, "quarlen identify: --top: *"},
      {{"identify", "g", "junk.qir"}, 1, "quarlen identify: 'junk.qir': record 0: *"},
      {{"verify", "g", "s/gallery.qir", "s/mate-0.qir"},
       1,
       "quarlen verify: 's/gallery.qir' holds more than one identity record"},
      {{"enrol", "g", "s/mate-1.qir"},
       1,
       "quarlen enrol: 's/mate-1.qir': record 0 (1:2) was not enrolled: *"},
      {{"enrol", "g", "s/probe-0.qir", "--set", "age=x"},
       1,
       "quarlen enrol: Query text, column 5: expected a number, found 'x'."},
      {{"remove", "g"}, 2, "quarlen remove: one of --person, --key or --query is required"},
      {{"remove", "g", "--key", "1-2"},
       2,
       "quarlen remove: --key wants PERSON:TRANSACTION, not '1-2'"},
      {{"remove", "g", "--key", " 1:2"},
       2,
       "quarlen remove: --key wants PERSON:TRANSACTION, not ' 1:2'"},
      {{"remove", "g", "--key", "1: 2"},
       2,
       "quarlen remove: --key wants PERSON:TRANSACTION, not '1: 2'"},
      {{"remove", "g", "--key", "1:2:3"},
       2,
       "quarlen remove: --key wants PERSON:TRANSACTION, not '1:2:3'"},
      {{"remove", "g", "--key", "1:"},
       2,
       "quarlen remove: --key wants PERSON:TRANSACTION, not '1:'"},
      {{"remove", "g", "--key", "999:1"}, 1, "quarlen remove: record 999:1 is not in the gallery"},
      {{"remove", "g", "--person", "999"}, 1, "quarlen remove: person 999 is not in the gallery"},
      {{"remove", "g", "--person", "1", "--key", "1:2"},
       2,
       "quarlen remove: --person excludes --key"},
      {{"query", "g", "age in 3..1"},
       1,
       "quarlen query: Query text, column 8: the range 3..1 is empty."},
      {{"gallery"}, 2, "quarlen gallery: a subcommand is missing (create or status)"},
      {{"gallery", "drop", "g"},
       2,
       "quarlen gallery: unknown subcommand 'drop' (create or status)"},
      {{"gallery", "create", "g"},
       1,
       "quarlen gallery create: 'g' exists and is not an empty folder"},
      {{"gallery", "create", "v", "--modality", "voice"},
       2,
       "quarlen gallery create: unknown modality 'voice' (face, iris or finger)"},
      {{"gallery", "status", "g", "--level", "6"}, 2, "quarlen gallery status: --level: *"},
      {{"sample-records", "t", "--modality", "voice"},
       2,
       "quarlen sample-records: unknown modality 'voice' (face, iris or finger)"},
  };
  for (const Case& c : casesL) {
    const Outcome rL = run(c.args);
    const std::string whatL = c.args[0] + " " + c.args.back();
    EXPECT_EQ(rL.exit, c.exit) << whatL << ": " << rL.err;
    EXPECT_EQ(rL.out, "") << whatL;
    ASSERT_FALSE(rL.err.empty()) << whatL;
    EXPECT_EQ(std::count(rL.err.begin(), rL.err.end(), '\n'), 1) << rL.err;
    const std::string lineL = rL.err.substr(0, rL.err.size() - 1);
    if (c.line.back() == '*') {
      EXPECT_EQ(lineL.rfind(c.line.substr(0, c.line.size() - 1), 0), 0u) << lineL;
      EXPECT_GT(lineL.size(), c.line.size()) << lineL;
    } else {
      EXPECT_EQ(lineL, c.line);
    }
  }
  // Nothing of the failures reached the gallery.
  EXPECT_EQ(runJson({"gallery", "status", "g"})["records"], 40);
}

TEST_F(QuarlenCliTest, EveryGalleryCommandAnswersHelp) {
  for (const char* nameL :
       {"gallery", "enrol", "identify", "verify", "remove", "query", "sample-records"}) {
    const Outcome rL = run({nameL, "--help"});
    EXPECT_EQ(rL.exit, 0) << nameL;
    EXPECT_EQ(rL.out.rfind(std::string("usage: quarlen ") + nameL + " ", 0), 0u) << rL.out;
  }
}

}  // namespace
