// The one place that maps algorithm codes to engine classes.
#include <memory>
#include <new>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/CpuFeatures.h>
#include <quarlen/StageMatchEngine_Base.h>

#include "engines/EngineSupport.h"
#include "engines/face/StageMatchEngine_Face_HGM.h"
#include "engines/face/StageMatchEngine_Face_HgmByte.h"
#include "engines/face/StageMatchEngine_Face_HgmFloat.h"
#include "engines/face/StageMatchEngine_Face_HgmPyr.h"
#include "engines/face/StageMatchEngine_Face_HgmPyrByte.h"
#include "engines/face/StageMatchEngine_Face_HgmPyrFloat.h"
#include "engines/face/StageMatchEngine_Face_L1Jim.h"
#include "engines/face/StageMatchEngine_Face_L2Jim.h"
#include "engines/face/StageMatchEngine_Face_L3Jim.h"
#include "engines/face/StageMatchEngine_Face_LFA.h"
#include "engines/face/StageMatchEngine_Face_STA.h"
#include "engines/face/StageMatchEngine_Face_VFA.h"
#include "engines/finger/StageMatchEngine_FP_FVA.h"
#include "engines/finger/StageMatchEngine_FP_FVA_old.h"
#include "engines/finger/StageMatchEngine_FP_L1V.h"
#include "engines/finger/StageMatchEngine_FP_L2F.h"
#include "engines/finger/StageMatchEngine_FP_L2F360.h"
#include "engines/finger/StageMatchEngine_FP_L2Fi.h"
#include "engines/finger/StageMatchEngine_FP_L2M.h"
#include "engines/finger/StageMatchEngine_FP_L2V.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"

namespace qridy {
namespace {

// Read at every creation, not cached: a changed configuration applies to the next engine.
bool configSwitch(const char* keyA) {
  return kxutl::QuarlenInformation::getBoolFromConfigFile(engines::kMatchingSection, keyA);
}

template <typename Engine>
StageMatchEngine_Base* make() {
  return new (std::nothrow) Engine();
}

StageMatchEngine_Base* makeEngine(Algorithm algorithmA) {
  switch (algorithmA) {
    case AlgHgm:
      return make<StageMatchEngine_Face_HGM>();
    case AlgSta:
      return make<StageMatchEngine_Face_STA>();
    case AlgVfa:
    case AlgVfa2:
    case AlgVfa3:
      return make<StageMatchEngine_Face_VFA>();
    case AlgLfa:
    case AlgLfaLowRes:
    case AlgLfaIlmSb:
      return make<StageMatchEngine_Face_LFA>();
    case AlgHgmFloat:
      return make<StageMatchEngine_Face_HgmFloat>();
    case AlgHgmByte:
      return make<StageMatchEngine_Face_HgmByte>();
    case AlgHgmPyr:
      return make<StageMatchEngine_Face_HgmPyr>();
    case AlgHgmPyrByte:
      return make<StageMatchEngine_Face_HgmPyrByte>();
    case AlgHgmPyrFloat:
      return make<StageMatchEngine_Face_HgmPyrFloat>();
    case AlgHgmPyrBit:
      return make<StageMatchEngine_Face_HgmPyrBit>();
    case AlgL3Jim:
      return make<StageMatchEngine_Face_L3Jim>();
    case AlgL1Jim:
      return make<StageMatchEngine_Face_L1Jim>();
    case AlgL2Jim:
      return make<StageMatchEngine_Face_L2Jim>();
    case AlgHgmPyrBitSmwSb:
      return make<StageMatchEngine_Face_HgmPyrBit_SmwSb>();

    case AlgL2f:
      return make<StageMatchEngine_FP_L2F>();
    case AlgL2m:
      return make<StageMatchEngine_FP_L2M>();
    case AlgL1v:
      return make<StageMatchEngine_FP_L1V>();
    case AlgL2v:
      return make<StageMatchEngine_FP_L2V>();
    case AlgL2f360:
      return make<StageMatchEngine_FP_L2F360>();
    case AlgL2fi:
      return make<StageMatchEngine_FP_L2Fi>();
    case AlgFva:
      if (configSwitch("fvaImprovedMatching")) return make<StageMatchEngine_FP_FVA>();
      return make<StageMatchEngine_FP_FVA_old>();

    case AlgMvxIris2PiSdk:
      return make<StageMatchEngine_Iris_Daugman>();
    case AlgDaugman2010:
      if (!configSwitch("useDaugman") && CpuFeatures::hasPopcnt()) {
        return make<StageMatchEngine_Iris_Daugman_2010_POPCNT>();
      }
      return make<StageMatchEngine_Iris_Daugman_2010>();
    default:
      return nullptr;
  }
}

}  // namespace

StageMatchEngine_Base* StageMatchEngine_Base::createStageEngine(Algorithm algorithmA) {
  std::unique_ptr<StageMatchEngine_Base> engineL(makeEngine(algorithmA));
  if (!engineL) {
    KXXCP_THROW("qridy::StageMatchEngine_Base::createStageEngine",
                "Engine was not created, unknown algorithm !");
  }
  engineL->init(algorithmA);
  return engineL.release();
}

}  // namespace qridy
