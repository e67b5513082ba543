// kestrune-cli apps and uninstall: the uninstaller's inventory as text or JSON, and uninstall or reset of
// one application through the same engine (and the same audit log entries) as the window, with the plan
// shown first and the same confirmation and exit codes as reclaim.
#include "cli/Commands.h"
#include "cli/Output.h"

#include "Kestrune/Engines/UninstallEngine.h"
#include "KestruneCore/Activity/ActivityEvent.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>

#include <cstdio>
#include <iostream>
#include <memory>

namespace {

void await(const QFuture<void>& future) {
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}

std::string usageText(const AppUsage& usage) {
    switch (usage.kind) {
    case AppUsage::Kind::used:
        return "last used " + Dates::iso8601(*usage.date);
    case AppUsage::Kind::neverOpened:
        return "never opened";
    case AppUsage::Kind::unknown:
        return "no usage history";
    }
    return {};
}

std::string shown(const std::string& path) {
    return Utf8::valid(ActivityPath::displayPath(path));
}

struct AppsOptions {
    bool json = false;
};

void listApps(const AppsOptions& options) {
    const auto apps = AppInventory::installed();
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& app : apps) {
            nlohmann::json object;
            object["id"] = Utf8::valid(app.id);
            object["name"] = Utf8::valid(app.name);
            Output::addPath(object, app.url);
            object["bytes"] = app.bytes;
            object["lastUsed"] =
                app.lastUsed() ? nlohmann::json(Dates::iso8601(*app.lastUsed())) : nlohmann::json();
            object["source"] = std::string(AppSources::rawValue(app.source));
            if (app.bundleID) {
                object["bundleID"] = Utf8::valid(*app.bundleID);
            }
            if (const auto command = app.privilegedRemoval(); !command.empty()) {
                object["removalCommand"] = command;
            }
            nlohmann::json files = nlohmann::json::array();
            for (const auto& file : AppInventory::leftovers(app, apps)) {
                nlohmann::json f;
                Output::addPath(f, file.item.url);
                f["bytes"] = file.item.bytes;
                if (!file.sharedWith.empty()) {
                    f["sharedWith"] = Utf8::valid(file.sharedWith);
                }
                files.push_back(std::move(f));
            }
            object["supportFiles"] = std::move(files);
            list.push_back(std::move(object));
        }
        Output::printJson(nlohmann::json{{"apps", std::move(list)}});
        return;
    }
    std::int64_t total = 0;
    for (const auto& app : apps) {
        total += app.bytes;
        std::printf("%-32s %-9s %10s  %s\n", Utf8::valid(app.name).c_str(),
                    std::string(AppSources::rawValue(app.source)).c_str(), DiskMath::human(app.bytes).c_str(),
                    usageText(app.usage).c_str());
        std::printf("    %s  (id %s)\n", shown(app.url).c_str(), Utf8::valid(app.id).c_str());
    }
    std::printf("%zu %s, %s\n", apps.size(), apps.size() == 1 ? "app" : "apps",
                DiskMath::human(total).c_str());
}

struct UninstallOptions {
    std::string id;
    std::vector<std::string> keep;
    bool reset = false;
    bool dryRun = false;
    bool yes = false;
};

void uninstall(const UninstallOptions& options) {
    int argc = 1;
    char name[] = "kestrune-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    UninstallEngine engine;
    await(engine.load());
    const InstalledApp* found = engine.app(options.id);
    if (!found) {
        for (const auto& app : engine.apps()) {
            if (app.url == options.id) {
                found = &app;
            }
        }
    }
    if (!found) {
        std::cerr << "kestrune-cli: no installed application with the id or path " << Utf8::valid(options.id)
                  << " (see kestrune-cli apps)\n";
        Commands::exitStatus() = 1;
        return;
    }
    const InstalledApp app = *found;
    await(engine.select(app));
    for (const auto& keep : options.keep) {
        bool known = false;
        for (const auto& file : engine.leftovers()) {
            if (file.item.url == keep || ActivityPath::displayPath(file.item.url) == keep) {
                known = true;
                if (!engine.isExcluded(file.item)) {
                    engine.toggle(file.item);
                }
            }
        }
        if (!known) {
            std::cerr << "kestrune-cli: " << Utf8::valid(keep) << " is not a support file of "
                      << Utf8::valid(app.name) << "\n";
            Commands::exitStatus() = 1;
            return;
        }
    }

    const bool reset = options.reset;
    std::cout << (reset ? "Reset " : "Uninstall ") << Utf8::valid(app.name) << " ("
              << AppSources::rawValue(app.source) << ")\n";
    if (!reset) {
        std::printf("  %-60s %10s\n", shown(app.url).c_str(), DiskMath::human(app.bytes).c_str());
    }
    std::int64_t total = reset ? 0 : app.bytes;
    for (const auto& file : engine.leftovers()) {
        const bool kept = engine.isExcluded(file.item);
        if (!kept) {
            total += file.item.bytes;
        }
        std::string note = kept ? "  kept" : "";
        if (!file.sharedWith.empty()) {
            note += " (also " + Utf8::valid(file.sharedWith) + "'s)";
        }
        std::printf("  %-60s %10s%s\n", shown(file.item.url).c_str(),
                    DiskMath::human(file.item.bytes).c_str(), note.c_str());
    }
    const auto selected = engine.selectedLeftovers();
    std::printf("  %-60s %10s\n", "Total", DiskMath::human(total).c_str());
    std::cout.flush();
    if (engine.selectedRunning() != AppInventory::Running::no) {
        std::cerr << "kestrune-cli: quit " << Utf8::valid(app.name) << " first; nothing was changed\n";
        Commands::exitStatus() = 1;
        return;
    }
    if (!reset) {
        if (const auto command = app.privilegedRemoval(); !command.empty()) {
            std::cerr << "kestrune-cli: removing " << Utf8::valid(app.name)
                      << " needs administrator rights; run: " << command << "\n";
            Commands::exitStatus() = 1;
            return;
        }
    } else if (selected.empty()) {
        std::cout << "Nothing to reset.\n";
        return;
    }
    if (options.dryRun) {
        return;
    }
    if (!options.yes) {
        if (!Platform::isTerminal(Platform::Stream::input)) {
            std::cerr << "kestrune-cli: not asking without a terminal; pass --yes to "
                      << (reset ? "reset" : "uninstall") << "\n";
            Commands::exitStatus() = 2;
            return;
        }
        const std::string count =
            std::to_string(selected.size()) + (selected.size() == 1 ? " support item" : " support items");
        const std::string question =
            reset ? "Move " + count + " of " + app.name + " to the Trash (" + DiskMath::human(total) + ")?"
                  : "Remove " + app.name + " and " + count + " (" + DiskMath::human(total) + ")?";
        if (!Output::confirmed(question)) {
            std::cout << "Nothing was changed.\n";
            return;
        }
    }
    await(reset ? engine.resetApp() : engine.uninstall());
    if (engine.lastRemoved()) {
        std::cout << Utf8::valid(*engine.lastRemoved()) << "\n";
    }
    for (const auto& error : engine.errors()) {
        std::cerr << Utf8::valid(error) << "\n";
    }
    Commands::exitStatus() = engine.errors().empty() ? 0 : 1;
}

const Commands::Registration appsRegistration{
    30, [](CLI::App& cli) {
        auto options = std::make_shared<AppsOptions>();
        auto* command = cli.add_subcommand(
            "apps", "List the installed applications with their size, last use and support files");
        command->add_flag("--json", options->json, "Print JSON");
        command->callback([options] { listApps(*options); });
    }};

const Commands::Registration uninstallRegistration{
    31, [](CLI::App& cli) {
        auto options = std::make_shared<UninstallOptions>();
        auto* command = cli.add_subcommand(
            "uninstall", "Move an application and its support files to the Trash (asks first)");
        command->add_option("ID", options->id, "The application's id or path, as kestrune-cli apps lists it")
            ->required();
        command->add_flag("--reset", options->reset, "Move only the support files; keep the application");
        command->add_option("--keep", options->keep, "Leave this support file where it is (repeatable)")
            ->type_name("PATH");
        command->add_flag("--dry-run", options->dryRun, "Show the plan and stop; nothing changes");
        command->add_flag("--yes,-y", options->yes, "Do not ask for confirmation");
        command->callback([options] { uninstall(*options); });
    }};

} // namespace
