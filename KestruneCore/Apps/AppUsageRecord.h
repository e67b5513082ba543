// When applications were last used, from the desktop's own record (GNOME Shell keeps one per desktop
// entry) or the program's access time where the file system keeps it. Any thread; reads files.
#pragma once

#include "KestruneCore/Apps/InstalledApp.h"

#include <map>
#include <string>
#include <string_view>

namespace AppUsageRecord {

struct Record {
    bool present = false;                 // the desktop keeps a record at all
    std::map<std::string, Date> lastSeen; // desktop entry file name -> last use
};

// $XDG_DATA_HOME/gnome-shell/application_state: <application id="NAME.desktop" last-seen="SECONDS"/>.
[[nodiscard]] Record gnomeShell();
[[nodiscard]] Record parseGnomeShell(std::string_view xml);

// A date counts as a last use only after 2001-01-01 and before a day from now.
[[nodiscard]] bool plausible(Date date, Date now);

// The record's latest use of any of the app's desktop entries; else the first program's access time when
// it is later than the file's last change and its file system records access times; else, where the
// desktop keeps a record that does not know the app, never opened (since the file's change time);
// else unknown.
[[nodiscard]] AppUsage of(const InstalledApp& app, const Record& record, Date now);

} // namespace AppUsageRecord
