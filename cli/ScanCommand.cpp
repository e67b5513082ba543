// kestrune-cli scan: runs every category scanner over the home folder ($HOME) and prints what it found.
// The runner reports from its worker threads, so the progress line and the timings take a lock.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "cli/ScanReport.h"

#include "KestruneCore/Images/Images.h"
#include "KestruneCore/Scanners/AllScanners.h"
#include "KestruneCore/Scanners/HashCache.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

struct ScanOptions {
    bool json = false;
    bool all = false;
    bool progress = false;
    bool quiet = false;
    bool timings = false;
    bool noCache = false;
    std::vector<std::string> only;
};

// Wall times of the scanners of one run, by registry position.
struct Timings {
    std::mutex lock;
    std::map<std::size_t, double> seconds;
};

// Runs the scanner it wraps and notes how long scan() took.
class TimedScanner final : public Scanner {
public:
    TimedScanner(std::shared_ptr<const Scanner> inner, std::size_t position, Timings& timings)
        : inner(std::move(inner)), position(position), timings(timings) {}
    [[nodiscard]] CategoryKind kind() const override { return inner->kind(); }
    [[nodiscard]] std::vector<CleanupItem> scan() const override {
        const auto start = Clock::now();
        auto items = inner->scan();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const std::lock_guard guard(timings.lock);
        timings.seconds[position] = elapsed;
        return items;
    }

private:
    std::shared_ptr<const Scanner> inner;
    std::size_t position;
    Timings& timings;
};

void scan(const ScanOptions& options) {
    HashCache::setEnabled(!options.noCache);
    const ScannerList& registry = AllScanners::all();
    std::vector<CategoryKind> wanted;
    for (const auto& raw : options.only) {
        if (const auto kind = CategoryKinds::fromRawValue(raw)) {
            wanted.push_back(*kind);
        }
    }
    Timings timings;
    ScannerList chosen;
    for (std::size_t position = 0; position < registry.size(); ++position) {
        const auto& scanner = registry[position];
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), scanner->kind()) == wanted.end()) {
            continue;
        }
        chosen.push_back(std::make_shared<TimedScanner>(scanner, position, timings));
    }

    Output::ProgressLine progress(Output::ProgressLine::modeFor(options.quiet, options.progress));
    const std::string home = ScannerHelpers::home();
    const auto start = Clock::now();
    const auto results = AllScanners::runAll(
        chosen, [&](int finished, int total, CategoryKind kind, const std::vector<CategoryResult>&) {
            progress.show("Scanning " + std::string(CategoryKinds::title(kind)) + "\u2026 (" +
                          std::to_string(finished) + " of " + std::to_string(total) + ")");
        });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    progress.finish();
    if (const std::string problem = Images::otherFormatsProblem(); !problem.empty()) {
        std::fprintf(stderr, "Similar images: only JPEG photos were compared (%s)\n", problem.c_str());
    }

    if (options.timings) {
        for (const auto& [position, elapsed] : timings.seconds) {
            std::fprintf(stderr, "%-16s %8.3f s\n",
                         std::string(CategoryKinds::rawValue(registry[position]->kind())).c_str(), elapsed);
        }
        std::fprintf(stderr, "%-16s %8.3f s\n", "total", seconds);
        if (const auto cache = HashCache::shared()) {
            for (const auto& [kind, name] : {std::pair{HashCache::Kind::headTail, "head and tail"},
                                             std::pair{HashCache::Kind::full, "whole file"},
                                             std::pair{HashCache::Kind::imageHash, "image hash"}}) {
                const auto counts = cache->counts(kind);
                std::fprintf(stderr, "cache %-13s %6lld hits %6lld misses\n", name,
                             static_cast<long long>(counts.hits), static_cast<long long>(counts.misses));
            }
        }
    }
    if (options.json) {
        Output::printJson(ScanReport::document(home, seconds, results));
    } else {
        ScanReport::printText(std::cout, results,
                              options.all ? ScanReport::Listing::everything : ScanReport::Listing::topTen);
    }
    Commands::exitStatus() = 0;
}

const Commands::Registration registration{
    5, [](CLI::App& app) {
        auto options = std::make_shared<ScanOptions>();
        auto* command =
            app.add_subcommand("scan", "Scan the home folder for reclaimable space and list what was found");
        command->add_flag("--json", options->json, "Print one JSON document instead of text");
        command->add_flag("--all", options->all, "List every item of a category, not only the ten largest");
        auto* progress =
            command->add_flag("--progress", options->progress,
                              "Show the progress line even when standard error is not a terminal");
        auto* quiet = command->add_flag("--quiet", options->quiet, "Show no progress line");
        progress->excludes(quiet);
        command->add_flag("--timings", options->timings,
                          "Print each scanner's wall time (and the hash cache's hits) to standard error");
        command->add_flag("--no-cache", options->noCache,
                          "Neither read nor write the hash cache in $XDG_CACHE_HOME/kestrune");
        command
            ->add_option("--only", options->only,
                         "Run only the scanner of this category kind (repeatable), e.g. userCaches")
            ->type_name("KIND")
            ->check(Commands::categoryKind());
        command->callback([options] { scan(*options); });
    }};

} // namespace
