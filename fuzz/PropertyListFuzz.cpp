// libFuzzer target of the property-list reader: any bytes parse or are refused without a crash, and
// what parses keeps every value as a complete string.
#include "KestruneCore/Platform/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto dictionary =
        PropertyList::parseDictionary(std::string_view(reinterpret_cast<const char*>(data), size));
    if (dictionary) {
        // Lookups walk the parsed tree; the keys the scanners and the inventory read.
        for (const char* key :
             {"CFBundleIdentifier", "CFBundleName", "Device Name", "Display Name", "Program"}) {
            const auto text = dictionary->string(key);
            static_cast<void>(text);
        }
        const auto arguments = dictionary->stringArray("ProgramArguments");
        static_cast<void>(arguments);
    }
    return 0;
}
