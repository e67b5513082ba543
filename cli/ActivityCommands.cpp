// kestrune-cli history and report: the audit log as a list and as the support report.
#include "cli/Commands.h"
#include "cli/Output.h"

#include "BuildInfo.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct HistoryOptions {
    bool json = false;
    bool paths = false;
};

void printHistory(const ActivityDocument& document, bool withPaths) {
    if (document.events.empty()) {
        std::cout << "No activity yet\n";
        return;
    }
    if (document.lifetimeReclaimedBytes >= 1) {
        std::cout << "Reclaimed so far " << DiskMath::human(document.lifetimeReclaimedBytes) << "\n\n";
    }
    for (const auto& event : document.events) {
        std::cout << Dates::local(event.date) << "  " << Utf8::valid(event.title);
        // A reclaim's title already names the size.
        if (event.bytes && *event.bytes >= 1 && event.kind != ActivityKind::reclaim) {
            std::cout << " \u00B7 " << DiskMath::human(*event.bytes);
        }
        std::cout << "\n";
        if (event.detail && !event.detail->empty()) {
            std::cout << "    " << Utf8::valid(*event.detail) << "\n";
        }
        if (withPaths) {
            for (const auto& p : event.paths) {
                std::string raw(ActivityKinds::rawValue(p.disposition));
                raw.resize(std::max<std::size_t>(raw.size(), 8), ' ');
                std::cout << "    " << raw << " " << Utf8::valid(p.path);
                if (p.bytes >= 1) {
                    std::cout << "  (" << DiskMath::human(p.bytes) << ")";
                }
                if (p.error && !p.error->empty()) {
                    std::cout << " \u2014 " << Utf8::valid(*p.error);
                }
                std::cout << "\n";
            }
        } else if (!event.paths.empty()) {
            std::cout << "    " << event.paths.size() << " paths\n";
        }
    }
}

const Commands::Registration history{
    30, [](CLI::App& app) {
        auto options = std::make_shared<HistoryOptions>();
        auto* command = app.add_subcommand("history", "List the audit log, newest first");
        command->add_flag("--json", options->json, "Print the stored log document as it is");
        command->add_flag("--paths", options->paths, "List every path each event touched");
        command->callback([options] {
            if (options->json) {
                std::cout << ActivityStore::storedText();
            } else {
                printHistory(ActivityStore::load(), options->paths);
            }
        });
    }};

struct ReportOptions {
    std::string output;
};

const Commands::Registration report{
    31, [](CLI::App& app) {
        auto options = std::make_shared<ReportOptions>();
        auto* command = app.add_subcommand("report", "Print the support report of the audit log");
        command->add_option("--output,-o", options->output, "Write the report to this file instead");
        command->callback([options] {
            const std::string text =
                ActivityStore::supportReport(ActivityStore::load(), BuildInfo::version, BuildInfo::build);
            if (options->output.empty()) {
                std::cout << text << "\n";
                return;
            }
            if (!AtomicFile::replace(options->output, text + "\n")) {
                std::cerr << "kestrune-cli: cannot write " << Utf8::valid(options->output) << ": "
                          << std::strerror(errno) << "\n";
                Commands::exitStatus() = 1;
            }
        });
    }};

} // namespace
