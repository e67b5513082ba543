// The scanners of fixed places in the home folder, at their macOS and their Linux places: caches, logs,
// Xcode folders, node_modules trees, old installers and the Trash. Stateless; scan() runs on a runner
// worker thread, several at once.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

class UserCachesScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::userCaches; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

class LogsScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::logs; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

class XcodeScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::xcode; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

class NodeModulesScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::nodeModules; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

class DownloadsScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::downloads; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

// Lists the platform's Trash folder (on Linux the home trash's files/).
class TrashScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::trash; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};
