// The progress line of long commands on standard error: rewritten in place on a terminal, one line per
// step when asked for without one, nothing with --quiet. Callers may report from several threads.
#pragma once

#include "KestruneCore/Platform/FileAccess.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace Output {

class ProgressLine {
public:
    enum class Mode { off, inPlace, lines };
    explicit ProgressLine(Mode mode) : mode(mode) {}

    // inPlace on a terminal; lines when `forced` without one; off when `quiet` or neither.
    static Mode modeFor(bool quiet, bool forced) {
        if (quiet || !(forced || Platform::isTerminal(Platform::Stream::error))) {
            return Mode::off;
        }
        return Platform::isTerminal(Platform::Stream::error) ? Mode::inPlace : Mode::lines;
    }

    void show(const std::string& text) {
        if (mode == Mode::off) {
            return;
        }
        const std::lock_guard guard(lock);
        if (mode == Mode::inPlace) {
            std::fprintf(stderr, "\r%s\033[K", text.c_str());
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
        std::fflush(stderr);
    }

    void finish() {
        if (mode == Mode::inPlace) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

private:
    Mode mode;
    std::mutex lock;
};

} // namespace Output
