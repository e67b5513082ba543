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
    // At most one item: the first candidate, in order of preference, that is large enough.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::int64_t minimumBytes = 100'000'000;
    static constexpr std::array<std::string_view, 5> candidates{
        "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw",
        "Library/Containers/com.docker.docker/Data/vms/0/Docker.raw",
        "Library/Containers/com.docker.docker/Data",
        ".colima",
        ".lima",
    };
};
