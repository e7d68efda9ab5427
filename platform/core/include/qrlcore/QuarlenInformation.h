#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <qrlcore/CoreExport.h>

namespace kxutl {

// Process-wide information: the diagnostic level, the version text and the system
// configuration file.
//
// The system configuration file is an INI file (syntax: kxutl::IniFile). It is looked up, on the
// first use after start or after reloadConfigFile(), in this order:
//   1. the path the application set with setConfigFile();
//   2. else the file named by the environment variable QUARLEN_CONFIG_FILE;
//   3. else "quarlen.ini" in the folder named by the environment variable TOLM_COMMON_DIR.
// A file named in 1. or 2. must exist: when it cannot be read, every getter throws the reading
// error. When 3. does not exist, or neither variable is set, there is no configuration and every
// key is absent.
//
// An absent key reads as 0, false, 0.0f, the empty text or the empty list. has() tells absence
// apart, and the overloads with a default value return that default instead. A value that does
// not convert throws kxxcp::Exception:
//   "Configuration value of key '<key>' in section '<section>' is not <kind>: '<value>'."
// with <kind> one of "an integer", "a boolean" (1/0, true/false, yes/no, on/off), "a number",
// "a list of unsigned integers", "a list of numbers". Lists are separated by commas and/or
// blanks. Section and key names are matched without regard to letter case.
//
// All members are thread-safe. The loaded configuration is immutable; reloading replaces it.
class QRLCORE_EXPORT QuarlenInformation {
 public:
  // The global diagnostic level: 0 quiet, 3 initialisation messages, 4 per-call messages,
  // 5 timings, 9 per-block details. Starts as the decimal value of the environment variable
  // TOLM_QUARLEN_DEBUG_LEVEL (0 when absent, not a number or negative); the application may
  // change it at any time.
  static std::atomic<int> debugLevelS;
  // The version text of the library family, such as "Quarlen 0.1.0".
  static const char* const quarlenVersionS;

  // Sets the configuration file to use from now on (and reloads); an empty path returns to the
  // lookup through the environment.
  static void setConfigFile(const std::string& pathA);
  // Forgets the loaded configuration; the next access looks the file up and reads it again.
  static void reloadConfigFile();

  // The file the lookup chose, or the empty text when there is none.
  static std::string configFilePath();
  // How it was chosen: "set by the application", "QUARLEN_CONFIG_FILE", "TOLM_COMMON_DIR", or
  // the empty text when there is none.
  static std::string configFileOrigin();
  // The message of the error reading the chosen file, or the empty text when it was read (or
  // there is none).
  static std::string configFileError();
  // The folder of the configuration file (without a trailing separator); without one, the value
  // of TOLM_COMMON_DIR; else the empty text.
  static std::string quarlenConfigDir();

  static bool has(const std::string& sectionA, const std::string& keyA);
  static int getIntFromConfigFile(const std::string& sectionA, const std::string& keyA);
  static int getIntFromConfigFile(const std::string& sectionA, const std::string& keyA,
                                  int defaultA);
  static bool getBoolFromConfigFile(const std::string& sectionA, const std::string& keyA);
  static bool getBoolFromConfigFile(const std::string& sectionA, const std::string& keyA,
                                    bool defaultA);
  static float getFloatFromConfigFile(const std::string& sectionA, const std::string& keyA);
  static float getFloatFromConfigFile(const std::string& sectionA, const std::string& keyA,
                                      float defaultA);
  // The value as a C text, "" when absent. The text stays valid for the life of the process
  // (configurations replaced by a reload are kept).
  static const char* getStringFromConfigFile(const std::string& sectionA, const std::string& keyA);
  static std::string getStdStringFromConfigFile(const std::string& sectionA,
                                                const std::string& keyA);
  static std::string getStdStringFromConfigFile(const std::string& sectionA,
                                                const std::string& keyA,
                                                const std::string& defaultA);
  static std::vector<unsigned int> getUintVectorFromConfigFile(const std::string& sectionA,
                                                               const std::string& keyA);
  static std::vector<float> getFloatVectorFromConfigFile(const std::string& sectionA,
                                                         const std::string& keyA);

  // Every setting as text. xmlA false: an INI text ("; configuration file: <path>", then
  // "[section]" and "key = value" lines). xmlA true: lines for an XML log,
  // "\t<configFile>path</configFile>\n" then one "\t<setting section=\"..\" key=\"..\"
  // value=\"..\" />\n" per key, with &, <, > and " escaped.
  static std::string getSettings(bool xmlA);

  static unsigned long currentProcessId();
};

}  // namespace kxutl
