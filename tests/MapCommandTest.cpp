// kestrune-cli map as a user runs it: the printed tree, its JSON read back, the progress line,
// unreadable folders as an unprivileged user, and clear refusals of bad arguments. How the tree adds up,
// folds small items into "Other" and drops what holds nothing is the volume tree's to check.
#include "KestruneCore/Model/DiskMath.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace {

using namespace TestTree;

constexpr std::int64_t MB = 1'000'000;

ProcessResult cli(std::vector<std::string> arguments, Privilege privilege = Privilege::inherited) {
    arguments.insert(arguments.begin(), cliPath());
    return run(arguments, privilege);
}

// The tree's names as one line, folders marked "/" and "Other" "*": "root/(folder/(file,Other*),file)".
std::string outline(const nlohmann::json& node) {
    std::string out = node["name"].get<std::string>() + (node["isDirectory"] == true ? "/" : "") +
                      (node.value("isAggregate", false) ? "*" : "");
    for (std::size_t i = 0; i < node["children"].size(); ++i) {
        out += (i == 0 ? "(" : ",") + outline(node["children"][i]) +
               (i + 1 == node["children"].size() ? ")" : "");
    }
    return out;
}

// One tree printed (the home scope is the default target, two levels unless asked, largest first) and as
// JSON read back whole; a missing folder and bad arguments refused clearly.
TEST(MapCommand, TextAndJsonShowTheTreeLargestFirst) {
    TemporaryHome home;
    makeFile(home / "tree/Movies/film", 30 * MB);
    makeFile(home / "tree/Documents/a/report", 5 * MB);
    makeFile(home / "tree/Documents/notes", 100'000);
    makeFile(home / "tree/big", 3 * MB);
    // A printed line: the size right-aligned in ten columns, then the name indented two spaces a level.
    const auto row = [&home](const std::string& path, int level, const std::string& label) {
        const std::string size = DiskMath::human(allocatedTree(home / path));
        return std::string(10 - size.size(), ' ') + size + "  " + std::string(2 * level, ' ') + label + "\n";
    };
    const auto text = cli({"map", "--quiet"});
    ASSERT_EQ(text.status, 0) << text.output;
    EXPECT_EQ(text.output, row("", 0, home.path()) + row("tree", 1, "tree/") +
                               row("tree/Movies", 2, "Movies/") + row("tree/Documents", 2, "Documents/") +
                               row("tree/big", 2, "big"));
    EXPECT_EQ(cli({"map", "home", "--quiet", "--depth", "0"}).output, row("", 0, home.path()));

    const auto r = cli({"map", home / "tree/", "--json", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = nlohmann::json::parse(r.output);
    EXPECT_EQ(doc["path"], home / "tree");
    EXPECT_EQ(doc["bytes"].get<std::int64_t>(), allocatedTree(home / "tree"));
    EXPECT_EQ(outline(doc), "tree/(Movies/(film),Documents/(a/(report),Other*),big)");
    EXPECT_EQ(doc["children"][1]["children"][0]["children"][0]["path"], home / "tree/Documents/a/report");
    EXPECT_EQ(doc["children"][1]["children"][1]["bytes"], allocated(home / "tree/Documents/notes"))
        << "Other";

    const auto missing = cli({"map", home / "missing", "--quiet"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("missing: No such file or directory"), std::string::npos) << missing.output;
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--depth", "-1"}, {"--threads", "0"}, {"--nonsense"}}) {
        std::vector<std::string> argv{"map", home.path()};
        argv.insert(argv.end(), bad.begin(), bad.end());
        const auto refused = cli(argv);
        EXPECT_EQ(refused.status, 2) << bad[0] << " " << refused.output;
        EXPECT_NE(refused.output.find("kestrune-cli:"), std::string::npos) << refused.output;
    }
}

TEST(MapCommand, TheProgressLineNamesTheScopeAreaFoldersAndBytes) {
    TemporaryHome home;
    makeFile(home / "Documents/file", 3 * MB);
    const auto r = cli({"map", "--progress", "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    // Without a terminal, one line per report; the final one counts the one folder listed.
    EXPECT_NE(r.output.find("Home \u00b7 Documents \u00b7 1 folder \u00b7 3 MB\n"), std::string::npos)
        << r.output;
}

TEST(MapCommand, UnreadableFoldersCountNothingForAnUnprivilegedUserAndAreReported) {
    TemporaryHome home;
    makeFile(home / "tree/open/file", 3 * MB);
    makeFile(home / "tree/locked/secret", 20 * MB);
    makeFile(home / "tree/open/a/b/c/d/e/f/locked/deep-secret", 20 * MB); // below the depth limit
    for (const char* locked : {"tree/locked", "tree/open/a/b/c/d/e/f/locked"}) {
        ASSERT_EQ(chmod((home / locked).c_str(), 0), 0);
    }
    const auto r = cli({"map", home / "tree", "--json", "--quiet"}, Privilege::unprivileged);
    for (const char* locked : {"tree/locked", "tree/open/a/b/c/d/e/f/locked"}) {
        chmod((home / locked).c_str(), 0755);
    }
    // The map is drawn, and what could not be read is said: the figures are lower bounds.
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("tree: 2 entries could not be read"), std::string::npos) << r.output;
    const auto doc = nlohmann::json::parse(
        r.output.substr(r.output.find('{'), r.output.rfind('}') - r.output.find('{') + 1));
    EXPECT_EQ(doc["bytes"].get<std::int64_t>(), allocated(home / "tree/open/file"));
    EXPECT_EQ(doc["unreadable"].get<std::int64_t>(), 2);
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
    TemporaryHome home;
    const std::string latin1 = home / "Library/Caches/caf\xe9";
    makeFile(latin1 + "/blob", 2 * MB);
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
            EXPECT_TRUE(exists(*decoded)) << bytes;
            EXPECT_NE(text.find("\xef\xbf\xbd"), std::string::npos) << text; // U+FFFD in the text
            found = found || *decoded == latin1;
        }
        EXPECT_TRUE(found) << arguments.front() << r.output;
    }
}

} // namespace
