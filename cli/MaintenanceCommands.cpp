// kestrune-cli maintenance and login-items: the housekeeping tasks and the session's background items,
// headless. What runs or is removed is recorded in the audit log like the window does.
#include "cli/Commands.h"
#include "cli/Output.h"

#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Maintenance/LoginItems.h"
#include "KestruneCore/Maintenance/Maintenance.h"
#include "KestruneCore/Model/Dates.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Model/Uuid.h"

#include <memory>

namespace {

void recordMaintenance(const std::string& title, const std::string& outcome) {
    ActivityEvent event;
    event.id = Uuid::random();
    event.date = Dates::now();
    event.kind = ActivityKind::maintenance;
    event.title = "Maintenance \u00B7 " + title;
    event.detail = outcome;
    std::optional<std::string> problem;
    (void)ActivityStore::append(event, 0, ActivityStore::maxEvents, problem);
    if (problem) {
        std::cerr << "kestrune-cli: could not record in the audit log: " << *problem << "\n";
    }
}

std::string statusName(Maintenance::TaskOutcome::Status status) {
    switch (status) {
    case Maintenance::TaskOutcome::Status::done:
        return "done";
    case Maintenance::TaskOutcome::Status::failed:
        return "failed";
    case Maintenance::TaskOutcome::Status::notRun:
        return "notRun";
    }
    return "";
}

struct MaintenanceOptions {
    bool json = false;
    std::string run;
};

void listTasks(bool json) {
    const auto tasks = Maintenance::tasks();
    if (json) {
        auto list = nlohmann::json::array();
        for (const auto& t : tasks) {
            list.push_back({{"id", t.id},
                            {"title", t.title},
                            {"detail", t.detail},
                            {"runnable", t.isRunnable()},
                            {"needsRoot", t.needsRoot},
                            {"command", t.command ? nlohmann::json(*t.command) : nlohmann::json()}});
        }
        Output::printJson({{"tasks", list}});
        return;
    }
    for (const auto& t : tasks) {
        std::cout << t.id << "  " << t.title << (t.isRunnable() ? "  (runs here: --run " + t.id + ")" : "")
                  << "\n";
        std::cout << "    " << t.detail << "\n";
        if (t.command) {
            std::cout << "    $ " << *t.command << "\n";
        }
    }
}

void runTask(const std::string& id, bool json) {
    const auto task = Maintenance::task(id);
    if (!task) {
        std::cerr << "kestrune-cli: no maintenance task \"" << Utf8::valid(id) << "\"\n";
        Commands::exitStatus() = 2;
        return;
    }
    const auto outcome = Maintenance::run(*task);
    // A task that needs root started nothing, so there is nothing to record.
    if (outcome.status != Maintenance::TaskOutcome::Status::notRun) {
        recordMaintenance(task->title, outcome.sentence);
    }
    if (json) {
        Output::printJson({{"id", task->id},
                           {"title", task->title},
                           {"status", statusName(outcome.status)},
                           {"outcome", outcome.sentence}});
    } else {
        std::cout << task->title << ": " << outcome.sentence << "\n";
        if (outcome.status == Maintenance::TaskOutcome::Status::notRun && task->command) {
            std::cout << "    $ " << *task->command << "\n";
        }
    }
    if (!outcome.ok()) {
        Commands::exitStatus() = 1;
    }
}

const Commands::Registration maintenance{
    40, [](CLI::App& app) {
        auto options = std::make_shared<MaintenanceOptions>();
        auto* command = app.add_subcommand("maintenance", "List the maintenance tasks, or run one");
        command->add_flag("--json", options->json, "Print JSON");
        command->add_option("--run", options->run, "Run the task with this id and record it")
            ->type_name("ID");
        command->callback([options] {
            if (options->run.empty()) {
                listTasks(options->json);
            } else {
                runTask(options->run, options->json);
            }
        });
    }};

struct LoginOptions {
    bool json = false;
    bool removeBroken = false;
    bool yes = false;
};

std::string programStateName(BackgroundItem::Program state) {
    switch (state) {
    case BackgroundItem::Program::found:
        return "found";
    case BackgroundItem::Program::missing:
        return "missing";
    case BackgroundItem::Program::unknown:
        return "unknown";
    case BackgroundItem::Program::none:
        return "none";
    }
    return "";
}

nlohmann::json itemJson(const BackgroundItem& item) {
    nlohmann::json object{{"label", item.label},
                          {"kind", item.scope()},
                          {"program", item.program.empty() ? nlohmann::json() : nlohmann::json(item.program)},
                          {"programState", programStateName(item.programState)},
                          {"broken", item.isBroken()},
                          {"userOwned", item.isUserWritable},
                          {"disabled", item.disabled}};
    Output::addPath(object, item.path);
    return object;
}

void listItems(const std::vector<BackgroundItem>& items, bool json) {
    if (json) {
        auto list = nlohmann::json::array();
        for (const auto& item : items) {
            list.push_back(itemJson(item));
        }
        Output::printJson({{"items", list}});
        return;
    }
    if (items.empty()) {
        std::cout << "No login or background items\n";
        return;
    }
    for (const auto& item : items) {
        std::string tags;
        if (item.isBroken()) {
            tags += "  [missing binary]";
        }
        if (item.programState == BackgroundItem::Program::unknown) {
            tags += "  [can't be checked]";
        }
        if (item.disabled) {
            tags += "  [disabled]";
        }
        std::cout << Utf8::valid(item.label) << "  (" << item.scope()
                  << (item.isUserWritable ? ", yours" : ", system") << ")" << tags << "\n    "
                  << Utf8::valid(item.path) << "\n";
        if (!item.program.empty()) {
            std::cout << "    runs " << Utf8::valid(item.program) << "\n";
        }
    }
}

void removeBroken(bool yes, bool json) {
    std::vector<BackgroundItem> broken;
    for (auto& item : LoginItems::all()) {
        if (item.isBroken() && item.isUserWritable) {
            broken.push_back(std::move(item));
        }
    }
    auto results = nlohmann::json::array();
    if (broken.empty() && !json) {
        std::cout << "No broken items of your own\n";
    }
    for (const auto& item : broken) {
        nlohmann::json result = itemJson(item);
        if (!yes) {
            result["removed"] = false;
            if (!json) {
                std::cout << "would move to Trash: " << Utf8::valid(item.path) << "\n";
            }
        } else if (const auto error = LoginItems::remove(item)) {
            result["removed"] = false;
            result["error"] = *error;
            Commands::exitStatus() = 1;
            if (!json) {
                std::cout << "failed: " << Utf8::valid(item.path) << " \u2014 " << *error << "\n";
            }
        } else {
            result["removed"] = true;
            recordMaintenance("Removed broken login item", item.label);
            if (!json) {
                std::cout << "moved to Trash: " << Utf8::valid(item.path) << "\n";
            }
        }
        results.push_back(std::move(result));
    }
    if (json) {
        Output::printJson({{"removed", results}, {"dryRun", !yes}});
    } else if (!yes && !broken.empty()) {
        std::cout << "Nothing was moved. Run again with --yes to move these to the Trash.\n";
    }
}

const Commands::Registration loginItems{
    41, [](CLI::App& app) {
        auto options = std::make_shared<LoginOptions>();
        auto* command =
            app.add_subcommand("login-items", "List what starts with the session; remove broken items");
        command->add_flag("--json", options->json, "Print JSON");
        command->add_flag("--remove-broken", options->removeBroken,
                          "Move your own items whose program is missing to the Trash (with --yes)");
        command->add_flag("--yes", options->yes, "Really move them; without it the command only lists them");
        command->callback([options] {
            if (options->removeBroken) {
                removeBroken(options->yes, options->json);
            } else {
                listItems(LoginItems::all(), options->json);
            }
        });
    }};

} // namespace
