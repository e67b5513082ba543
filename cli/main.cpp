// kestrune-cli: the headless front end of Kestrune.
#include "cli/Commands.h"

#include "BuildInfo.h"
#include "KestruneCore/Model/CategoryKind.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

namespace Commands {
namespace {

std::vector<std::pair<int, std::function<void(CLI::App&)>>>& registry() {
    static std::vector<std::pair<int, std::function<void(CLI::App&)>>> list;
    return list;
}

} // namespace

Registration::Registration(int order, std::function<void(CLI::App&)> add) {
    registry().emplace_back(order, std::move(add));
}

CLI::Validator categoryKind() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return CategoryKinds::fromRawValue(value) ? std::string()
                                                      : "unknown category kind \"" + value + "\"";
        },
        "KIND");
}

int& exitStatus() {
    static int status = 0;
    return status;
}

} // namespace Commands

int main(int argc, char** argv) {
    CLI::App app{"Kestrune finds disk space you can safely get back.", "kestrune-cli"};
    std::string version = BuildInfo::version;
    if (BuildInfo::revision[0] != '\0') {
        version += std::string(" (") + BuildInfo::revision + ")";
    }
    app.set_version_flag("--version", "kestrune-cli " + version);
    app.require_subcommand(1);
    auto& commands = Commands::registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, add] : commands) {
        add(app);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kestrune-cli: " << e.what() << "\n";
        return 2;
    }
    // Output that never arrived is a failure, even when the work itself succeeded.
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::cerr << "kestrune-cli: could not write the output\n";
        return Commands::exitStatus() == 0 ? 1 : Commands::exitStatus();
    }
    return Commands::exitStatus();
}
