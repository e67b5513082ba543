// Linux: /proc/self/mountinfo, one line per mount with octal escapes in its paths.
#include "KestruneCore/Platform/Mounts.h"

#include "KestruneCore/Model/Paths.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <string_view>

namespace Platform {

namespace {

// Kernel and virtual file systems hold no user's files; looking into some of them (autofs) would mount.
constexpr std::array<std::string_view, 22> virtualTypes{
    "proc",        "sysfs",   "devtmpfs",   "devpts",   "cgroup",   "cgroup2",   "pstore", "bpf",
    "debugfs",     "tracefs", "securityfs", "configfs", "fusectl",  "hugetlbfs", "mqueue", "autofs",
    "binfmt_misc", "nsfs",    "rpc_pipefs", "efivarfs", "squashfs", "selinuxfs"};

// A mountinfo path field writes blanks, tabs, newlines and backslashes as octal escapes.
std::string unescapeMountPath(std::string_view field) {
    std::string out;
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(field[i]);
    }
    return out;
}

} // namespace

// The mount point is field 5; the type follows the " - " separator.
std::vector<std::string> mountPoints(MountKinds kinds) {
    std::vector<std::string> points;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        const auto separator = line.find(" - ");
        if (point.empty() || separator == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(separator + 3));
        std::string type;
        rest >> type;
        std::string path = unescapeMountPath(point);
        if (kinds == MountKinds::real &&
            (std::find(virtualTypes.begin(), virtualTypes.end(), type) != virtualTypes.end() ||
             Paths::isInside(path, "/proc") || Paths::isInside(path, "/sys") ||
             Paths::isInside(path, "/dev"))) {
            continue;
        }
        if (std::find(points.begin(), points.end(), path) == points.end()) {
            points.push_back(std::move(path));
        }
    }
    return points;
}

std::string mountPointInside(const std::string& folder, const std::vector<std::string>& mounts) {
    for (const auto& point : mounts) {
        if (point != folder && Paths::isInside(point, folder)) {
            return point;
        }
    }
    return {};
}

} // namespace Platform
