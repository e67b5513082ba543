// kestrune-cli reclaim: scan, select, show the plan, confirm, then move the selection to the Trash and
// empty it, through the same engine (and the same audit log entries) as the window.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/FileAccess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

namespace {

struct ReclaimOptions {
    std::vector<std::string> categories;
    bool all = false;
    bool dryRun = false;
    bool yes = false;
    bool noEmpty = false;
    bool quiet = false;
    bool progress = false;
};

// Runs the event loop until the operation is done; the engines' work comes back through it.
void await(const QFuture<void>& future) {
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}

std::string countText(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " item" : " items");
}

void printKeptBack(const std::vector<ReclaimPlan::KeptBack>& keptBack) {
    if (keptBack.empty()) {
        return;
    }
    std::cout << "Kept back:\n";
    for (const auto& k : keptBack) {
        std::cout << "  " << Utf8::valid(k.reason) << "\n";
    }
}

// The plan: per category (registry order) the number of items the reclaim acts on and their size, then
// the total and what is kept back so that every group of copies keeps one member.
void printPlan(const ScanEngine& engine, const ReclaimPlan& plan, bool empties, bool trashLeftOut) {
    std::cout << "Plan:\n";
    std::size_t total = 0;
    std::int64_t totalBytes = 0;
    for (const auto& r : engine.results()) {
        std::size_t count = 0;
        std::int64_t bytes = 0;
        for (const auto& step : plan.steps) {
            if (step.kind == r.kind) {
                ++count;
                bytes += step.item.bytes;
            }
        }
        total += count;
        totalBytes += bytes;
        if (count > 0) {
            std::printf("  %-28s %12s %12s\n", std::string(CategoryKinds::title(r.kind)).c_str(),
                        countText(count).c_str(), DiskMath::human(bytes).c_str());
        }
    }
    std::printf("  %-28s %12s %12s\n", "Total", countText(total).c_str(),
                DiskMath::human(totalBytes).c_str());
    printKeptBack(plan.keptBack);
    if (trashLeftOut) {
        std::cout << "The Trash's own items are left out (--no-empty deletes nothing permanently).\n";
    }
    if (empties) {
        std::cout
            << "Then what this reclaim moves to the Trash is deleted from it permanently; the rest of the "
               "Trash ("
            << DiskMath::human(engine.trashBytesLive()) << " now) stays.\n";
    }
    std::cout.flush();
}

bool confirmed(const ReclaimPlan& plan) {
    std::int64_t bytes = 0;
    for (const auto& step : plan.steps) {
        bytes += step.item.bytes;
    }
    return Output::confirmed("Reclaim " + countText(plan.steps.size()) + " (" + DiskMath::human(bytes) +
                             ")?");
}

void reclaim(const ReclaimOptions& options) {
    int argc = 1;
    char name[] = "kestrune-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ScanEngine engine;
    Output::ProgressLine progress(Output::ProgressLine::modeFor(options.quiet, options.progress));
    QObject::connect(&engine, &ScanEngine::stepChanged, &engine, [&] {
        if (engine.isScanning() && !engine.progressLabel().empty()) {
            progress.show(engine.progressLabel() + " (" + std::to_string(engine.step()) + " of " +
                          std::to_string(engine.stepCount()) + ")");
        }
    });
    await(engine.scan());
    progress.finish();
    QObject::connect(&engine, &ScanEngine::progressLabelChanged, &engine, [&] {
        if (engine.progressLabel().starts_with("Waiting for another reclaim")) {
            std::cerr << "kestrune-cli: another reclaim is running; waiting for it to finish\n";
        }
    });

    if (options.all) {
        engine.selectAllReclaimable();
    } else if (!options.categories.empty()) {
        ScanEngine::Selection selection;
        for (const auto& raw : options.categories) {
            const auto kind = *CategoryKinds::fromRawValue(raw);
            if (!CategoryKinds::action(kind).isSelectable()) {
                std::cerr << "kestrune-cli: " << CategoryKinds::title(kind)
                          << " is freed by its own tool, not by reclaim\n";
                continue;
            }
            if (const auto* r = engine.result(kind)) {
                selection.insert(r->items.begin(), r->items.end());
            }
        }
        engine.setSelected(std::move(selection));
    }
    bool trashLeftOut = false;
    if (options.noEmpty) {
        // The Trash's own items are deleted for good when reclaimed; --no-empty promises nothing is.
        if (const auto* trash = engine.result(CategoryKind::trash)) {
            auto selection = engine.selected();
            for (const auto& item : trash->items) {
                trashLeftOut = selection.erase(item) > 0 || trashLeftOut;
            }
            engine.setSelected(std::move(selection));
        }
    }
    const ReclaimPlan plan = engine.plan();
    if (plan.steps.empty() && plan.keptBack.empty()) {
        std::cout << "Nothing to reclaim.\n";
        return;
    }
    const bool empties = !options.noEmpty && engine.selectionMovesToTrash();
    printPlan(engine, plan, empties, trashLeftOut);
    if (options.dryRun) {
        return;
    }
    if (!options.yes) {
        if (!Platform::isTerminal(Platform::Stream::input)) {
            std::cerr << "kestrune-cli: not asking without a terminal; pass --yes to reclaim\n";
            Commands::exitStatus() = 2;
            return;
        }
        if (!confirmed(plan)) {
            std::cout << "Nothing was changed.\n";
            return;
        }
    }

    bool failed = false;
    std::size_t printed = 0;
    auto printErrors = [&] {
        const auto& errors = engine.errors();
        for (; printed < errors.size(); ++printed) {
            std::cerr << Utf8::valid(errors[printed]) << "\n";
            failed = true;
        }
    };
    await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
    std::cout << "Moved to Trash or deleted: " << DiskMath::human(engine.lastReclaimed()) << "\n";
    printKeptBack(engine.keptBack());
    printErrors();
    if (empties && engine.reclaimedInTrash() > 0) {
        // lastReclaimed changes only when emptying freed something.
        std::int64_t emptied = 0;
        const auto connection = QObject::connect(&engine, &ScanEngine::lastReclaimedChanged, &engine,
                                                 [&] { emptied = engine.lastReclaimed(); });
        await(engine.emptyReclaimed(ScanEngine::Rescan::no));
        QObject::disconnect(connection);
        std::cout << "Emptied from the Trash: " << DiskMath::human(emptied) << "\n";
        printErrors();
    }
    std::cout << "Free space now: " << DiskMath::human(engine.freeSpace()) << "\n";
    Commands::exitStatus() = failed ? 1 : 0;
}

const Commands::Registration registration{
    20, [](CLI::App& app) {
        auto options = std::make_shared<ReclaimOptions>();
        auto* command = app.add_subcommand(
            "reclaim", "Scan, then move the selected items to the Trash and empty it (asks first)");
        command
            ->add_option("--category", options->categories,
                         "Reclaim exactly this category's items (repeatable), e.g. userCaches")
            ->type_name("KIND")
            ->check(Commands::categoryKind());
        auto* all =
            command->add_flag("--all", options->all, "Select every reclaimable item, not only the safe ones");
        all->excludes(command->get_option("--category"));
        command->add_flag("--dry-run", options->dryRun, "Show the plan and stop; nothing changes");
        command->add_flag("--yes,-y", options->yes, "Do not ask for confirmation");
        command->add_flag(
            "--no-empty", options->noEmpty,
            "Delete nothing permanently: leave the Trash's own items out and the Trash as it is");
        auto* progress =
            command->add_flag("--progress", options->progress,
                              "Show the progress line even when standard error is not a terminal");
        auto* quiet = command->add_flag("--quiet", options->quiet, "Show no progress line");
        progress->excludes(quiet);
        command->callback([options] { reclaim(*options); });
    }};

} // namespace
