// Property lists from real files: both encodings read, damaged or odd files give nothing.
#include "KestruneCore/Platform/PropertyList.h"

#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

// {"CFBundleIdentifier": "com.example.Tool", "CFBundleName": "Tool", "Count": 5,
//  "ProgramArguments": ["/usr/bin/true", "-x", 3]} in the binary encoding (written by Python's plistlib).
const unsigned char binaryPlist[] = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd4, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
    0x5f, 0x10, 0x12, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x49, 0x64, 0x65, 0x6e, 0x74, 0x69,
    0x66, 0x69, 0x65, 0x72, 0x5c, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x4e, 0x61, 0x6d, 0x65,
    0x55, 0x43, 0x6f, 0x75, 0x6e, 0x74, 0x5f, 0x10, 0x10, 0x50, 0x72, 0x6f, 0x67, 0x72, 0x61, 0x6d, 0x41,
    0x72, 0x67, 0x75, 0x6d, 0x65, 0x6e, 0x74, 0x73, 0x5f, 0x10, 0x10, 0x63, 0x6f, 0x6d, 0x2e, 0x65, 0x78,
    0x61, 0x6d, 0x70, 0x6c, 0x65, 0x2e, 0x54, 0x6f, 0x6f, 0x6c, 0x54, 0x54, 0x6f, 0x6f, 0x6c, 0x10, 0x05,
    0xa3, 0x09, 0x0a, 0x0b, 0x5d, 0x2f, 0x75, 0x73, 0x72, 0x2f, 0x62, 0x69, 0x6e, 0x2f, 0x74, 0x72, 0x75,
    0x65, 0x52, 0x2d, 0x78, 0x10, 0x03, 0x08, 0x11, 0x26, 0x33, 0x39, 0x4c, 0x5f, 0x64, 0x66, 0x6a, 0x78,
    0x7b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7d};

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

std::string binaryBytes() {
    return std::string(reinterpret_cast<const char*>(binaryPlist), sizeof binaryPlist);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

TEST(PropertyList, BinaryAndXmlFilesBothRead) {
    TestTree::TemporaryHome home;
    writeBytes(home / "binary.plist", binaryBytes());
    writeBytes(home / "xml.plist", xmlPlist);

    const auto binary = PropertyList::readDictionary(home / "binary.plist");
    ASSERT_TRUE(binary.has_value());
    EXPECT_EQ(binary->string("CFBundleIdentifier"), "com.example.Tool");
    EXPECT_EQ(binary->string("CFBundleName"), "Tool");
    EXPECT_EQ(binary->string("Count"), std::nullopt) << "an integer is not a string";
    EXPECT_EQ(binary->string("cfbundleidentifier"), std::nullopt) << "keys are case-sensitive";
    EXPECT_EQ(binary->stringArray("ProgramArguments"), (std::vector<std::string>{"/usr/bin/true", "-x"}));

    const auto xml = PropertyList::readDictionary(home / "xml.plist");
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(xml->string("CFBundleIdentifier"), "com.example.Tool")
        << "the top level wins over a nested key";
    EXPECT_EQ(xml->string("Device Name"), "Work Phone & more");
    EXPECT_EQ(xml->string("Nested"), std::nullopt);
}

TEST(PropertyList, DamagedOrOddFilesGiveNothing) {
    TestTree::TemporaryHome home;
    const std::string binary = binaryBytes();
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
    writeBytes(home / "garbage.plist", std::string("\x00\xff garbage \x01 not a plist", 24));
    EXPECT_FALSE(PropertyList::readDictionary(home / "garbage.plist").has_value());
    writeBytes(home / "truncated.plist", binary.substr(0, binary.size() / 2));
    EXPECT_FALSE(PropertyList::readDictionary(home / "truncated.plist").has_value());
    writeBytes(home / "array.plist", "<plist version=\"1.0\"><array><string>a</string></array></plist>");
    EXPECT_FALSE(PropertyList::readDictionary(home / "array.plist").has_value()) << "not a dictionary";
    writeBytes(home / "empty.plist", "");
    EXPECT_FALSE(PropertyList::readDictionary(home / "empty.plist").has_value());
    EXPECT_FALSE(PropertyList::readDictionary(home / "missing.plist").has_value());
    // A FIFO would block a plain open; it must give nothing at once.
    ASSERT_EQ(::mkfifo((home / "fifo.plist").c_str(), 0600), 0);
    EXPECT_FALSE(PropertyList::readDictionary(home / "fifo.plist").has_value());
    ASSERT_EQ(::mkdir((home / "folder.plist").c_str(), 0700), 0);
    EXPECT_FALSE(PropertyList::readDictionary(home / "folder.plist").has_value());
}

} // namespace
