// Each command of kestrune-cli lives in its own file and registers itself here at start-up.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace Commands {

// `order` sorts the commands in the help text; `add` creates the subcommand and its callback.
struct Registration {
    Registration(int order, std::function<void(CLI::App&)> add);
};

// Set by a command's callback: the process exit status.
int& exitStatus();

// Accepts the raw value of a category kind, such as userCaches.
CLI::Validator categoryKind();

} // namespace Commands
