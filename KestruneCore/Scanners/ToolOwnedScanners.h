// Space that only the owning tool can give back safely: simulator device data and the container
// engine's disk image. The items inform; they are reclaimed by running the tool. Stateless; scan() runs
// on a runner worker thread.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <array>
#include <string_view>

class SimulatorScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::simulators; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::int64_t minimumBytes = 100'000'000;
    static constexpr std::array<std::string_view, 2> locations{"Library/Developer/CoreSimulator/Devices",
                                                               "Library/Developer/CoreSimulator/Caches"};
};

class DockerScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::docker; }
    // The first candidate, in order of preference, that is large enough; then rootless Docker's and
    // Podman's storage, each labelled with the command that frees it.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::int64_t minimumBytes = 100'000'000;
    static constexpr std::array<std::string_view, 6> candidates{
        "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw",
        "Library/Containers/com.docker.docker/Data/vms/0/Docker.raw",
        "Library/Containers/com.docker.docker/Data",
        ".colima",
        ".lima",
        ".docker/desktop/vms/0/data/Docker.raw", // Docker Desktop on Linux
    };
    struct Engine {
        std::string_view storage; // under $XDG_DATA_HOME
        std::string_view label;
    };
    static constexpr std::array<Engine, 2> userEngines{{
        {"docker", "Docker (rootless) \u00B7 docker system df, then docker system prune"},
        {"containers/storage", "Podman \u00B7 podman system df, then podman system prune"},
    }};
};
