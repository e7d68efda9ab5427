#include <quarlen/ThreadStruct.h>

#include <quarlen/StageMatchEngine_Base.h>

namespace qrbase {

ThreadStruct::~ThreadStruct() {
  for (auto& [algorithmL, enginesL] : sharedMatchEngines) {
    for (qridy::StageMatchEngine_Base* engineL : enginesL) delete engineL;
  }
}

}  // namespace qrbase
