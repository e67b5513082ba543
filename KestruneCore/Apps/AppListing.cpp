#include "KestruneCore/Apps/AppListing.h"

#include "KestruneCore/Model/TextFolding.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <tuple>

namespace AppListing {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Numbers compare by value ("Tool 9" before "Tool 10"), letters without case.
bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (std::isdigit(ca) && std::isdigit(cb)) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && a[ei] == '0') {
                ++ei;
            }
            while (ej < b.size() && b[ej] == '0') {
                ++ej;
            }
            std::size_t ni = ei;
            std::size_t nj = ej;
            while (ni < a.size() && std::isdigit(static_cast<unsigned char>(a[ni]))) {
                ++ni;
            }
            while (nj < b.size() && std::isdigit(static_cast<unsigned char>(b[nj]))) {
                ++nj;
            }
            const std::string_view da = a.substr(ei, ni - ei);
            const std::string_view db = b.substr(ej, nj - ej);
            if (da.size() != db.size()) {
                return da.size() < db.size();
            }
            if (da != db) {
                return da < db;
            }
            i = ni;
            j = nj;
            continue;
        }
        if (ca != cb) {
            return ca < cb;
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

auto rank(const InstalledApp& app) {
    switch (app.usage.kind) {
    case AppUsage::Kind::neverOpened:
        return std::tuple(0, Dates::distantPast, lower(app.name));
    case AppUsage::Kind::used:
        return std::tuple(1, app.usage.date.value_or(Dates::distantPast), lower(app.name));
    case AppUsage::Kind::unknown:
        break;
    }
    return std::tuple(2, Dates::distantPast, lower(app.name));
}

// Six calendar months before `now` in the local calendar; the distant past when that cannot be formed.
Date sixMonthsBefore(Date now) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return Dates::distantPast;
    }
    local.tm_mon -= 6;
    local.tm_isdst = -1;
    const std::time_t back = std::mktime(&local);
    if (back == static_cast<std::time_t>(-1)) {
        return Dates::distantPast;
    }
    return std::chrono::system_clock::from_time_t(back);
}

} // namespace

std::string_view rawValue(AppSort sort) {
    switch (sort) {
    case AppSort::size:
        return "Largest";
    case AppSort::leastUsed:
        return "Least used";
    case AppSort::name:
        return "Name";
    }
    return "Largest";
}

std::vector<InstalledApp> filtered(const std::vector<InstalledApp>& apps, std::string_view search,
                                   AppSort sort) {
    std::vector<InstalledApp> out;
    const std::string needle = TextFolding::folded(search);
    for (const auto& app : apps) {
        if (needle.empty() || TextFolding::folded(app.name).find(needle) != std::string::npos) {
            out.push_back(app);
        }
    }
    switch (sort) {
    case AppSort::size:
        std::stable_sort(out.begin(), out.end(),
                         [](const auto& a, const auto& b) { return a.bytes > b.bytes; });
        break;
    case AppSort::leastUsed:
        std::stable_sort(out.begin(), out.end(),
                         [](const auto& a, const auto& b) { return rank(a) < rank(b); });
        break;
    case AppSort::name:
        std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
            return naturalLess(TextFolding::folded(a.name), TextFolding::folded(b.name));
        });
        break;
    }
    return out;
}

std::vector<InstalledApp> neverOpened(const std::vector<InstalledApp>& apps) {
    std::vector<InstalledApp> out;
    std::copy_if(apps.begin(), apps.end(), std::back_inserter(out),
                 [](const auto& a) { return a.neverOpened(); });
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.bytes > b.bytes; });
    return out;
}

std::vector<InstalledApp> stale(const std::vector<InstalledApp>& apps, Date now) {
    const Date cutoff = sixMonthsBefore(now);
    std::vector<InstalledApp> out;
    std::copy_if(apps.begin(), apps.end(), std::back_inserter(out),
                 [cutoff](const auto& a) { return a.lastUsed() && *a.lastUsed() < cutoff; });
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return *a.lastUsed() < *b.lastUsed(); });
    return out;
}

std::int64_t totalBytes(const std::vector<InstalledApp>& apps) {
    std::int64_t total = 0;
    for (const auto& app : apps) {
        total += app.bytes;
    }
    return total;
}

} // namespace AppListing
