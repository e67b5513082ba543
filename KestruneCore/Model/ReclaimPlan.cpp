// Keeping back only ever shrinks what is removed, so a group that keeps a member stays satisfied while
// later groups are settled; one pass over the groups is enough.
#include "KestruneCore/Model/ReclaimPlan.h"

#include "KestruneCore/Model/Paths.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace {

bool isCopyKind(CategoryKind kind) {
    return kind == CategoryKind::duplicates || kind == CategoryKind::similarImages;
}

struct Group {
    std::string kept;                       // the scanner's kept copy
    std::vector<const CleanupItem*> copies; // the group's own items, in results order
};

class Removal {
public:
    explicit Removal(std::unordered_set<std::string> chosen) : chosen(std::move(chosen)) {}

    // The selected item that removes `path` (itself or a folder above it), if any.
    [[nodiscard]] std::optional<std::string> claimer(const std::string& path) const {
        std::string_view probe = path;
        while (!probe.empty()) {
            if (chosen.contains(std::string(probe))) {
                return std::string(probe);
            }
            if (probe == "/") {
                break;
            }
            probe = Paths::parent(probe);
        }
        return std::nullopt;
    }
    [[nodiscard]] bool removes(const std::string& path) const { return claimer(path).has_value(); }
    void keep(const std::string& path) { chosen.erase(path); }

private:
    std::unordered_set<std::string> chosen; // standardized paths of the selected items
};

} // namespace

ReclaimPlan ReclaimPlan::make(const std::vector<CategoryResult>& results,
                              const std::unordered_set<CleanupItem>& selected,
                              const std::vector<CleanupItem>* copies) {
    struct Candidate {
        const CleanupItem* item;
        CategoryKind kind;
    };
    ReclaimPlan plan;
    std::vector<Candidate> candidates;
    std::unordered_set<std::string> chosen;
    std::unordered_map<std::string, const CleanupItem*> byPath;
    for (const auto& r : results) {
        if (!CategoryKinds::action(r.kind).isSelectable()) {
            continue;
        }
        for (const auto& item : r.items) {
            if (selected.contains(item) && !item.inUseBy.empty()) {
                // Moving a cache from under a running browser or editor breaks its session, and the
                // application fills it again at once: it waits until the user quits the application.
                plan.keptBack.push_back(
                    {item, item.name() + ": kept back, quit " + item.inUseBy + " first to reclaim it"});
                continue;
            }
            if (selected.contains(item)) {
                candidates.push_back({&item, r.kind});
                const std::string path = Paths::standardized(item.url);
                chosen.insert(path);
                byPath.emplace(path, &item);
            }
        }
    }
    Removal removal(std::move(chosen));

    std::map<std::string, Group> groups; // by kept copy; ordered so that plans are reproducible
    auto addCopy = [&groups](const CleanupItem& item) {
        if (item.keptCopy) {
            const std::string kept = Paths::standardized(*item.keptCopy);
            auto& group = groups[kept];
            group.kept = kept;
            group.copies.push_back(&item);
        }
    };
    if (copies != nullptr) {
        std::for_each(copies->begin(), copies->end(), addCopy);
    } else {
        for (const auto& r : results) {
            if (isCopyKind(r.kind)) {
                std::for_each(r.items.begin(), r.items.end(), addCopy);
            }
        }
    }
    // Which copies the group alone claims: those still items of their own category.
    std::unordered_set<std::string> ownItems;
    for (const auto& r : results) {
        if (isCopyKind(r.kind)) {
            for (const auto& item : r.items) {
                ownItems.insert(Paths::standardized(item.url));
            }
        }
    }

    std::unordered_map<std::string, std::string> keeperOf; // copy path -> member that stays
    for (auto& [kept, group] : groups) {
        const std::string keptName(Paths::lastComponent(kept));
        std::optional<std::string> survivor;
        if (!removal.removes(kept)) {
            survivor = kept;
        }
        for (std::size_t i = 0; !survivor && i < group.copies.size(); ++i) {
            const std::string path = Paths::standardized(group.copies[i]->url);
            if (!removal.removes(path)) {
                survivor = path;
            }
        }
        if (!survivor) {
            // Every member would go. Keep one the group alone claims: it was selected as a copy and
            // nothing selected above it takes it anyway.
            for (const CleanupItem* copy : group.copies) {
                const std::string path = Paths::standardized(copy->url);
                if (ownItems.contains(path) && removal.claimer(path) == path &&
                    !removal.removes(std::string(Paths::parent(path)))) {
                    removal.keep(path);
                    survivor = path;
                    plan.keptBack.push_back({*byPath.at(path), copy->name() +
                                                                   ": kept back, every other copy of it "
                                                                   "was selected too"});
                    break;
                }
            }
        }
        if (!survivor) {
            // Each member lies inside something else that is selected: keep what holds the kept copy.
            while (auto holder = removal.claimer(kept)) {
                removal.keep(*holder);
                const CleanupItem* item = byPath.at(*holder);
                plan.keptBack.push_back(
                    {*item, *holder == kept
                                ? item->name() + ": kept back, every other copy of it was selected too"
                                : item->name() + ": kept back, it holds the last copy of " + keptName});
            }
            survivor = kept;
        }
        for (const CleanupItem* copy : group.copies) {
            keeperOf.emplace(Paths::standardized(copy->url), *survivor);
        }
    }

    for (const auto& c : candidates) {
        const std::string path = Paths::standardized(c.item->url);
        if (removal.claimer(path) != path) {
            continue; // kept back
        }
        Step step{*c.item, c.kind, std::nullopt};
        if (isCopyKind(c.kind)) {
            if (auto found = keeperOf.find(path); found != keeperOf.end()) {
                step.keeper = found->second;
            }
        }
        plan.steps.push_back(std::move(step));
    }
    return plan;
}
