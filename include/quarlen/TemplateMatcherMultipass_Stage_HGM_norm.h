#pragma once

#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qrbase {

class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_HGM_norm
    : public TemplateMatcherMultipass_Stage_Common {
 public:
  using TemplateMatcherMultipass_Stage_Common::TemplateMatcherMultipass_Stage_Common;
};

}  // namespace qrbase
