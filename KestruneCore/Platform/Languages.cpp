// Linux: gettext's LANGUAGE list first, then LC_ALL, LC_MESSAGES and LANG. All of them are taken rather
// than only the one gettext would obey, because the list decides which translations are kept: naming
// one language too many costs some space, one too few deletes a language the user reads.
#include "KestruneCore/Platform/Languages.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace Platform {

namespace {

// "de_DE.UTF-8@euro" -> "de-DE"; the C and POSIX locales name no language and give "".
std::string tagOf(std::string_view locale) {
    const auto end = locale.find_first_of(".@");
    std::string tag(locale.substr(0, end));
    if (tag == "C" || tag == "POSIX") {
        return {};
    }
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

void add(std::vector<std::string>& languages, std::string_view locale) {
    std::string tag = tagOf(locale);
    if (!tag.empty() && std::find(languages.begin(), languages.end(), tag) == languages.end()) {
        languages.push_back(std::move(tag));
    }
}

} // namespace

std::vector<std::string> preferredLanguages() {
    std::vector<std::string> languages;
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            add(languages, rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
    }
    for (const char* variable : std::array{"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(variable); value != nullptr) {
            add(languages, value);
        }
    }
    return languages;
}

} // namespace Platform
