// Date formatting in UTC with the C library, independent of the locale.
#include "KestruneCore/Model/Dates.h"

#include <cstdio>
#include <ctime>

namespace Dates {

Date now() {
    return std::chrono::system_clock::now();
}

std::string iso8601(Date date) {
    if (date == distantPast) {
        return "0001-01-01T00:00:00Z";
    }
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

std::optional<Date> parseIso8601(const std::string& text) {
    // Exactly YYYY-MM-DDThh:mm:ssZ.
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    auto digits = [&](size_t from, size_t count, int& out) {
        out = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!digits(0, 4, year) || !digits(5, 2, month) || !digits(8, 2, day) || !digits(11, 2, hour) ||
        !digits(14, 2, minute) || !digits(17, 2, second)) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const auto instant = sys_days{ymd} + hours{hour} + minutes{minute} + seconds{second};
    if (text == "0001-01-01T00:00:00Z") {
        return distantPast; // what iso8601 writes for it
    }
    // Date counts nanoseconds in 64 bits: about the years 1677 to 2262. Anything outside cannot be held.
    const auto limit = duration_cast<std::chrono::seconds>(Date::duration::max());
    if (instant.time_since_epoch() > limit || instant.time_since_epoch() < -limit) {
        return std::nullopt;
    }
    return Date{instant};
}

} // namespace Dates

namespace Dates {

std::string local(Date date, const char* pattern) {
    const std::time_t t = std::chrono::system_clock::to_time_t(date);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, pattern, &tm);
    return std::string(buffer, n);
}

} // namespace Dates
