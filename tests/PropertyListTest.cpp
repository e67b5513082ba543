// Property lists from real files: both encodings read, damaged or odd files give nothing.
#include "KestruneCore/Platform/PropertyList.h"

#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// {"CFBundleIdentifier": "com.example.Tool", "CFBundleName": "Tool", "Count": 5,
//  "ProgramArguments": ["/usr/bin/true", "-x", 3]} in the binary encoding (written by Python's plistlib).
const std::string binaryPlist(
    "bplist00\xd4\x01\x02\x03\x04\x05\x06\x07\x08_\x10\x12"
    "CFBundleIdentifier\x5c"
    "CFBundleNameUCo"
    "unt_\x10\x10ProgramArguments_\x10\x10"
    "com.example.ToolTTool\x10\x05\xa3\x09\x0a\x0b]/usr/bin/t"
    "rueR-x\x10\x03\x08\x11&39L_dfjx{\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x0c"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00}",
    169);

const char xmlPlist[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>com.example.Tool</string>
	<key>Device Name</key>
	<string>Work Phone &amp; more</string>
	<key>Nested</key>
	<dict><key>CFBundleIdentifier</key><string>inner</string></dict>
</dict>
</plist>
)";

// Both encodings from real files: strings only, case-sensitive keys, the top level winning over a nested
// key, entities decoded, and the string members of an array.
TEST(PropertyList, BinaryAndXmlFilesBothRead) {
    TestTree::TemporaryHome home;
    const auto binary = PropertyList::readDictionary(TestTree::writeFile(home / "binary.plist", binaryPlist));
    const auto xml = PropertyList::readDictionary(TestTree::writeFile(home / "xml.plist", xmlPlist));
    ASSERT_TRUE(binary.has_value() && xml.has_value());
    using Strings = std::vector<std::optional<std::string>>;
    EXPECT_EQ((Strings{binary->string("CFBundleIdentifier"), binary->string("CFBundleName"),
                       binary->string("Count"), binary->string("cfbundleidentifier")}),
              (Strings{"com.example.Tool", "Tool", std::nullopt, std::nullopt}));
    EXPECT_EQ(binary->stringArray("ProgramArguments"), (std::vector<std::string>{"/usr/bin/true", "-x"}));
    EXPECT_EQ((Strings{xml->string("CFBundleIdentifier"), xml->string("Device Name"), xml->string("Nested")}),
              (Strings{"com.example.Tool", "Work Phone & more", std::nullopt}));
}

TEST(PropertyList, DamagedOrOddFilesGiveNothing) {
    TestTree::TemporaryHome home;
    const std::string binary = binaryPlist;
    const std::string xml = xmlPlist;
    // Every prefix of both encodings: never a crash, never a wrong identifier.
    for (std::size_t length = 0; length < binary.size(); ++length) {
        const auto parsed = PropertyList::parseDictionary(std::string_view(binary).substr(0, length));
        if (parsed) {
            const auto identifier = parsed->string("CFBundleIdentifier");
            EXPECT_TRUE(!identifier || *identifier == "com.example.Tool") << length;
        }
    }
    for (std::size_t length = 0; length < xml.size(); length += 7) {
        const auto parsed = PropertyList::parseDictionary(std::string_view(xml).substr(0, length));
        EXPECT_FALSE(parsed && parsed->string("Device Name") &&
                     *parsed->string("Device Name") != "Work Phone & more");
    }
    TestTree::writeFile(home / "garbage", std::string("\x00\xff garbage \x01 not a plist", 24));
    TestTree::writeFile(home / "truncated", binary.substr(0, binary.size() / 2));
    TestTree::writeFile(home / "array", "<plist version=\"1.0\"><array><string>a</string></array></plist>");
    TestTree::writeFile(home / "empty", "");
    // A FIFO would block a plain open; it must give nothing at once.
    ASSERT_EQ(::mkfifo((home / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((home / "folder").c_str(), 0700), 0);
    for (const char* name : {"garbage", "truncated", "array", "empty", "missing", "fifo", "folder"}) {
        EXPECT_FALSE(PropertyList::readDictionary(home / name).has_value()) << name;
    }
}

} // namespace
