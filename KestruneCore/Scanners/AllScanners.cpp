// Each admitted scanner gets a thread of its own, so four really run at once on any core count.
#include "KestruneCore/Scanners/AllScanners.h"

#include "KestruneCore/Scanners/AppLeftoversScanner.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "KestruneCore/Scanners/CloudBackupScanners.h"
#include "KestruneCore/Scanners/Dedup.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/ForgottenFilesScanners.h"
#include "KestruneCore/Scanners/LanguageFilesScanner.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Scanners/PrivacyMediaScanners.h"
#include "KestruneCore/Scanners/SimilarImagesScanner.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/HomeFiles.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <semaphore>
#include <thread>

namespace AllScanners {

const ScannerList& all() {
    // Registry positions: the order scanners start in and the order of categories in every result.
    static const ScannerList registry = [] {
        ScannerList list;
        list.push_back(std::make_shared<PackageCacheScanner>());   // 1
        list.push_back(std::make_shared<AppCacheScanner>());       // 2
        list.push_back(std::make_shared<XcodeScanner>());          // 3
        list.push_back(std::make_shared<NodeModulesScanner>());    // 4
        list.push_back(std::make_shared<ScreenshotScanner>());     // 5
        list.push_back(std::make_shared<SimulatorScanner>());      // 6
        list.push_back(std::make_shared<DockerScanner>());         // 7
        list.push_back(std::make_shared<UserCachesScanner>());     // 8
        list.push_back(std::make_shared<LogsScanner>());           // 9
        list.push_back(std::make_shared<DownloadsScanner>());      // 10
        list.push_back(std::make_shared<TrashScanner>());          // 11
        list.push_back(std::make_shared<AppLeftoversScanner>());   // 12
        list.push_back(std::make_shared<LanguageFilesScanner>());  // 13
        list.push_back(std::make_shared<LargeOldFilesScanner>());  // 14
        list.push_back(std::make_shared<MailAttachmentScanner>()); // 15
        list.push_back(std::make_shared<IOSBackupScanner>());      // 16
        list.push_back(std::make_shared<CloudClutterScanner>());   // 17
        list.push_back(std::make_shared<PrivacyTraceScanner>());   // 18
        list.push_back(std::make_shared<MediaLeftoversScanner>()); // 19
        list.push_back(std::make_shared<SimilarImagesScanner>());  // 20
        list.push_back(std::make_shared<DuplicateScanner>());      // 21
        return list;
    }();
    return registry;
}

std::vector<CategoryResult> runAll(const ScannerList& registry, const OnScannerFinished& onScannerFinished,
                                   const std::atomic<bool>* stop, std::vector<CleanupItem>* copies) {
    if (registry.empty()) {
        return {};
    }
    const HomeFiles::Session sharedWalks; // the scanners of large files walk the home once between them
    const int total = static_cast<int>(registry.size());
    std::mutex lock;
    std::map<int, std::pair<CategoryKind, std::vector<CleanupItem>>> found;
    int finished = 0;
    std::vector<CategoryResult> latest;
    std::counting_semaphore<maxConcurrent> admission(maxConcurrent);
    std::vector<std::thread> workers;
    workers.reserve(registry.size());

    for (int position = 0; position < total; ++position) {
        admission.acquire();
        if (stop != nullptr && stop->load()) {
            admission.release();
            break; // the scanners already running finish; no other starts
        }
        workers.emplace_back([&, position] {
            const auto& scanner = *registry[static_cast<std::size_t>(position)];
            std::vector<CleanupItem> items = scanner.scan();
            const CategoryKind kind = scanner.kind();
            {
                const std::lock_guard guard(lock);
                if (copies != nullptr &&
                    (kind == CategoryKind::duplicates || kind == CategoryKind::similarImages)) {
                    copies->insert(copies->end(), items.begin(), items.end());
                }
                found[position] = {kind, std::move(items)};
                ++finished;
                std::vector<CategoryResult> merged;
                for (const auto& [p, entry] : found) {
                    if (entry.second.empty()) {
                        continue;
                    }
                    CategoryResult result{entry.first, entry.second};
                    std::stable_sort(
                        result.items.begin(), result.items.end(),
                        [](const CleanupItem& a, const CleanupItem& b) { return a.bytes > b.bytes; });
                    merged.push_back(std::move(result));
                }
                latest = Dedup::collapse(merged);
                // Reported under the lock, so reports arrive in the order they were counted: a listener
                // that keeps the last one holds the final count and the fullest list.
                if (onScannerFinished) {
                    onScannerFinished(finished, total, kind, latest);
                }
            }
            admission.release();
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const std::lock_guard guard(lock);
    return latest;
}

std::vector<CategoryResult> runAll(const OnScannerFinished& onScannerFinished) {
    return runAll(all(), onScannerFinished, nullptr, nullptr);
}

} // namespace AllScanners
