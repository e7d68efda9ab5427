// quarlen: the command-line companion of the library.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>

#include "Commands.h"

namespace quarlen_cli {

#define GALLERY_EXIT_CODES                                                                    \
  "Exit status: 0 on success, 1 when the operation fails, 2 on a usage error; a failure is\n" \
  "one line on standard error.\n"

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
    {"gallery", "create a gallery folder, or report on one",
     "usage: quarlen gallery create DIR [--modality face|iris|finger] [--config SRC] [--json]\n"
     "       quarlen gallery status DIR [--level 1..5] [--json]\n\n"
     "create makes the gallery folder DIR (new or empty) from the configuration folder SRC\n"
     "(default: the example configuration) for one modality: DIR/config holds the filled\n"
     "configuration, DIR/galleries the gallery files and registry, DIR/gallery.json names the\n"
     "storage and pipeline. JSON: {format, modality, storage, pipeline, configuration, folder}.\n"
     "status checks the gallery at the given intensity and prints its report.\n"
     "JSON: {ok, modality, persons, records, level, report}.\n" GALLERY_EXIT_CODES,
     runGallery},
    {"enrol", "add identity records to a gallery folder",
     "usage: quarlen enrol DIR RECORDS... [--set \"name=value, ...\"] [--json]\n\n"
     "Enrols every identity record of the files RECORDS (each a record or a stream of records\n"
     "one after another; - reads standard input). --set gives the query attributes of every\n"
     "record of the run (names of the configuration or a1, a2 ...; a0 defaults to the\n"
     "transaction id). Stops at the first record that cannot be enrolled. A progress bar goes\n"
     "to standard error when it is a terminal, a summary to standard output.\n"
     "JSON: {enrolled, persons, records, seconds}.\n" GALLERY_EXIT_CODES,
     runEnrol},
    {"identify", "the best candidates of a gallery for a probe record",
     "usage: quarlen identify DIR PROBE [--top N] [--query EXPR] [--slot S] [--json]\n\n"
     "Identifies the identity record in PROBE against the gallery folder DIR on probe slot S\n"
     "(default 0) and prints the best N candidates (default 10). --query narrows the gallery\n"
     "to the records the query selects (see quarlen query --help).\n"
     "JSON: {probe: {person, transaction}, slot, query, gallery_records, seconds,\n"
     "candidates: [{rank, person, transaction, score, blocks: [{modality, instance, sample\n"
     "(\"high:low\" halves of the sample id), algorithm, score}]}]}.\n" GALLERY_EXIT_CODES,
     runIdentify},
    {"verify", "the 1:1 score of two identity records",
     "usage: quarlen verify DIR PROBE GALLERY [--json]\n\n"
     "Scores the identity record in PROBE against the one in GALLERY over the stages of the\n"
     "pipeline of the gallery folder DIR.\n"
     "JSON: {person, transaction, score, blocks: [...], probe: {person, "
     "transaction}}.\n" GALLERY_EXIT_CODES,
     runVerify},
    {"remove", "remove records from a gallery folder",
     "usage: quarlen remove DIR (--person P | --key P:T | --query EXPR) [--json]\n\n"
     "Removes every record of person P, the record with person P and transaction T, or every\n"
     "record the query selects. JSON: {removed, persons, records}.\n" GALLERY_EXIT_CODES,
     runRemove},
    {"query", "translate a query text and list the records it selects",
     "usage: quarlen query DIR EXPR [--json]\n\n"
     "Translates the query text EXPR into the word form of the query language, checks it and\n"
     "lists the records of the gallery folder DIR it selects. The text:\n"
     "  clause or clause ...      a clause is: condition and condition ...\n"
     "  condition: NAME = V | NAME != V | NAME < V | NAME > V | NAME <= V | NAME >= V\n"
     "             | NAME & V (any bit) | NAME !& V (no bit) | NAME in LO..HI | NAME not in "
     "LO..HI\n"
     "NAME is an attribute name of the configuration ([QUERY_LANGUAGE] attributeNames) or a<i>\n"
     "(a0: the record's own value); V a decimal or 0x number. Example:\n"
     "  quarlen query DIR 'region=7 and flags&3 or age in 10..20'\n"
     "JSON: {query (the text read back), words, matches: [{person, "
     "transaction}]}.\n" GALLERY_EXIT_CODES,
     runQuery},
    {"sample-records", "write identity records of a synthetic population",
     "usage: quarlen sample-records OUT [--modality face|iris|finger] [--identities N]\n"
     "                              [--probes M] [--json]\n\n"
     "Writes the enrolment records of N synthetic identities (default 100) as one stream,\n"
     "OUT/gallery.qir, and for the first M identities (default 3) a probe, OUT/probe-<i>.qir,\n"
     "and the enrolment record alone, OUT/mate-<i>.qir. JSON: {gallery, records, files}.\n",
     runSampleRecords},
    {"verify-images", "verify two face photographs against each other",
     "usage: quarlen verify-images A B [--config DIR]\n\nLocates the face in each photograph "
     "(PNG or JPEG), prints the eyes found, makes\ntheir hgm templates and prints the "
     "verification score of A against B, from\nthe example configuration (or DIR). Exits with "
     "1 when an image cannot be read\nor shows no face (the message says why), 2 on a usage "
     "error.\n",
     runVerifyImages},
    {"enrol-image", "enrol the face of a photograph into a gallery folder",
     "usage: quarlen enrol-image DIR IMAGE [--person N] [--transaction N]\n\nLocates the face "
     "in IMAGE, makes its templates (the configuration's default\nface algorithms) and enrols "
     "them as person N, transaction N (default 1, 1)\ninto the face gallery folder DIR (made by "
     "quarlen gallery create DIR). Exits with\n1 on failure, 2 on a usage error.\n",
     runEnrolImage},
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
