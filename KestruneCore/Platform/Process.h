// Child processes of tools the program runs (gio, the package managers' own cleaners). Any thread;
// each call blocks until the child ends or its time is up.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Process {

struct Result {
    bool started = false;  // false: the program could not be run at all (errno text in `error`)
    bool timedOut = false; // killed after the time limit
    int status = -1;       // exit status, or 128 + signal
    std::string output;    // standard output
    std::string error;     // standard error
};

// Where the child's standard error goes: its own pipe (`error`), or the pipe of standard output, so that
// both arrive interleaved in `output` as a terminal would show them.
enum class Streams { separate, merged };

// Runs argv[0] (looked up in PATH when it has no slash) with the rest as arguments, no shell, standard
// input from /dev/null. After `limit` the child is killed with SIGKILL.
Result run(const std::vector<std::string>& argv, std::chrono::milliseconds limit = std::chrono::minutes(2),
           Streams streams = Streams::separate);

// Starts argv[0] (looked up like run does) and returns at once; the child is reaped when it ends.
// Nothing, or why it could not be started.
[[nodiscard]] std::optional<std::string> startDetached(const std::vector<std::string>& argv);

// The program's full path when PATH (or the given path) names an executable file, else "".
[[nodiscard]] std::string find(const std::string& program);

} // namespace Process
