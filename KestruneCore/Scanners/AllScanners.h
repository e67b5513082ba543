// The registry of category scanners and the runner of one scan. runAll blocks its caller (never the GUI
// thread) and calls onScannerFinished on the worker thread of the scanner that finished.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <atomic>
#include <functional>

namespace AllScanners {

inline constexpr int maxConcurrent = 4;

// Called once per scanner as it finishes, one call at a time and in order of `finished`, with the merged
// list so far. It runs while the other scanners wait to report, so it should only hand the report on.
using OnScannerFinished = std::function<void(int finished, int total, CategoryKind kind,
                                             const std::vector<CategoryResult>& results)>;

// The scanners in registry order, built once.
[[nodiscard]] const ScannerList& all();

// Runs every scanner of `registry`, at most maxConcurrent at once, and returns the final merged list:
// categories in registry order, each largest first (stable), double claims collapsed. Once `stop` is set
// no further scanner starts. `copies` receives every item of Duplicates and Similar Images as found,
// before collapsing hands some of them to other categories: the groups of copies a reclaim must not
// empty are known from these.
std::vector<CategoryResult> runAll(const ScannerList& registry,
                                   const OnScannerFinished& onScannerFinished = {},
                                   const std::atomic<bool>* stop = nullptr,
                                   std::vector<CleanupItem>* copies = nullptr);
std::vector<CategoryResult> runAll(const OnScannerFinished& onScannerFinished = {});

} // namespace AllScanners
