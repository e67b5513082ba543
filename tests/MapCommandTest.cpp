// kestrune-cli map as a user runs it: the printed tree, its JSON read back, the progress line,
// unreadable folders as an unprivileged user, and clear refusals of bad arguments.
#include "KestruneCore/Platform/Trash.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <sys/stat.h>

namespace {

constexpr std::int64_t MB = 1'000'000;

TestTree::ProcessResult cli(std::vector<std::string> arguments,
                            TestTree::Privilege privilege = TestTree::Privilege::inherited) {
    arguments.insert(arguments.begin(), TestTree::cliPath());
    return TestTree::run(arguments, privilege);
}

void checkSums(const nlohmann::json& node) {
    if (!node["children"].empty()) {
        std::int64_t sum = 0;
        for (const auto& child : node["children"]) {
            sum += child["bytes"].get<std::int64_t>();
            checkSums(child);
        }
        EXPECT_EQ(sum, node["bytes"].get<std::int64_t>()) << node["path"];
    }
}

const nlohmann::json* child(const nlohmann::json& node, const std::string& name) {
    for (const auto& c : node["children"]) {
        if (c["name"] == name) {
            return &c;
        }
    }
    return nullptr;
}

TEST(MapCommand, JsonOfAFolderReadsBackAsTheWholeTree) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "tree/Movies/film", 30 * MB);
    TestTree::makeFile(home / "tree/Documents/a/report", 5 * MB);
    TestTree::makeFile(home / "tree/Documents/notes", 100'000);
    TestTree::makeFile(home / "tree/big", 3 * MB);
    const auto r = cli({"map", home / "tree/", "--json", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = nlohmann::json::parse(r.output);
    EXPECT_EQ(doc["path"], home / "tree");
    EXPECT_EQ(doc["name"], "tree");
    EXPECT_EQ(doc["bytes"].get<std::int64_t>(), TestTree::allocatedTree(home / "tree"));
    EXPECT_EQ(doc["isDirectory"], true);
    checkSums(doc);
    ASSERT_EQ(doc["children"].size(), 3u);
    EXPECT_EQ(doc["children"][0]["name"], "Movies");
    EXPECT_EQ(doc["children"][2]["name"], "big");
    EXPECT_EQ(doc["children"][2]["isDirectory"], false);
    const auto* documents = child(doc, "Documents");
    ASSERT_NE(documents, nullptr);
    const auto* other = child(*documents, "Other");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ((*other)["isAggregate"], true);
    EXPECT_EQ((*other)["bytes"].get<std::int64_t>(), TestTree::allocated(home / "tree/Documents/notes"));
    const auto* a = child(*documents, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ((*a)["children"][0]["path"], home / "tree/Documents/a/report");
    const auto single = cli({"map", home / "tree", "--json", "--quiet", "--threads", "1"});
    ASSERT_EQ(single.status, 0) << single.output;
    EXPECT_EQ(nlohmann::json::parse(single.output), doc);
}

TEST(MapCommand, TextListsTheLevelsAskedForLargestFirst) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Music/album/track", 4 * MB);
    TestTree::makeFile(home / "Pictures/photo", 9 * MB);
    const auto r = cli({"map", "--quiet", "--depth", "1"}); // the home scope is the default target
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u) << r.output;
    EXPECT_NE(lines[0].find(home.path()), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("13"), std::string::npos) << lines[0]; // 13.x MB
    EXPECT_NE(lines[1].find("  Pictures/"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("9 MB"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("  Music/"), std::string::npos) << lines[2];
    EXPECT_NE(cli({"map", "home", "--quiet", "--depth", "3"}).output.find("      track"), std::string::npos);
    const auto rootOnly = cli({"map", "--quiet", "--depth", "0"}).output;
    EXPECT_EQ(std::count(rootOnly.begin(), rootOnly.end(), '\n'), 1) << rootOnly;
}

TEST(MapCommand, TheProgressLineNamesTheScopeAreaFoldersAndBytes) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Documents/file", 3 * MB);
    const auto r = cli({"map", "--progress", "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    // Without a terminal, one line per report; the final one counts the one folder listed.
    EXPECT_NE(r.output.find("Home \u00b7 Documents \u00b7 1 folder \u00b7 3 MB\n"), std::string::npos)
        << r.output;
}

TEST(MapCommand, UnreadableFoldersCountNothingForAnUnprivilegedUserAndAreReported) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "tree/open/file", 3 * MB);
    TestTree::makeFile(home / "tree/locked/secret", 20 * MB);
    TestTree::makeFile(home / "tree/open/a/b/c/d/e/f/locked/deep-secret", 20 * MB); // below the depth limit
    for (const char* locked : {"tree/locked", "tree/open/a/b/c/d/e/f/locked"}) {
        ASSERT_EQ(chmod((home / locked).c_str(), 0), 0);
    }
    const auto r = cli({"map", home / "tree", "--json", "--quiet"}, TestTree::Privilege::unprivileged);
    for (const char* locked : {"tree/locked", "tree/open/a/b/c/d/e/f/locked"}) {
        chmod((home / locked).c_str(), 0755);
    }
    // The map is drawn, and what could not be read is said: the figures are lower bounds.
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("tree: 2 entries could not be read"), std::string::npos) << r.output;
    const auto doc = nlohmann::json::parse(
        r.output.substr(r.output.find('{'), r.output.rfind('}') - r.output.find('{') + 1));
    EXPECT_EQ(doc["bytes"].get<std::int64_t>(), TestTree::allocated(home / "tree/open/file"));
    EXPECT_EQ(doc["unreadable"].get<std::int64_t>(), 2);
    EXPECT_EQ(child(doc, "locked"), nullptr);
    checkSums(doc);
}

TEST(MapCommand, BadArgumentsAreRefusedClearly) {
    TestTree::TemporaryHome home;
    const auto missing = cli({"map", home / "missing", "--quiet"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("missing: No such file or directory"), std::string::npos) << missing.output;
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--depth", "-1"},
                                                {"--depth", "deep"},
                                                {"--threads", "0"},
                                                {"--threads", "many"},
                                                {"--nonsense"}}) {
        std::vector<std::string> argv{"map", home.path()};
        argv.insert(argv.end(), bad.begin(), bad.end());
        const auto r = cli(argv);
        EXPECT_EQ(r.status, 2) << bad[0] << " " << r.output;
        EXPECT_NE(r.output.find("kestrune-cli:"), std::string::npos) << r.output;
    }
}

// Every "path" in a JSON document with its "pathBytes", wherever it nests.
void collectPaths(const nlohmann::json& node, std::vector<std::pair<std::string, std::string>>& into) {
    if (node.is_object() && node.contains("pathBytes")) {
        into.emplace_back(node["path"].get<std::string>(), node["pathBytes"].get<std::string>());
    }
    if (node.is_structured()) {
        for (const auto& value : node) {
            collectPaths(value, into);
        }
    }
}

// A name that is not UTF-8 reads as U+FFFD in "path" and byte for byte in "pathBytes", in every command
// that prints paths as JSON.
TEST(JsonPaths, ANameThatIsNotUtf8RoundTripsThroughPathBytes) {
    TestTree::TemporaryHome home;
    const std::string latin1 = home / "Library/Caches/caf\xe9";
    TestTree::makeFile(latin1 + "/blob", 2 * MB);
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"size", "--json", latin1},
                                               {"map", home / "Library", "--json"},
                                               {"scan", "--json", "--only", "userCaches"}}) {
        const auto r = cli(arguments);
        ASSERT_EQ(r.status, 0) << arguments.front() << r.output;
        std::vector<std::pair<std::string, std::string>> paths;
        collectPaths(nlohmann::json::parse(r.output.substr(r.output.find_first_of("[{"))), paths);
        ASSERT_FALSE(paths.empty()) << arguments.front() << r.output;
        bool found = false;
        for (const auto& [text, bytes] : paths) {
            const auto decoded = Trash::Info::decode(bytes);
            ASSERT_TRUE(decoded) << bytes;
            EXPECT_TRUE(TestTree::exists(*decoded)) << bytes;
            EXPECT_NE(text.find("\xef\xbf\xbd"), std::string::npos) << text; // U+FFFD in the text
            found = found || *decoded == latin1;
        }
        EXPECT_TRUE(found) << arguments.front() << r.output;
    }
}

} // namespace
