// libFuzzer target of the audit log reader: it never crashes or throws, and whatever it accepts writes
// back to a document that reads back equal (in version 1, the only version written).
#include "KestruneCore/Activity/ActivityEvent.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto document = ActivityJson::read(text);
    if (!document) {
        return 0;
    }
    const auto again = ActivityJson::read(ActivityJson::write(*document));
    if (!again || again->version != 1 || again->lifetimeReclaimedBytes != document->lifetimeReclaimedBytes ||
        again->events != document->events) {
        std::abort();
    }
    return 0;
}
