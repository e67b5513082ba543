// JSON of the audit log with nlohmann-json, whose objects are keyed in sorted order.
#include "KestruneCore/Activity/ActivityEvent.h"

#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/Home.h"

#include <array>
#include <nlohmann/json.hpp>

namespace ActivityKinds {
namespace {

constexpr std::array<std::pair<ActivityKind, std::string_view>, 7> kinds{{
    {ActivityKind::scan, "scan"},
    {ActivityKind::reclaim, "reclaim"},
    {ActivityKind::uninstall, "uninstall"},
    {ActivityKind::appReset, "appReset"},
    {ActivityKind::maintenance, "maintenance"},
    {ActivityKind::diskMap, "diskMap"},
    {ActivityKind::error, "error"},
}};
constexpr std::array<std::pair<PathDisposition, std::string_view>, 4> dispositions{{
    {PathDisposition::trashed, "trashed"},
    {PathDisposition::removed, "removed"},
    {PathDisposition::evicted, "evicted"},
    {PathDisposition::failed, "failed"},
}};

} // namespace

std::string_view rawValue(ActivityKind kind) {
    return kinds[static_cast<std::size_t>(kind)].second;
}
std::string_view rawValue(PathDisposition d) {
    return dispositions[static_cast<std::size_t>(d)].second;
}

std::optional<ActivityKind> fromRawValue(std::string_view raw) {
    for (const auto& [kind, text] : kinds) {
        if (text == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<PathDisposition> dispositionFromRawValue(std::string_view raw) {
    for (const auto& [d, text] : dispositions) {
        if (text == raw) {
            return d;
        }
    }
    return std::nullopt;
}

} // namespace ActivityKinds

std::string ActivityPath::displayPath(const std::string& path, const std::string& home) {
    if (path == home) {
        return "~";
    }
    if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/') {
        return "~" + path.substr(home.size());
    }
    return path;
}

std::string ActivityPath::displayPath(const std::string& path) {
    return displayPath(path, Platform::homeFolder());
}

std::string_view ActivityEvent::symbol() const {
    switch (kind) {
    case ActivityKind::scan:
        return "magnifyingglass";
    case ActivityKind::reclaim:
        return "trash";
    case ActivityKind::uninstall:
        return "trash.square";
    case ActivityKind::appReset:
        return "arrow.counterclockwise";
    case ActivityKind::maintenance:
        return "wrench.and.screwdriver";
    case ActivityKind::diskMap:
        return "square.grid.3x3";
    case ActivityKind::error:
        return "exclamationmark.triangle";
    }
    return "exclamationmark.triangle";
}

namespace ActivityJson {
namespace {

using nlohmann::json;

json pathJson(const ActivityPath& p) {
    json out{{"path", Utf8::valid(p.path)},
             {"bytes", p.bytes},
             {"disposition", ActivityKinds::rawValue(p.disposition)}};
    if (p.error) {
        out["error"] = Utf8::valid(*p.error);
    }
    return out;
}

json eventJson(const ActivityEvent& e) {
    json paths = json::array();
    for (const auto& p : e.paths) {
        paths.push_back(pathJson(p));
    }
    json meta = json::object();
    for (const auto& [k, v] : e.meta) {
        meta[Utf8::valid(k)] = Utf8::valid(v);
    }
    json out{{"id", e.id.text()},
             {"date", Dates::iso8601(e.date)},
             {"kind", ActivityKinds::rawValue(e.kind)},
             {"title", Utf8::valid(e.title)},
             {"paths", paths},
             {"meta", meta}};
    if (e.detail) {
        out["detail"] = Utf8::valid(*e.detail);
    }
    if (e.bytes) {
        out["bytes"] = *e.bytes;
    }
    return out;
}

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool readString(const json& object, const char* key, std::string& out) {
    const json* v = member(object, key);
    if (v == nullptr || !v->is_string()) {
        return false;
    }
    out = v->get<std::string>();
    return true;
}

bool readInteger(const json& object, const char* key, std::int64_t& out) {
    const json* v = member(object, key);
    if (v == nullptr || !v->is_number_integer()) {
        return false;
    }
    if (v->is_number_unsigned() && v->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    out = v->get<std::int64_t>();
    return true;
}

std::optional<ActivityPath> readPath(const json& j) {
    if (!j.is_object()) {
        return std::nullopt;
    }
    ActivityPath p;
    std::string disposition;
    if (!readString(j, "path", p.path) || !readInteger(j, "bytes", p.bytes) ||
        !readString(j, "disposition", disposition)) {
        return std::nullopt;
    }
    const auto d = ActivityKinds::dispositionFromRawValue(disposition);
    if (!d) {
        return std::nullopt;
    }
    p.disposition = *d;
    if (member(j, "error") != nullptr) {
        std::string error;
        if (!readString(j, "error", error)) {
            return std::nullopt;
        }
        p.error = error;
    }
    return p;
}

std::optional<ActivityEvent> readEvent(const json& j) {
    if (!j.is_object()) {
        return std::nullopt;
    }
    ActivityEvent e;
    std::string id, date, kind;
    if (!readString(j, "id", id) || !readString(j, "date", date) || !readString(j, "kind", kind) ||
        !readString(j, "title", e.title)) {
        return std::nullopt;
    }
    const auto uuid = Uuid::parse(id);
    const auto when = Dates::parseIso8601(date);
    const auto k = ActivityKinds::fromRawValue(kind);
    if (!uuid || !when || !k) {
        return std::nullopt;
    }
    e.id = *uuid;
    e.date = *when;
    e.kind = *k;
    const json* paths = member(j, "paths");
    const json* meta = member(j, "meta");
    if (paths == nullptr || !paths->is_array() || meta == nullptr || !meta->is_object()) {
        return std::nullopt;
    }
    for (const auto& p : *paths) {
        auto path = readPath(p);
        if (!path) {
            return std::nullopt;
        }
        e.paths.push_back(std::move(*path));
    }
    for (const auto& [key, value] : meta->items()) {
        if (!value.is_string()) {
            return std::nullopt;
        }
        e.meta[key] = value.get<std::string>();
    }
    if (member(j, "detail") != nullptr) {
        std::string detail;
        if (!readString(j, "detail", detail)) {
            return std::nullopt;
        }
        e.detail = detail;
    }
    if (member(j, "bytes") != nullptr) {
        std::int64_t bytes = 0;
        if (!readInteger(j, "bytes", bytes)) {
            return std::nullopt;
        }
        e.bytes = bytes;
    }
    return e;
}

} // namespace

std::string write(const ActivityDocument& document) {
    json events = json::array();
    for (const auto& e : document.events) {
        events.push_back(eventJson(e));
    }
    const json doc{
        {"version", 1}, {"lifetimeReclaimedBytes", document.lifetimeReclaimedBytes}, {"events", events}};
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<ActivityDocument> read(std::string_view text) {
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        return std::nullopt;
    }
    ActivityDocument out;
    if (!readInteger(doc, "version", out.version) ||
        !readInteger(doc, "lifetimeReclaimedBytes", out.lifetimeReclaimedBytes)) {
        return std::nullopt;
    }
    const json* events = member(doc, "events");
    if (events == nullptr || !events->is_array()) {
        return std::nullopt;
    }
    for (const auto& e : *events) {
        auto event = readEvent(e);
        if (!event) {
            return std::nullopt;
        }
        out.events.push_back(std::move(*event));
    }
    return out;
}

} // namespace ActivityJson
