#pragma once

#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qrbase {

// The identifier of the LFA face stages (lfa, lfaLowRes, lfaIlmSb). It scores, selects and
// records as the common identifier; the LFA score normaliser of the normalised variant is not
// part of this build yet, so a stage with useNormalization runs unnormalised LFA scores.
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_LFA_norm
    : public TemplateMatcherMultipass_Stage_Common {
 public:
  using TemplateMatcherMultipass_Stage_Common::TemplateMatcherMultipass_Stage_Common;
};

}  // namespace qrbase
