#include "engine/path_lists.h"

#include <utility>

#include "common/text.h"

namespace engine {
namespace {

bool Less(const std::string& a, const std::string& b) { return quill::CompareUtf16(a, b) < 0; }

void Call(const YieldFn& yield) {
  if (yield) yield();
}

// `outermost` tells the first call from the recursive ones, which yield at their start instead of
// after taking the pivot; the steps are otherwise the same.
void SortRange(std::vector<std::string>& a, std::int32_t first, std::int32_t last, const YieldFn& yield,
               bool outermost) {
  if (!outermost) Call(yield);
  const std::string pivot = a[MiddleIndex(first, last)];
  if (outermost) Call(yield);
  std::int32_t i = first;
  std::int32_t j = last;
  do {
    Call(yield);
    while (Less(a[i], pivot) && i < last) {
      ++i;
      Call(yield);
    }
    while (Less(pivot, a[j]) && j > first) {
      --j;
      Call(yield);
    }
    if (j < i) break;
    Call(yield);
    std::swap(a[i], a[j]);
    ++i;
    --j;
  } while (i <= j);
  Call(yield);
  if (first < j) SortRange(a, first, j, yield, false);
  if (i < last) SortRange(a, i, last, yield, false);
}

}  // namespace

std::int32_t MiddleIndex(std::int32_t first, std::int32_t last) {
  const std::int64_t sum = static_cast<std::int64_t>(first) + last;
  std::int64_t half = sum / 2;
  if (sum % 2 != 0) {
    // Exactly halfway: of the two neighbours take the even one.
    const std::int64_t lower = sum < 0 ? half - 1 : half;
    half = (lower % 2 == 0) ? lower : lower + 1;
  }
  return static_cast<std::int32_t>(half);
}

void QuickSortPaths(std::vector<std::string>& a, std::int32_t first, std::int32_t last,
                    const YieldFn& yield) {
  if (first > last) return;
  SortRange(a, first, last, yield, true);
}

void RemoveDuplicatePaths(std::vector<std::string>& a, const YieldFn& yield) {
  const std::int64_t last = static_cast<std::int64_t>(a.size()) - 1;
  Call(yield);
  // Marking: blank every entry equal to the kept one before it. Equal entries stand together
  // because the array is sorted; empty entries sort first and are passed over.
  std::int64_t gap = 1;
  for (std::int64_t j = 0; j <= last; ++j) {
    Call(yield);
    if (j + gap > last) break;
    Call(yield);
    if (a[j].empty()) continue;
    if (a[j + gap] != a[j]) {
      gap = 1;
    } else {
      Call(yield);
      a[j + gap].clear();
      --j;
      ++gap;
    }
  }
  // Compaction.
  Call(yield);
  std::size_t k = 0;
  for (std::int64_t l = 0; l <= last; ++l) {
    Call(yield);
    if (!a[l].empty()) {
      Call(yield);
      if (static_cast<std::size_t>(l) != k) a[k] = std::move(a[l]);
      ++k;
    }
  }
  Call(yield);
  if (k > 0) a.resize(k);
}

}  // namespace engine
