// Runs the tools that own the space of the two advisory categories (simulators, Docker) and turns what
// they say into one sentence. Any thread except the GUI thread: each call blocks until the tool ends
// or its time is up.
#pragma once

#include "KestruneCore/Model/CategoryKind.h"

#include <chrono>
#include <string>

namespace ToolCleanup {

inline constexpr std::chrono::seconds timeLimit{120};

[[nodiscard]] bool isRunnable(CategoryKind kind);
// The command shown for the user to copy in the category's panel.
[[nodiscard]] std::string command(CategoryKind kind);

[[nodiscard]] std::string run(CategoryKind kind);
[[nodiscard]] std::string runSimulators();
// Asks Docker what it could reclaim (`docker system df`). It never starts a container: on a native
// engine a privileged container is root on the host, and starting one may pull an image.
[[nodiscard]] std::string runDocker();

} // namespace ToolCleanup
