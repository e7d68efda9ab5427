// Fits the logFar score-mapping files of the "l2f" and "l2f360" engines on impostor scores of
// the L2F matcher over synthetic fingers, so that a mapped score reads as -log10 of the rate at
// which impostors reach it. Usage: fit_finger_mapping <output folder> [impostor comparisons]
// writes l2f.txt and l2f360.txt there.
//
// Knots: x = raw / 100 at the impostor quantiles FAR = 10^-k/2 (as far as the sample reaches
// with at least 25 scores beyond), y = -log10 FAR; beyond the last measured knot the tail is
// extended along the line fitted to the last measured knots, up to the largest raw score.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <qrlfinger/L2FMatcher.h>
#include <qrlfinger/SyntheticFinger.h>

namespace {

struct Knot {
  double x, y, d;
};

std::vector<double> impostorScores(int flavourA, std::size_t countA) {
  qrfpt::SyntheticFingerGenerator generatorL(20261205);
  qrfpt::ImpressionSettings settingsL;
  settingsL.missingFraction = 0.3;
  settingsL.spuriousFraction = 0.2;
  const std::uint32_t fingersL = 2000;
  std::vector<std::vector<std::uint8_t>> galleryL, probesL;
  for (std::uint32_t f = 0; f < fingersL; ++f) {
    galleryL.push_back(generatorL.impressionBytes(f, 1, settingsL));
    probesL.push_back(generatorL.impressionBytes(f, 2, settingsL));
  }
  L2F_7::CL2FMatcher matcherL;
  std::vector<double> scoresL;
  const std::size_t perProbeL = (countA + fingersL - 1) / fingersL;
  for (std::uint32_t p = 0; p < fingersL && scoresL.size() < countA; ++p) {
    for (std::size_t k = 1; k <= perProbeL; ++k) {
      const auto& gL = galleryL[(p + k * 7919) % fingersL];
      if (&gL == &galleryL[p]) continue;
      float rawL = 0.0f;
      matcherL.MatchTemplates(probesL[p].data(), probesL[p].size(), gL.data(), gL.size(), flavourA,
                              &rawL, -1, 2550, nullptr, nullptr);
      scoresL.push_back(rawL / 100.0);
    }
  }
  std::sort(scoresL.begin(), scoresL.end());
  return scoresL;
}

std::vector<Knot> fit(const std::vector<double>& sortedA) {
  const double nL = static_cast<double>(sortedA.size());
  std::vector<Knot> knotsL{{0.0, 0.0, 0.0}};
  for (int half = 1;; ++half) {
    const double farL = std::pow(10.0, -half / 2.0);
    if (farL * nL < 25.0) break;
    // The smallest score that farL of the impostors reach.
    const auto indexL = static_cast<std::size_t>(std::ceil(nL * (1.0 - farL)));
    const double xL = sortedA[std::min(indexL, sortedA.size() - 1)];
    if (xL <= knotsL.back().x + 1e-3) continue;
    knotsL.push_back({xL, half / 2.0, 0.0});
  }
  // The tail: the line through the last three measured knots, on to x = 10.
  const std::size_t mL = knotsL.size();
  const double slopeL =
      mL >= 3 ? (knotsL[mL - 1].y - knotsL[mL - 3].y) / (knotsL[mL - 1].x - knotsL[mL - 3].x) : 1.0;
  for (double xL = knotsL.back().x + 1.0; xL < 10.5; xL += 1.0) {
    knotsL.push_back({xL, knotsL.back().y + slopeL * (xL - knotsL.back().x), 0.0});
  }
  // Slopes: the mean of the neighbouring secants, never negative (the curve must rise).
  for (std::size_t i = 0; i < knotsL.size(); ++i) {
    const std::size_t aL = i == 0 ? 0 : i - 1, bL = std::min(i + 1, knotsL.size() - 1);
    knotsL[i].d = std::max(0.0, (knotsL[bL].y - knotsL[aL].y) / (knotsL[bL].x - knotsL[aL].x));
  }
  knotsL.back().d = slopeL;
  return knotsL;
}

void write(const std::string& pathA, const std::vector<Knot>& knotsA, const char* whatA,
           std::size_t countA) {
  std::ofstream outL(pathA);
  outL << "\n";  // numbers only: the file is read as white-space separated triples
  for (const Knot& k : knotsA) {
    char lineL[128];
    std::snprintf(lineL, sizeof lineL, "%.6f %.6f %.6f\n", k.x, k.y, k.d);
    outL << lineL;
  }
  std::printf("%s: %zu knots from %zu impostor scores -> %s\n", whatA, knotsA.size(), countA,
              pathA.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output folder> [impostor comparisons]\n", argv[0]);
    return 2;
  }
  const std::string dirL = argv[1];
  const std::size_t countL = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200000;
  const auto l2fL = impostorScores(2, countL);
  write(dirL + "/l2f.txt", fit(l2fL), "l2f", l2fL.size());
  const auto l2f360L = impostorScores(6, countL / 2);
  write(dirL + "/l2f360.txt", fit(l2f360L), "l2f360", l2f360L.size());
  return 0;
}
