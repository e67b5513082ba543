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

TEST(LanguageFiles, OnlyUnusedLanguagesAboveTheFloorAreReportedWithTheirApplication) {
    TestTree::TemporaryHome home;
    setLocale(Env{{"LANG", "en_US.UTF-8"}});
    const auto b = TestTree::block(home);
    const std::string res = home / "Applications/Viewer.app/Contents/Resources/";
    // Which names are kept: PreferredLanguages.
    TestTree::makeFile(res + "en_US.lproj/Localizable.strings", 2'000'000);
    TestTree::makeFile(res + "de.lproj/Localizable.strings", 1'000'000);
    TestTree::makeFile(res + "de.lproj/Main.nib/keyedobjects.nib", 1'000'000);
    TestTree::makeFile(res + "it.lproj/Localizable.strings", TestTree::below(500'000, b));
    TestTree::makeFile(res + "es.lproj/Localizable.strings", TestTree::atOrAbove(500'000, b));
    TestTree::makeFile(res + "EN.lproj/Localizable.strings", 2'000'000);
    TestTree::makeFile(res + "ja.lproj", 2'000'000); // a file, not a folder
    TestTree::build(
        home.path(),
        {{"elsewhere/ko.lproj/x", 2'000'000},
         {"Applications/Viewer.app/Contents/Resources/ko.lproj", {}, -1, home / "elsewhere/ko.lproj"}});
    TestTree::makeFile(res + ".hidden/pl.lproj/x", 2'000'000);
    TestTree::makeFile(home / "Applications/Tool/Contents/Resources/de.lproj/x", 2'000'000); // no .app

    EXPECT_EQ(TestTree::urls(LanguageFilesScanner().scan()),
              (std::set<std::string>{res + "de.lproj", res + "es.lproj", res + "EN.lproj"}));
}

TEST(LanguageFiles, TheWalkStopsAtDepthFiveAndNeverEntersNestedHelpers) {
    TestTree::TemporaryHome home;
    setLocale(Env{{"LANG", "en_US.UTF-8"}, {"KESTRUNE_SYSTEM_ROOT", home / "system"}});
    const std::string app = home / "system/Applications/Editor.app";
    TestTree::makeFile(app + "/1/2/3/4/5/six.lproj/x", 1'000'000);     // listed at depth 5
    TestTree::makeFile(app + "/1/2/3/4/5/6/seven.lproj/x", 1'000'000); // would need depth 6
    TestTree::makeFile(app + "/Contents/Library/LoginItems/Helper.app/Contents/Resources/de.lproj/x",
                       1'000'000);
    TestTree::makeFile(app + "/Contents/Helpers/Agent.app/de.lproj/x", 1'000'000);
    TestTree::makeFile(app + "/Contents/Sidecar.app/de.lproj/x", 1'000'000);         // listed at depth 1
    TestTree::makeFile(app + "/Inner.app/Contents/Resources/de.lproj/x", 1'000'000); // depth 0: entered
    TestTree::makeFile(app + "/Contents/Resources/de.lproj/nested.lproj/x", 1'000'000);
    TestTree::makeFile(home / "system/Applications/.Hidden.app/de.lproj/x", 1'000'000);
    TestTree::makeFile(home / "system/Applications/Utilities/Console.app/de.lproj/x", 1'000'000);
    TestTree::makeFile(home / "system/System/Applications/Sys.app/Contents/Resources/pt.lproj/x", 1'000'000);

    EXPECT_EQ(
        TestTree::urls(LanguageFilesScanner().scan()),
        (std::set<std::string>{app + "/1/2/3/4/5/six.lproj", app + "/Inner.app/Contents/Resources/de.lproj",
                               app + "/Contents/Resources/de.lproj"}));
}

TEST(LanguageFiles, ABundleTheUserCannotWriteYieldsNothing) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    for (const std::string name : {"Mine", "Theirs"}) {
        for (const std::string lang : {"de", "fr", "ja", "ru"}) {
            TestTree::makeFile(
                home / ("Applications/" + name + ".app/Contents/Resources/" + lang + ".lproj/x"), 1'000'000);
            TestTree::makeFile(
                system + "/Applications/" + name + ".app/Contents/Resources/" + lang + ".lproj/x", 1'000'000);
        }
    }
    // The ordinary user owns Mine.app in both roots; Theirs.app belongs to someone else and is read-only.
    TestTree::giveToUnprivileged(home / "Applications/Mine.app");
    TestTree::giveToUnprivileged(system + "/Applications/Mine.app");
    ASSERT_EQ(chmod((home / "Applications/Theirs.app").c_str(), 0555), 0);
    ASSERT_EQ(chmod((system + "/Applications/Theirs.app").c_str(), 0555), 0);

    const auto r =
        TestTree::run({TestTree::cliPath(), "scan", "--only", "languageFiles", "--json", "--quiet"},
                      TestTree::Privilege::unprivileged,
                      {{"LANGUAGE", "fr"}, {"LC_ALL", "C"}, {"LANG", "C"}, {"KESTRUNE_SYSTEM_ROOT", system}});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.output;
    std::set<std::string> paths, expected;
    ASSERT_EQ(doc["categories"].size(), 1u) << r.output;
    for (const auto& i : doc["categories"][0]["items"]) {
        paths.insert(i["path"].get<std::string>());
    }
    for (const std::string& root : {home / "Applications", system + "/Applications"}) {
        for (const std::string lang : {"de", "ja", "ru"}) {
            expected.insert(root + "/Mine.app/Contents/Resources/" + lang + ".lproj");
        }
    }
    EXPECT_EQ(paths, expected);
}

} // namespace
