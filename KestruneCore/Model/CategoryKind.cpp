// The category table: one row per case, in declaration order.
#include "KestruneCore/Model/CategoryKind.h"

namespace CategoryKinds {
namespace {

struct Row {
    CategoryKind kind;
    std::string_view raw;
    std::string_view title;
    std::string_view blurb;
    std::string_view symbol;
    Safety safety;
    ReclaimAction action;
};

const std::array<Row, count>& table() {
    static const std::array<Row, count> rows{{
        {CategoryKind::userCaches, "userCaches", "Caches", "App caches in ~/.cache. Rebuilt on next launch.",
         "shippingbox", Safety::safe, ReclaimAction::trash()},
        {CategoryKind::logs, "logs", "Logs",
         "Diagnostic logs in ~/.local/state, ~/.local/share/xorg and app log folders.", "doc.text",
         Safety::safe, ReclaimAction::trash()},
        {CategoryKind::xcode, "xcode", "Xcode Junk", "DerivedData, Archives, and device support images.",
         "hammer", Safety::safe, ReclaimAction::trash()},
        {CategoryKind::nodeModules, "nodeModules", "node_modules",
         "Dependency trees you can reinstall with one command.", "shippingbox.fill", Safety::safe,
         ReclaimAction::trash()},
        {CategoryKind::packageCaches, "packageCaches", "Package Caches",
         "npm, pnpm, pip, Cargo, Gradle and friends. Re-downloaded on demand.", "cube.box", Safety::safe,
         ReclaimAction::trash()},
        {CategoryKind::appCaches, "appCaches", "App Caches",
         "Cache folders inside app profiles. Never the profile itself.", "square.stack.3d.up", Safety::safe,
         ReclaimAction::trash()},
        {CategoryKind::screenshots, "screenshots", "Screenshots", "Screen captures sitting on the Desktop.",
         "camera.viewfinder", Safety::review, ReclaimAction::trash()},
        {CategoryKind::downloads, "downloads", "Old Installers",
         "Disk images and installers over 30 days old.", "arrow.down.circle", Safety::review,
         ReclaimAction::trash()},
        {CategoryKind::trash, "trash", "Trash", "Items already in the Trash.", "trash", Safety::safe,
         ReclaimAction::trash()},
        {CategoryKind::appLeftovers, "appLeftovers", "App Leftovers",
         "Support files for apps no longer installed.", "app.dashed", Safety::review, ReclaimAction::trash()},
        {CategoryKind::simulators, "simulators", "Simulators",
         "Unavailable simulator runtimes and device data.", "iphone.gen3", Safety::review,
         ReclaimAction::advise("xcrun simctl delete unavailable")},
        {CategoryKind::docker, "docker", "Docker", "Docker's disk image, which grows but never shrinks.",
         "cube.transparent", Safety::review,
         ReclaimAction::advise("docker run --privileged --pid=host docker/desktop-reclaim-space")},
        {CategoryKind::largeOldFiles, "largeOldFiles", "Large & Old Files",
         "Big files you haven't opened in six months.", "doc.viewfinder", Safety::review,
         ReclaimAction::trash()},
        {CategoryKind::mailAttachments, "mailAttachments", "Mail Attachments",
         "Attachments Mail downloaded and kept.", "paperclip", Safety::review, ReclaimAction::trash()},
        {CategoryKind::iosBackups, "iosBackups", "iOS Backups", "Local backups of iPhones and iPads.",
         "iphone.badge.play", Safety::review, ReclaimAction::trash()},
        {CategoryKind::cloudClutter, "cloudClutter", "Cloud Clutter",
         "Downloaded iCloud Drive copies. Evict frees local space; files stay in iCloud.", "icloud",
         Safety::review, ReclaimAction::evict()},
        {CategoryKind::privacyTraces, "privacyTraces", "Privacy Traces",
         "Browser and app caches, cookies, and session data \u2014 review per app.", "eye.slash",
         Safety::review, ReclaimAction::trash()},
        {CategoryKind::duplicates, "duplicates", "Duplicates", "Identical files kept in more than one place.",
         "doc.on.doc", Safety::review, ReclaimAction::trash()},
        {CategoryKind::languageFiles, "languageFiles", "Language Files",
         "Unused app language packs (.lproj). On Linux the package manager owns locale data, so none are "
         "found.",
         "globe", Safety::review, ReclaimAction::trash()},
        {CategoryKind::similarImages, "similarImages", "Similar Images",
         "Near-duplicate photos on Desktop, Pictures, and Downloads. One copy is kept.",
         "photo.on.rectangle.angled", Safety::review, ReclaimAction::trash()},
        {CategoryKind::mediaLeftovers, "mediaLeftovers", "Music & TV Leftovers",
         "Music and TV app caches and download leftovers \u2014 not your media library.", "music.note.tv",
         Safety::review, ReclaimAction::trash()},
    }};
    return rows;
}

const Row& row(CategoryKind kind) {
    return table()[static_cast<std::size_t>(kind)];
}

} // namespace

const std::array<CategoryKind, count>& allCases() {
    static const std::array<CategoryKind, count> cases = [] {
        std::array<CategoryKind, count> out{};
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = table()[i].kind;
        }
        return out;
    }();
    return cases;
}

std::optional<CategoryKind> fromRawValue(std::string_view raw) {
    for (const auto& r : table()) {
        if (r.raw == raw) {
            return r.kind;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(CategoryKind kind) {
    return row(kind).raw;
}
std::string_view title(CategoryKind kind) {
    return row(kind).title;
}
std::string_view blurb(CategoryKind kind) {
    return row(kind).blurb;
}
std::string_view symbol(CategoryKind kind) {
    return row(kind).symbol;
}
Safety safety(CategoryKind kind) {
    return row(kind).safety;
}
const ReclaimAction& action(CategoryKind kind) {
    return row(kind).action;
}

std::string_view rawValue(Safety safety) {
    switch (safety) {
    case Safety::safe:
        return "safe";
    case Safety::review:
        return "review";
    }
    return "review";
}

} // namespace CategoryKinds
