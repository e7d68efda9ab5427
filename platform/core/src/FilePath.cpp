#include <qrlcore/FilePath.h>

#include <filesystem>
#include <system_error>

#include <qrlcore/Exception.h>

#include "ValueText.h"

namespace kxutl {

namespace fs = std::filesystem;

FilePath::FilePath(const std::string& pathA, bool isFolderA) {
  setCompletePath(pathA, isFolderA);
}

void FilePath::setCompletePath(const std::string& pathA, bool isFolderA) {
  pathM = pathA;
  trimPath(pathM, false);
  isFolderM = isFolderA;
}

std::string FilePath::getFolder() const {
  if (isFolderM) return pathM;
  const std::size_t slashL = pathM.find_last_of('/');
  if (slashL == std::string::npos) return ".";
  if (slashL == 0) return "/";
  return pathM.substr(0, slashL);
}

std::string FilePath::getFileName() const {
  if (isFolderM) return std::string();
  const std::size_t slashL = pathM.find_last_of('/');
  return slashL == std::string::npos ? pathM : pathM.substr(slashL + 1);
}

bool FilePath::exists() const {
  std::error_code errorL;
  return !pathM.empty() && fs::exists(pathM, errorL);
}

bool FilePath::mkdir() const {
  const std::string folderL = getFolder();
  std::error_code errorL;
  const bool createdL = fs::create_directories(folderL, errorL);
  if (errorL || !fs::is_directory(folderL)) {
    KXXCP_THROW("kxutl::FilePath::mkdir",
                "Cannot create folder '"
                    << folderL << "': " << (errorL ? errorL.message() : "not a folder") << ".");
  }
  return createdL;
}

std::string FilePath::mkdir(const std::string& subFolderA) const {
  std::string subL = subFolderA;
  trimPath(subL, false);
  std::string folderL = (!subL.empty() && subL[0] == '/') ? subL : getFolder() + "/" + subL;
  trimPath(folderL, false);
  FilePath(folderL, true).mkdir();
  return folderL;
}

void FilePath::trimPath(std::string& pathA, bool trailingSeparatorA) {
  const std::string trimmedL = valuetext::trim(pathA);
  std::string outL;
  outL.reserve(trimmedL.size() + 1);
  for (char c : trimmedL) {
    if (c == '\\') c = '/';
    if (c == '/' && !outL.empty() && outL.back() == '/') continue;
    outL.push_back(c);
  }
  if (outL.size() > 1 && outL.back() == '/') outL.pop_back();
  if (trailingSeparatorA && !outL.empty() && outL.back() != '/') outL.push_back('/');
  pathA = outL;
}

bool FilePath::rmFolderHierarchyIncludingFiles(const std::string& pathA) {
  std::string pathL = pathA;
  trimPath(pathL, false);
  if (pathL.empty() || pathL == "/") {
    KXXCP_THROW("kxutl::FilePath::rmFolderHierarchyIncludingFiles",
                "Refusing to remove '" << pathA << "'.");
  }
  std::error_code errorL;
  const auto removedL = fs::remove_all(pathL, errorL);
  if (errorL) {
    KXXCP_THROW("kxutl::FilePath::rmFolderHierarchyIncludingFiles",
                "Cannot remove '" << pathL << "': " << errorL.message() << ".");
  }
  return removedL > 0;
}

}  // namespace kxutl
