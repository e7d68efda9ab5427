#pragma once

// What the gallery commands share: argument parsing with CLI11, the one-line failure report,
// and the JSON forms of keys and result lists.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <quarlen/IdRecordKey.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/ResultTreeList.h>

namespace quarlen_cli {

// Exit codes of the gallery commands.
constexpr int kExitFailure = 1;  // the operation failed
constexpr int kExitUsage = 2;    // the arguments are wrong

// An App for command nameA.
CLI::App makeApp(const std::string& nameA);
// Parses argsA (the arguments after the command name) into appA, without CLI11's own help
// flag (the command table answers --help). A usage error is reported
// on standard error as one line, "quarlen <name>: <what>", and false is returned.
bool parseArguments(CLI::App& appA, const std::vector<std::string>& argsA);

// Writes "<commandA>: <message>" (commandA: "quarlen <name>") as one line on standard error (line
// ends inside the message become spaces) and returns kExitFailure.
int fail(const std::string& commandA, const std::string& messageA);

// Runs bodyA and turns what it throws into one failure line (see fail).
int guarded(const std::string& commandA, const std::function<int()>& bodyA);

// Prints a JSON document on standard output, indented, with a final line end.
void printJson(const nlohmann::json& documentA);

// Parses "P:T" (person id, transaction id); false when the text is not two unsigned numbers.
bool parseKey(const std::string& textA, qridy::IdRecordKey& keyA);

// {"person": p, "transaction": t}
nlohmann::json keyJson(const qridy::IdRecordKey& keyA);
// One candidate: {"rank", "person", "transaction", "score", "blocks": [{"modality", "instance",
// "sample", "algorithm", "score"}]}; rank 0 leaves the rank out. The sample is "high:low", the
// two 64-bit halves of the sample id in decimal.
nlohmann::json candidateJson(const qridy::ResultIdRecord& resultA, std::size_t rankA);
// The first topA candidates of a result list, ranked from 1.
nlohmann::json candidatesJson(const qridy::ResultTreeList& resultsA, std::size_t topA);
// The same as a table for people: rank, person, transaction, score.
std::string candidatesTable(const qridy::ResultTreeList& resultsA, std::size_t topA);

}  // namespace quarlen_cli
