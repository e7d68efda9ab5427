#pragma once

#include <string>

#include <qrlcore/CoreExport.h>

namespace kxutl {

// A path naming a folder or a file. Both '/' and '\' separate path components (configuration
// texts written for other systems use '\'); paths are kept in the trimmed form of trimPath()
// with '/' separators and without a trailing separator.
class QRLCORE_EXPORT FilePath {
 public:
  // isFolderA: true when pathA names a folder, false when it names a file.
  FilePath(const std::string& pathA, bool isFolderA);
  void setCompletePath(const std::string& pathA, bool isFolderA);

  const std::string& getCompletePath() const { return pathM; }
  bool isFolder() const { return isFolderM; }
  // The folder: the path itself for a folder, the part before the last separator for a file
  // ("." for a bare file name, "/" for a file in the root folder).
  std::string getFolder() const;
  // The last component of a file path; empty for a folder.
  std::string getFileName() const;
  bool exists() const;

  // Creates the folder (getFolder()) with every missing parent. Returns true when it was
  // created, false when it existed. Throws "Cannot create folder '<folder>': <reason>."
  bool mkdir() const;
  // Creates subFolderA inside the folder (an absolute subFolderA is taken as it is), with every
  // missing parent; returns the trimmed path of the created or existing folder.
  std::string mkdir(const std::string& subFolderA) const;

  // Trims blanks at both ends, turns '\' into '/', collapses repeated separators and removes a
  // trailing separator (the root "/" stays); with trailingSeparatorA, a non-empty result then
  // ends in exactly one '/'.
  static void trimPath(std::string& pathA, bool trailingSeparatorA);
  // Removes the folder and everything below it (or a single file). Returns true when something
  // was removed, false when nothing was there. Refuses the empty path and the root folder with
  // "Refusing to remove '<path>'."; throws "Cannot remove '<path>': <reason>." on failure.
  static bool rmFolderHierarchyIncludingFiles(const std::string& pathA);

 private:
  std::string pathM;
  bool isFolderM = false;
};

}  // namespace kxutl
