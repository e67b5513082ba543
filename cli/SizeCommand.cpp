// kestrune-cli size PATH...: allocated bytes of files and folder trees, comparable with du.
#include "cli/Commands.h"
#include "cli/Output.h"

#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <memory>

namespace {

struct SizeOptions {
    std::vector<std::string> paths;
    bool json = false;
};

const Commands::Registration registration{
    10, [](CLI::App& app) {
        auto options = std::make_shared<SizeOptions>();
        auto* command = app.add_subcommand("size", "Print the allocated size of each path");
        command->add_option("paths", options->paths, "Files or folders to measure")->required();
        command->add_flag("--json", options->json, "Print a JSON array of {path, bytes}");
        command->callback([options] {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& path : options->paths) {
                const auto measurement = DiskMath::measured(path);
                const std::int64_t bytes = measurement.bytes;
                const std::int64_t unreadable = measurement.unreadable;
                if (unreadable > 0) {
                    // The figure is a lower bound: say so rather than print it as the truth.
                    std::cerr << "kestrune-cli size: " << Utf8::valid(path) << ": " << unreadable
                              << (unreadable == 1 ? " entry" : " entries") << " could not be read\n";
                    Commands::exitStatus() = 1;
                }
                if (options->json) {
                    nlohmann::json entry{{"bytes", bytes}};
                    if (unreadable > 0) {
                        entry["unreadable"] = unreadable;
                    }
                    Output::addPath(entry, path);
                    array.push_back(std::move(entry));
                } else {
                    std::cout << DiskMath::human(bytes) << "\t" << bytes << "\t" << Utf8::valid(path) << "\n";
                }
            }
            if (options->json) {
                Output::printJson(array);
            }
        });
    }};

} // namespace
