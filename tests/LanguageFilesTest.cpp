// The language-files scanner on real bundles: the kept names from the environment, the walk's limits,
// labels, and (through kestrune-cli as an ordinary user) bundles the user may not change.
#include "KestruneCore/Platform/Languages.h"
#include "KestruneCore/Scanners/LanguageFilesScanner.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {

using Names = LanguageFilesScanner::NameSet;
using Env = std::map<std::string, std::string>;

// Sets the locale variables (a TemporaryHome puts the old values back).
void setLocale(const Env& values) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "KESTRUNE_SYSTEM_ROOT"}) {
        unsetenv(name);
    }
    for (const auto& [name, value] : values) {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

Names withKept(std::initializer_list<const char*> names) {
    Names out{"Base.lproj", "en.lproj", "English.lproj"};
    for (const char* n : names) {
        out.insert(n);
    }
    return out;
}

TEST(PreferredLanguages, ComeFromLanguageThenTheLocaleVariablesAndKeepThreeSpellingsEach) {
    TestTree::TemporaryHome home;
    setLocale(Env{{"LANGUAGE", "fr:de_DE::pt_BR.UTF-8@euro:fr"},
                  {"LC_ALL", ""},
                  {"LC_MESSAGES", "POSIX"},
                  {"LANG", "C.UTF-8"}});
    EXPECT_EQ(Platform::preferredLanguages(), (std::vector<std::string>{"fr", "de-DE", "pt-BR"}));
    setLocale(Env{{"LC_ALL", "sv_SE.UTF-8"}, {"LC_MESSAGES", "nb_NO"}, {"LANG", "de_DE.UTF-8"}});
    EXPECT_EQ(Platform::preferredLanguages(), (std::vector<std::string>{"sv-SE", "nb-NO", "de-DE"}));
    setLocale(Env{{"LANG", "C"}});
    EXPECT_TRUE(Platform::preferredLanguages().empty());
    EXPECT_EQ(LanguageFilesScanner::preferredLprojNames(), withKept({}));
    // Each language keeps three spellings.
    setLocale(Env{{"LANGUAGE", "de_DE:en_GB"}});
    EXPECT_EQ(LanguageFilesScanner::preferredLprojNames(),
              withKept({"de.lproj", "de_DE.lproj", "de-DE.lproj", "en_GB.lproj", "en-GB.lproj"}));
    setLocale(Env{{"LANGUAGE", "zh-Hans-CN"}});
    EXPECT_EQ(LanguageFilesScanner::preferredLprojNames(),
              withKept({"zh.lproj", "zh_Hans_CN.lproj", "zh-Hans-CN.lproj"}));
}

TEST(AppBundleName, IsTheNearestBundleWithinEightSteps) {
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/Viewer.app/Contents/Resources/de.lproj"), "Viewer");
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/Outer.app/Inner.app/de.lproj"), "Inner");
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/Viewer.app"), "Viewer");
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/Viewer.app/1/2/3/4/5/6/de.lproj"), "Viewer");
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/Viewer.app/1/2/3/4/5/6/7/de.lproj"), std::nullopt);
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/Viewer.App/de.lproj"), std::nullopt);
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/A/b/de.lproj"), std::nullopt);
    EXPECT_EQ(LanguageFilesScanner::appBundleName("/"), std::nullopt);
}

// Only folders of unused languages from the floor (each side) in application bundles, in the home's and
// the system's application folders: never a file, a link, a hidden folder or a nested helper, and the walk
// stops at depth five. Which names are kept: PreferredLanguages.
TEST(LanguageFiles, OnlyUnusedLanguagesFromTheFloorWithinTheWalksLimits) {
    TestTree::TemporaryHome home;
    setLocale(Env{{"LANG", "en_US.UTF-8"}, {"KESTRUNE_SYSTEM_ROOT", home / "system"}});
    const auto b = TestTree::block(home);
    const std::string viewer = "Applications/Viewer.app/Contents/Resources/";
    const std::string editor = "system/Applications/Editor.app/";
    TestTree::build(
        home.path(),
        {{viewer + "en_US.lproj/Localizable.strings", 2'000'000},
         {viewer + "de.lproj/Localizable.strings", 1'000'000},
         {viewer + "de.lproj/Main.nib/keyedobjects.nib", 1'000'000},
         {viewer + "it.lproj/Localizable.strings", TestTree::below(500'000, b)},
         {viewer + "es.lproj/Localizable.strings", TestTree::atOrAbove(500'000, b)},
         {viewer + "EN.lproj/Localizable.strings", 2'000'000},
         {viewer + "ja.lproj", 2'000'000}, // a file, not a folder
         {"elsewhere/ko.lproj/x", 2'000'000},
         {viewer + "ko.lproj", {}, -1, home / "elsewhere/ko.lproj"},
         {viewer + ".hidden/pl.lproj/x", 2'000'000},
         {"Applications/Tool/Contents/Resources/de.lproj/x", 2'000'000}, // no .app
         {editor + "1/2/3/4/5/six.lproj/x", 1'000'000},                  // listed at depth 5
         {editor + "1/2/3/4/5/6/seven.lproj/x", 1'000'000},              // would need depth 6
         {editor + "Contents/Library/LoginItems/Helper.app/Contents/Resources/de.lproj/x", 1'000'000},
         {editor + "Contents/Helpers/Agent.app/de.lproj/x", 1'000'000},
         {editor + "Contents/Sidecar.app/de.lproj/x", 1'000'000},         // listed at depth 1
         {editor + "Inner.app/Contents/Resources/de.lproj/x", 1'000'000}, // depth 0: entered
         {editor + "Contents/Resources/de.lproj/nested.lproj/x", 1'000'000},
         {"system/Applications/.Hidden.app/de.lproj/x", 1'000'000},
         {"system/Applications/Utilities/Console.app/de.lproj/x", 1'000'000},
         {"system/System/Applications/Sys.app/Contents/Resources/pt.lproj/x", 1'000'000}});
    std::set<std::string> expected;
    for (const std::string& relative :
         {viewer + "de.lproj", viewer + "es.lproj", viewer + "EN.lproj", editor + "1/2/3/4/5/six.lproj",
          editor + "Inner.app/Contents/Resources/de.lproj", editor + "Contents/Resources/de.lproj"}) {
        expected.insert(home / relative);
    }
    EXPECT_EQ(TestTree::urls(LanguageFilesScanner().scan()), expected);
}

// The ordinary user owns Mine.app in the home's and the system's application folders; Theirs.app
// belongs to someone else and is read-only: only Mine's unused languages are reported.
TEST(LanguageFiles, ABundleTheUserCannotWriteYieldsNothing) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    std::set<std::string> expected;
    for (const std::string& root : {home / "Applications", system + "/Applications"}) {
        for (const std::string name : {"/Mine.app", "/Theirs.app"}) {
            for (const std::string lang : {"de", "fr", "ja", "ru"}) {
                const std::string folder = root + name + "/Contents/Resources/" + lang + ".lproj";
                TestTree::makeFile(folder + "/x", 1'000'000);
                if (name == "/Mine.app" && lang != "fr") {
                    expected.insert(folder);
                }
            }
        }
        TestTree::giveToUnprivileged(root + "/Mine.app");
        ASSERT_EQ(chmod((root + "/Theirs.app").c_str(), 0555), 0);
    }
    const auto r =
        TestTree::run({TestTree::cliPath(), "scan", "--only", "languageFiles", "--json", "--quiet"},
                      TestTree::Privilege::unprivileged,
                      {{"LANGUAGE", "fr"}, {"LC_ALL", "C"}, {"LANG", "C"}, {"KESTRUNE_SYSTEM_ROOT", system}});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.output;
    ASSERT_EQ(doc["categories"].size(), 1u) << r.output;
    std::set<std::string> paths;
    for (const auto& i : doc["categories"][0]["items"]) {
        paths.insert(i["path"].get<std::string>());
    }
    EXPECT_EQ(paths, expected);
}

} // namespace
