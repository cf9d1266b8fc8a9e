#include "proof/element_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/imgproc.hpp>

namespace vellomar {
namespace {

constexpr int kTile = 48;            // the side of the pieces placed one by one
constexpr double kTexture = 30;      // mean squared levels a piece differs by when misplaced
constexpr double kClearMatch = 0.5;  // the best match at most this part of the next best
constexpr double kFlat = 2;          // levels: a picture varying less has nothing to align
constexpr double kFineDetail = 1;    // squared levels of detail below which there is none
constexpr int kLeastCells = 64;      // cells to measure at the least
constexpr int kPieces = 8;           // pieces placed each way at the most
constexpr int kCoarsest = 256;       // the whole is first placed at about this size
constexpr int kRefined = 512;        // then placed more finely on its middle
constexpr int kBlurReach = 4;        // pixels the blur that parts off fine detail reaches

cv::Mat grey(const cv::Mat& bgr) {
  cv::Mat one;
  cv::cvtColor(bgr, one, cv::COLOR_BGR2GRAY);
  return one;
}

// Where the smallest value of three neighbours lies, between -0.5 and 0.5
// from the middle one.
double vertex(float before, float at, float after) {
  const double curve = before - 2.0 * at + after;
  return curve > 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
}

// The shift at the smallest score of `scores` ((2R + 1) square), to a part of
// a cell, and whether it is clear: one valley, well below the others, inside
// the search.
struct Match {
  cv::Point2d shift;
  bool clear = false;
};

Match bestOf(const cv::Mat& scores, double cells) {
  cv::Point best;
  double lowest = 0;
  cv::minMaxLoc(scores, &lowest, nullptr, &best);
  const int r = scores.cols / 2;
  const auto at = [&](int x, int y) { return scores.at<float>(y, x); };
  Match match;
  const bool inside =
      best.x > 0 && best.y > 0 && best.x < scores.cols - 1 && best.y < scores.rows - 1;
  match.shift = {
      best.x - r +
          (inside ? vertex(at(best.x - 1, best.y), at(best.x, best.y), at(best.x + 1, best.y))
                  : 0.0),
      best.y - r +
          (inside ? vertex(at(best.x, best.y - 1), at(best.x, best.y), at(best.x, best.y + 1))
                  : 0.0)};
  // The next best, away from the best's own valley.
  double next = HUGE_VAL;
  for (int y = 0; y < scores.rows; ++y) {
    for (int x = 0; x < scores.cols; ++x) {
      if (std::abs(x - best.x) > 1 || std::abs(y - best.y) > 1)
        next = std::min<double>(next, at(x, y));
    }
  }
  match.clear = inside && next / cells >= kTexture && lowest <= kClearMatch * next;
  return match;
}

// The mean and deviation of `values` where `mask` is set.
std::pair<double, double> meanAndDeviation(const cv::Mat& values, const cv::Mat& mask) {
  cv::Scalar mean, deviation;
  cv::meanStdDev(values, mean, deviation, mask);
  return {mean[0], deviation[0]};
}

// The squared fine detail of `picture` (one channel) summed where `mask` is
// set, away from its edges (as far as the blur reaches): what a blur of a
// pixel takes away.
double fineDetail(const cv::Mat& picture, const cv::Mat& mask) {
  cv::Mat values, blurred, detail, inner;
  picture.convertTo(values, CV_32F);
  const int side = 2 * kBlurReach + 1;
  cv::GaussianBlur(values, blurred, cv::Size(side, side), 1.0);
  cv::subtract(values, blurred, detail);
  if (cv::countNonZero(mask) == static_cast<int>(mask.total())) {
    const cv::Rect away(kBlurReach, kBlurReach, picture.cols - 2 * kBlurReach,
                        picture.rows - 2 * kBlurReach);
    return away.empty() ? 0 : cv::norm(detail(away), cv::NORM_L2SQR);
  }
  cv::erode(mask, inner, cv::Mat(), cv::Point(-1, -1), kBlurReach, cv::BORDER_CONSTANT,
            cv::Scalar(0));
  detail.setTo(0, inner == 0);
  return cv::norm(detail, cv::NORM_L2SQR);
}

// The sum of squared differences of `a` and `b` (one channel, 8-bit) with
// `a` laid `margin` + `shift` cells into `b`, over the middle of `a`, at
// most kRefined cells each way: enough to place it to a part of a cell.
double squaredDifference(const cv::Mat& a, const cv::Mat& b, int margin, cv::Point shift) {
  const cv::Size size(std::min(a.cols, kRefined), std::min(a.rows, kRefined));
  const cv::Rect middle(cv::Point((a.cols - size.width) / 2, (a.rows - size.height) / 2), size);
  return cv::norm(a(middle), b(middle + cv::Point(margin, margin) + shift), cv::NORM_L2SQR);
}

// Where `a` lies in `b` (the same with `margin` more cells each way), to a
// part of a cell: found on the pictures halved `levels` times (the margin
// halving with them, to a whole cell), then followed down half by half;
// along an axis where nothing tells one place from another, none.
cv::Point2d wholeShift(const cv::Mat& a, const cv::Mat& b, int margin, int levels) {
  std::vector<cv::Mat> as{a}, bs{b};
  for (int level = 1; level <= levels; ++level) {
    const int m = margin >> (level - 1);
    const cv::Size even(as.back().cols & ~1, as.back().rows & ~1);
    cv::Mat smallerA, smallerB;
    cv::resize(as.back()(cv::Rect(cv::Point(), even)), smallerA, even / 2, 0, 0, cv::INTER_AREA);
    const cv::Size evenB(even.width + 2 * m, even.height + 2 * m);
    cv::resize(bs.back()(cv::Rect(cv::Point(), evenB)), smallerB, evenB / 2, 0, 0, cv::INTER_AREA);
    as.push_back(smallerA);
    bs.push_back(smallerB);
  }
  cv::Mat scores;
  cv::matchTemplate(bs.back(), as.back(), scores, cv::TM_SQDIFF);
  cv::Point best;
  cv::minMaxLoc(scores, nullptr, nullptr, &best);
  const int top = margin >> levels;
  // Along an axis the source does not change when moved by a cell at this
  // size (a fine pattern averaged away, a plain colour), nothing tells one
  // place from another: the picture is taken as where it should be.
  const cv::Mat& coarse = bs.back();
  const cv::Rect inner(top, top, as.back().cols, as.back().rows);
  const auto varies = [&](cv::Point step) {
    return top == 0 || cv::norm(coarse(inner), coarse(inner + step), cv::NORM_L2SQR) /
                               static_cast<double>(inner.area()) >=
                           kTexture;
  };
  const int reachX = varies({1, 0}) ? 1 : 0, reachY = varies({0, 1}) ? 1 : 0;
  cv::Point shift = best - cv::Point(top, top);
  shift = {shift.x * reachX, shift.y * reachY};
  double around[3][3] = {};
  for (int level = levels; level >= 0; --level) {
    const int m = margin >> level;
    if (level < levels) shift *= 2;
    std::map<std::pair<int, int>, double> scored;  // each shift's score at this level, once
    // To the best of the shifts about it, until it is the best.
    for (int step = 0; step < 4; ++step) {
      cv::Point next = shift;
      double lowest = HUGE_VAL;
      for (int dy = -reachY; dy <= reachY; ++dy) {
        for (int dx = -reachX; dx <= reachX; ++dx) {
          const cv::Point at = shift + cv::Point(dx, dy);
          double& score = around[dy + 1][dx + 1];
          const auto [known, fresh] = scored.try_emplace({at.x, at.y}, HUGE_VAL);
          if (fresh && std::abs(at.x) <= m && std::abs(at.y) <= m) {
            known->second = squaredDifference(as[level], bs[level], m, at);
          }
          score = known->second;
          // The middle wins a tie.
          if (score < lowest || (score == lowest && at == shift)) lowest = score, next = at;
        }
      }
      if (next == shift) break;
      shift = next;
    }
  }
  const auto part = [](double before, double at, double after) {
    return std::isfinite(before) && std::isfinite(after)
               ? vertex(static_cast<float>(before), static_cast<float>(at),
                        static_cast<float>(after))
               : 0.0;
  };
  return {shift.x + (reachX != 0 ? part(around[1][0], around[1][1], around[1][2]) : 0.0),
          shift.y + (reachY != 0 ? part(around[0][1], around[1][1], around[2][1]) : 0.0)};
}

}  // namespace

ElementFigures measure(const cv::Mat& before, const cv::Mat& beforeCovered, const cv::Mat& after,
                       const cv::Mat& afterCovered) {
  ElementFigures figures;
  const int r = kSearchCells;
  if (after.empty() || before.cols != after.cols + 2 * r || before.rows != after.rows + 2 * r) {
    return figures;
  }
  const cv::Rect core(r, r, after.cols, after.rows);
  const cv::Mat valid = afterCovered & beforeCovered(core);
  const int cells = cv::countNonZero(valid);
  if (cells < kLeastCells) return figures;
  figures.measured = true;
  // What prints, where it should: colour against colour.
  const bool allValid = cells == static_cast<int>(valid.total());
  const double mse =
      cv::norm(after, before(core), cv::NORM_L2SQR, allValid ? cv::noArray() : valid) /
      (3.0 * cells);
  figures.psnr = mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);

  // Where it lies: the whole, then piece by piece; what the source lacks
  // (past its edges) reads as its mean.
  cv::Mat a = grey(after), b = grey(before);
  if (cv::countNonZero(beforeCovered) < static_cast<int>(beforeCovered.total())) {
    b.setTo(cv::mean(b, beforeCovered), beforeCovered == 0);
  }
  if (!allValid) a.setTo(cv::mean(a, afterCovered), afterCovered == 0);
  int levels = 0;
  while (levels < 3 && std::max(a.cols, a.rows) >> levels > kCoarsest) ++levels;
  const cv::Point2d whole = wholeShift(a, b, r, levels);
  figures.misplacement = std::hypot(whole.x, whole.y);
  // Pieces spread evenly over it, at most kPieces each way; their fine
  // detail is the picture's.
  const auto starts = [](int extent) {
    std::vector<int> at;
    const int count = std::min(kPieces, extent / kTile);
    at.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
      at.push_back(count == 1 ? (extent - kTile) / 2 : i * (extent - kTile) / (count - 1));
    }
    return at;
  };
  double detailAfter = 0, detailBefore = 0;
  cv::Mat scores;
  for (const int y : starts(a.rows)) {
    for (const int x : starts(a.cols)) {
      const cv::Rect piece(x, y, kTile, kTile), searched(x, y, kTile + 2 * r, kTile + 2 * r);
      const cv::Mat both = valid(piece);
      detailAfter += fineDetail(a(piece), both);
      detailBefore += fineDetail(b(piece + cv::Point(r, r)), both);
      if (cv::countNonZero(afterCovered(piece)) < kTile * kTile ||
          cv::countNonZero(beforeCovered(searched)) < searched.area()) {
        continue;
      }
      cv::matchTemplate(b(searched), a(piece), scores, cv::TM_SQDIFF);
      const Match match = bestOf(scores, kTile * kTile);
      if (match.clear) {
        figures.misplacement =
            std::max(figures.misplacement, std::hypot(match.shift.x, match.shift.y));
      }
    }
  }
  figures.misplacement = std::round(figures.misplacement * 10) / 10;
  // The fine detail it keeps of the source's.
  figures.detail = detailBefore < kFineDetail * kTile * kTile ? 1 : detailAfter / detailBefore;

  // Whether it is the same picture at all, as best aligned.
  const cv::Point shift(static_cast<int>(std::lround(whole.x)),
                        static_cast<int>(std::lround(whole.y)));
  const cv::Rect aligned = core + shift;
  cv::Mat both = afterCovered & beforeCovered(aligned);
  const int shared = cv::countNonZero(both);
  if (shared == 0) {
    figures.alignment = 0;
    return figures;
  }
  const bool everywhere = shared == static_cast<int>(both.total());
  if (everywhere) both = cv::Mat();
  const auto [meanA, deviationA] = meanAndDeviation(a, both);
  const auto [meanB, deviationB] = meanAndDeviation(b(aligned), both);
  if (deviationB < kFlat) {
    figures.alignment = deviationA < kFlat ? 1 : 0;
  } else if (deviationA < kFlat) {
    figures.alignment = 0;
  } else {
    // The products of the two where both are, summed.
    cv::Mat onlyA = a;
    if (!everywhere) {
      onlyA = a.clone();
      onlyA.setTo(0, both == 0);
    }
    const double products = onlyA.dot(b(aligned)) / shared;
    figures.alignment = (products - meanA * meanB) / (deviationA * deviationB);
  }
  return figures;
}

std::vector<std::string> failuresOf(const ElementFigures& figures,
                                    const ProofThresholds& thresholds) {
  std::vector<std::string> failures;
  if (!figures.measured) return failures;
  char text[200];
  if (figures.alignment < thresholds.minAlignment) {
    std::snprintf(text, sizeof text,
                  "another picture, or another part of it (alignment %.2f, at least %.2f)",
                  figures.alignment, thresholds.minAlignment);
    failures.push_back(text);
    return failures;  // then nothing else it measures means anything
  }
  if (figures.psnr < thresholds.minPsnr) {
    std::snprintf(text, sizeof text, "PSNR %.1f dB, below %.1f dB", figures.psnr,
                  thresholds.minPsnr);
    failures.push_back(text);
  }
  if (figures.misplacement > thresholds.maxMisplacement) {
    std::snprintf(text, sizeof text, "misplaced by %.1f px (at most %.1f px)", figures.misplacement,
                  thresholds.maxMisplacement);
    failures.push_back(text);
  }
  if (figures.detail < thresholds.minDetail) {
    std::snprintf(text, sizeof text, "keeps %.2f of the source's fine detail (at least %.2f)",
                  figures.detail, thresholds.minDetail);
    failures.push_back(text);
  }
  return failures;
}

}  // namespace vellomar
