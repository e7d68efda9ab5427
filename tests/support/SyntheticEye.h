#pragma once

// Synthetic near-infrared style eye images for iris tests: a dark pupil, a textured iris whose
// pattern is fixed by a seed, a bright sclera, optional eyelids, rotation and noise.

#include <qrlimage/Image.h>

namespace quarlen_test {

struct EyeSpec {
  int width = 320;
  int height = 240;
  float centreX = 160.0f;
  float centreY = 120.0f;
  float pupilRadius = 28.0f;
  float irisRadius = 80.0f;
  unsigned seed = 1;             // the iris pattern
  float rotationDegrees = 0.0f;  // turns the pattern (head tilt)
  float noise = 0.0f;            // amplitude of uniform pixel noise
  unsigned noiseSeed = 7;
  bool upperEyelid = false;  // skin covering the top of the iris
};

qrimg::ByteImage makeEye(const EyeSpec& specA);

}  // namespace quarlen_test
