#pragma once

#include <string>
#include <vector>

namespace quarlen_cli {

// One subcommand of the quarlen tool. run() receives the arguments after the subcommand name
// and returns the process exit code. Every subcommand answers --help with its usage text.
struct Command {
  const char* name;
  const char* summary;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

// True when args ask for help; prints the usage of cmd then.
bool wantsHelp(const Command& cmd, const std::vector<std::string>& args);

int runInfo(const std::vector<std::string>& args);
int runDemo(const std::vector<std::string>& args);
int runValidate(const std::vector<std::string>& args);
int runDump(const std::vector<std::string>& args);
int runPipeline(const std::vector<std::string>& args);
int runMapScore(const std::vector<std::string>& args);
int runDescriptor(const std::vector<std::string>& args);
int runGallery(const std::vector<std::string>& args);
int runEnrol(const std::vector<std::string>& args);
int runIdentify(const std::vector<std::string>& args);
int runVerify(const std::vector<std::string>& args);
int runRemove(const std::vector<std::string>& args);
int runQuery(const std::vector<std::string>& args);
int runSampleRecords(const std::vector<std::string>& args);
int runVerifyImages(const std::vector<std::string>& args);
int runEnrolImage(const std::vector<std::string>& args);
// enrol / identify with --sharded, under mpirun (built when MPI is found).
int runShardedEnrol(const std::vector<std::string>& args);
int runShardedIdentify(const std::vector<std::string>& args);

}  // namespace quarlen_cli
