// kestrune-cli map [home|apps|disk|PATH]: builds the disk map's size tree of a scope or folder with the
// window's options and prints it as an indented list or nested JSON. The builder reports from its
// worker threads; the progress line takes its own lock.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"

#include "KestruneCore/DiskMap/VolumeTree.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

struct MapOptions {
    std::string target = "home";
    int depth = 2;
    int threads = 0; // 0: the hardware's cores, clamped to 2...8
    bool json = false;
    bool progress = false;
    bool quiet = false;
};

std::string withThousands(std::int64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const std::size_t lead = digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (i + 3 - lead) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

nlohmann::json document(const DiskNode& node) {
    nlohmann::json children = nlohmann::json::array();
    for (const auto& child : node.children) {
        children.push_back(document(*child));
    }
    nlohmann::json out{{"name", node.name()},
                       {"bytes", node.bytes},
                       {"isDirectory", node.isDirectory},
                       {"isAggregate", node.isAggregate},
                       {"children", std::move(children)}};
    Output::addPath(out, node.path());
    return out;
}

void printTree(const DiskNode& node, const std::string& label, int level, int depth) {
    std::printf("%10s  %s%s\n", DiskMath::human(node.bytes).c_str(),
                std::string(static_cast<std::size_t>(level) * 2, ' ').c_str(), Utf8::valid(label).c_str());
    if (level >= depth) {
        return;
    }
    for (const auto& child : node.children) {
        printTree(*child, child->isDirectory && !child->isAggregate ? child->name() + "/" : child->name(),
                  level + 1, depth);
    }
}

void map(const MapOptions& options) {
    // The scope keywords first; anything else is a folder, so "./home" names a folder called home.
    std::string title;
    std::string root;
    for (const auto& scope : VolumeTree::roots()) {
        if (scope.id == options.target) {
            title = scope.title;
            root = scope.url;
        }
    }
    if (root.empty()) {
        std::string path = options.target;
        if (!path.empty() && path.front() != '/') {
            std::error_code error;
            const auto cwd = std::filesystem::current_path(error);
            if (error) {
                std::fprintf(stderr, "kestrune-cli map: the current folder cannot be read: %s\n",
                             error.message().c_str());
                Commands::exitStatus() = 1;
                return;
            }
            path = Paths::child(cwd.string(), path);
        }
        root = Paths::standardized(path);
        title = Utf8::valid(root);
    }
    if (const auto problem = Platform::whyUnreachable(root)) {
        std::fprintf(stderr, "kestrune-cli map: %s: %s\n", Utf8::valid(root).c_str(), problem->c_str());
        Commands::exitStatus() = 1;
        return;
    }

    VolumeTree::Options build;
    build.minBytes = 2'000'000;
    build.maxDepth = 7;
    build.maxChildren = 120;
    build.threads = options.threads > 0
                        ? options.threads
                        : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 8);

    Output::ProgressLine line(Output::ProgressLine::modeFor(options.quiet, options.progress));
    const auto tree = VolumeTree::build(
        root, build,
        [&](const VolumeTree::Progress& progress) {
            std::string text = title;
            if (!progress.area.empty()) {
                text += " \u00b7 " + Utf8::valid(progress.area);
            }
            text += " \u00b7 " + withThousands(progress.directories) +
                    (progress.directories == 1 ? " folder" : " folders") + " \u00b7 " +
                    DiskMath::human(progress.bytes);
            line.show(text);
        },
        [] { return false; });
    line.finish();

    if (!tree) {
        // Nothing of size below the root: an empty map.
        if (options.json) {
            Output::printJson(nlohmann::json::object({{"name", std::string(Paths::lastComponent(root))},
                                                      {"path", root},
                                                      {"bytes", 0},
                                                      {"isDirectory", true},
                                                      {"isAggregate", false},
                                                      {"children", nlohmann::json::array()}}));
        } else {
            std::printf("%10s  %s\n", DiskMath::human(0).c_str(), Utf8::valid(root).c_str());
        }
        Commands::exitStatus() = 0;
        return;
    }
    if (options.json) {
        auto json = document(*tree);
        if (tree->unreadable > 0) {
            json["unreadable"] = tree->unreadable;
        }
        Output::printJson(json);
    } else {
        printTree(*tree, root, 0, options.depth);
    }
    Commands::exitStatus() = 0;
    if (tree->unreadable > 0) {
        // The figures are lower bounds: say so, as `size` does.
        std::fprintf(stderr, "kestrune-cli map: %s: %lld %s could not be read\n", Utf8::valid(root).c_str(),
                     static_cast<long long>(tree->unreadable), tree->unreadable == 1 ? "entry" : "entries");
        Commands::exitStatus() = 1;
    }
}

const Commands::Registration registration{
    15, [](CLI::App& app) {
        auto options = std::make_shared<MapOptions>();
        auto* command = app.add_subcommand(
            "map", "Build the disk map of the home folder, the applications, the whole disk or a folder");
        command
            ->add_option("target", options->target,
                         "home (default), apps (/usr), disk (/), or the path of a folder")
            ->type_name("home|apps|disk|PATH");
        command->add_option("--depth", options->depth, "Levels of the tree to print (default 2)")
            ->check(CLI::Range(0, 1000))
            ->type_name("N");
        command
            ->add_option("--threads", options->threads,
                         "Worker threads (default: the processor's cores, at least 2, at most 8)")
            ->check(CLI::Range(1, 256))
            ->type_name("N");
        command->add_flag(
            "--json", options->json,
            "Print the whole tree as nested {name, path, bytes, isDirectory, isAggregate, children}");
        auto* progress =
            command->add_flag("--progress", options->progress,
                              "Show the progress line even when standard error is not a terminal");
        auto* quiet = command->add_flag("--quiet", options->quiet, "Show no progress line");
        progress->excludes(quiet);
        command->callback([options] { map(*options); });
    }};

} // namespace
