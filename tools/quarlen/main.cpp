// quarlen: the command-line companion of the library.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>

#include "Commands.h"

namespace quarlen_cli {

// The subcommands, in the order `quarlen --help` lists them.
const Command kCommands[] = {
    {"info", "print the version, configuration, debug level and processor features",
     "usage: quarlen info\n\nPrints the library version, which system configuration file was found "
     "(or that none was),\nthe diagnostic level and the processor features the engines use.\n",
     runInfo},
    {"demo", "run the demonstration on self-generated data",
     "usage: quarlen demo [--identities N] [--probes N] [--finger-identities N]\n"
     "                    [--finger-probes N] [--face-noise X] [--iris-flips X]\n"
     "                    [--config DIR] [--keep]\n\n"
     "Runs the multipass matcher on a population it generates itself, from the example\n"
     "configuration (data/config, or DIR): one matcher per modality (face: hgmByte then\n"
     "hgmFloat; iris: both eyes with daugman2010; fingerprints: l2f on four fingers, then\n"
     "l2f360) enrols N face and iris identities (default 50000) and fewer fingerprint ones\n"
     "(default 500), identifies noisy probes (default 400 per modality, 100 for fingers) on\n"
     "every probe slot at once and prints the rank-1 hit rate and identifications per\n"
     "second, shows one probe's result list, restarts the matchers from their gallery files\n"
     "and shows the same answer. Progress goes to standard error. --keep leaves the\n"
     "galleries in place.\n",
     runDemo},
    {"validate", "check a stored identity record and print its validation text",
     "usage: quarlen validate FILE\n\nReads the identity record stored in FILE, checks every "
     "checksum in it and prints its\nvalidation text. Exits with 0 when the record is valid, 1 "
     "when validation fails or\nFILE does not hold a readable identity record (the reader's "
     "message says why),\n2 on a usage error.\n",
     runValidate},
    {"dump", "print the listing of a stored identity record",
     "usage: quarlen dump FILE\n\nReads the identity record stored in FILE and prints its "
     "listing: key, sId size and\nevery biometric record with its templates. Exits with 1 when "
     "FILE does not hold a\nreadable identity record (the reader's message says why).\n",
     runDump},
    {"pipeline", "print the configuration of one pipeline section of an XML file",
     "usage: quarlen pipeline FILE ID\n\nReads the section <multipass id=\"ID\"> of the pipeline "
     "XML file FILE and prints\nits stages, or the error that stops the reading.\n",
     runPipeline},
    {"map-score", "map a raw score through a score-mapping file (or back)",
     "usage: quarlen map-score FILE SCORE [--inverse]\n\nMaps the raw score SCORE through the "
     "score-mapping file FILE (triples of raw\nscore, -log10 FAR and slope) and prints the mapped "
     "value; with --inverse prints\nthe raw score whose mapped value is SCORE.\n",
     runMapScore},
    {"descriptor", "print what a stored sample descriptor holds; write its images",
     "usage: quarlen descriptor FILE [--write-images DIR]\n\nReads the sample descriptor "
     "stored in FILE (eye, face, fingerprint or iris) and\nprints its kind, header fields, which "
     "items it holds and the sizes of its images.\nWith --write-images, writes its images as PNG "
     "files into DIR (created when\nmissing). Exits with 1 when FILE does not hold a readable "
     "descriptor (the\nreader's message says why), 2 on a usage error.\n",
     runDescriptor},
};

bool wantsHelp(const Command& cmd, const std::vector<std::string>& args) {
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << cmd.usage;
      return true;
    }
  }
  return false;
}

namespace {

void printUsage(std::ostream& os) {
  os << "usage: quarlen <command> [arguments]\n\ncommands:\n";
  for (const auto& c : kCommands) {
    os << "  " << c.name << std::string(14 - std::min<size_t>(13, std::strlen(c.name)), ' ')
       << c.summary << "\n";
  }
  os << "\n'quarlen <command> --help' describes one command.\n";
}

}  // namespace
}  // namespace quarlen_cli

int main(int argc, char** argv) {
  using namespace quarlen_cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    printUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
#ifdef QUARLEN_WITH_MPI
  const bool shardedL = std::find(args.begin(), args.end(), "--sharded") != args.end();
  if (shardedL && std::strcmp(argv[1], "enrol") == 0) return runShardedEnrol(args);
  if (shardedL && std::strcmp(argv[1], "identify") == 0) return runShardedIdentify(args);
#endif
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    if (wantsHelp(c, args)) return 0;
    try {
      return c.run(args);
    } catch (const kxxcp::Exception& e) {
      std::cerr << "quarlen " << c.name << ": " << e.getMessage() << "\n";
      return 1;
    } catch (const std::exception& e) {
      std::cerr << "quarlen " << c.name << ": " << e.what() << "\n";
      return 1;
    }
  }
  std::cerr << "quarlen: unknown command '" << argv[1] << "'\n";
  printUsage(std::cerr);
  return 2;
}
