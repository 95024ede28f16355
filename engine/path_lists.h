// Sorting and de-duplicating the collected folder paths.
//
// Paths are UTF-8 and ordered as their UTF-16 forms compare, code unit by code unit: a prefix sorts
// first and letter case is distinct ("\A" before "\a"). Both operations yield at every step, so a
// long list never freezes the windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace engine {

using YieldFn = std::function<void()>;

// Sorts a[first..last] in place, ascending. The pivot is the middle element, its index rounded
// half to even.
// REQUIRES: 0 <= first and last < a.size(), or first > last (nothing to do).
void QuickSortPaths(std::vector<std::string>& a, std::int32_t first, std::int32_t last, const YieldFn& yield);

// Removes repeated entries and empty entries from a sorted array, keeping the order. When nothing
// but empty entries is left, the array keeps its size (it cannot shrink to no entries).
void RemoveDuplicatePaths(std::vector<std::string>& a, const YieldFn& yield);

// (first + last) / 2 rounded to the nearest integer, ties to the even one.
std::int32_t MiddleIndex(std::int32_t first, std::int32_t last);

}  // namespace engine
