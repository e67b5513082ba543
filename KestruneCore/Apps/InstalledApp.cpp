#include "KestruneCore/Apps/InstalledApp.h"

namespace AppSources {

std::string_view rawValue(AppSource source) {
    switch (source) {
    case AppSource::bundle:
        return "bundle";
    case AppSource::flatpak:
        return "flatpak";
    case AppSource::appimage:
        return "appimage";
    case AppSource::desktop:
        return "desktop";
    case AppSource::snap:
        return "snap";
    }
    return "bundle";
}

} // namespace AppSources

std::string InstalledApp::privilegedRemoval() const {
    switch (source) {
    case AppSource::snap:
        return "snap remove " + id;
    case AppSource::flatpak:
        if (installation == "user") {
            return {};
        }
        return installation == "system" ? "flatpak uninstall --system " + id
                                        : "flatpak uninstall --installation=" + installation + " " + id;
    case AppSource::bundle:
    case AppSource::appimage:
    case AppSource::desktop:
        return {};
    }
    return {};
}
