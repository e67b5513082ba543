// The maintenance tasks, the session's background items and the update check with real child
// processes: small stand-in tools first (and alone) on PATH, a temporary home and XDG folders, and the
// system folders moved below the home.
#include "KestruneCore/Maintenance/Maintenance.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Maintenance/LoginItems.h"
#include "KestruneCore/Maintenance/Updater.h"
#include "KestruneCore/Platform/Trash.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <optional>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Status = Maintenance::TaskOutcome::Status;

// A temporary home whose PATH holds only its own bin folder, whose system folders (/etc/xdg,
// /etc/systemd/user, /usr/lib/systemd/user, /Library/...) live below it, and whose tools are scripts.
struct Sandbox {
    // The home puts PATH and the system root back.
    Sandbox() : bin(TestTree::makeFolder(home / "bin")), system(TestTree::makeFolder(home / "system")) {
        setenv("PATH", bin.c_str(), 1);
        setenv("KESTRUNE_SYSTEM_ROOT", system.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (system + "/etc/xdg").c_str(), 1);
    }
    ~Sandbox() { unsetenv("XDG_CONFIG_DIRS"); }
    // A tool on PATH (or at a path below the home) running `body` under /bin/sh; it leaves "$0.ran" with
    // its arguments behind.
    std::string tool(const std::string& name, const std::string& body) const {
        const std::string path =
            TestTree::writeFile(name.find('/') != std::string::npos ? home / name : bin + "/" + name,
                                "#!/bin/sh\necho \"$@\" > \"$0.ran\"\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }
    [[nodiscard]] bool ran(const std::string& name) const {
        return TestTree::exists(bin + "/" + name + ".ran");
    }
    // The arguments a tool on PATH was given; nothing when it did not run.
    [[nodiscard]] std::string given(const std::string& name) const {
        return ran(name) ? TestTree::readFile(bin + "/" + name + ".ran") : "";
    }

    TestTree::TemporaryHome home;
    std::string bin;
    std::string system;
};

MaintenanceTask taskOf(const std::string& id) {
    auto task = Maintenance::task(id);
    EXPECT_TRUE(task.has_value()) << id;
    return task.value_or(MaintenanceTask{});
}

// The catalogue follows what is installed (its listing is checked through kestrune-cli), and a task that
// needs root starts no process at all.
TEST(MaintenanceTasks, CatalogueFollowsWhatIsInstalledAndRootTasksStartNoProcess) {
    Sandbox box;
    EXPECT_EQ(Maintenance::run(taskOf("spotlight")).sentence, "No desktop search service is installed.");
    const std::pair<const char*, const char*> services[] = {{"balooctl6", "balooctl6 purge"},
                                                            {"tracker3", "tracker3 reset -s -r"}};
    for (const auto& [tool, command] : services) {
        box.tool(tool, "exit 0");
        EXPECT_EQ(taskOf("spotlight").command, command) << "Tracker wins over Baloo once both are there";
    }
    for (const char* tool : {"resolvectl", "journalctl", "sudo"}) {
        box.tool(tool, "exit 0");
    }
    for (const char* id : {"dns", "spotlight", "snapshots"}) {
        const auto outcome = Maintenance::run(taskOf(id));
        EXPECT_EQ(outcome.status, Status::notRun) << id;
        EXPECT_NE(outcome.sentence.find("administrator rights"), std::string::npos) << id;
    }
    for (const char* tool : {"resolvectl", "journalctl", "sudo", "tracker3", "balooctl6"}) {
        EXPECT_FALSE(box.ran(tool)) << tool;
    }
}

// Each case in a fresh home: the user's application entries and MIME packages, what the tools print, and
// the folders they were given.
TEST(MaintenanceTasks, RebuildApplicationMenuReportsWhatTheToolsDid) {
    const std::string failed = "Couldn't rebuild the application menu: update-desktop-database ";
    const struct {
        std::optional<std::string> desktopTool; // body of update-desktop-database; nothing: not installed
        bool entries;
        bool mime;
        Status status;
        std::string sentence;
    } cases[] = {
        {"exit 0", true, true, Status::done, "Application menu rebuilt."},
        {"echo 'cannot write cache: Read-only file system' >&2; exit 1", true, false, Status::failed,
         failed + "failed: cannot write cache: Read-only file system"},
        {std::nullopt, true, false, Status::failed, failed + "is not installed."},
        {"exec /bin/sleep 600", true, false, Status::failed,
         failed + "did not finish within 400 ms and was stopped."},
        {"exit 0", false, false, Status::done,
         "Nothing to rebuild: you have no application entries of your own."},
    };
    for (const auto& c : cases) {
        Sandbox box;
        if (c.entries) {
            TestTree::makeFolder(box.home / ".local/share/applications");
        }
        if (c.mime) {
            TestTree::makeFolder(box.home / ".local/share/mime/packages");
            box.tool("update-mime-database", "exit 0");
        }
        if (c.desktopTool) {
            box.tool("update-desktop-database", *c.desktopTool);
        }
        // Only the tool that never ends meets the short limit, however busy the machine.
        const auto limit = c.sentence.ends_with("stopped.") ? 400ms : 20'000ms;
        const auto outcome = Maintenance::run(taskOf("lsregister"), limit);
        EXPECT_EQ(std::pair(outcome.status, outcome.sentence), std::pair(c.status, c.sentence));
        EXPECT_EQ(box.given("update-desktop-database"),
                  c.entries && c.desktopTool ? box.home / ".local/share/applications\n" : "")
            << c.sentence;
        EXPECT_EQ(box.given("update-mime-database"), c.mime ? box.home / ".local/share/mime\n" : "");
    }
}

TEST(MaintenanceTasks, ResetThumbnailsMovesBothCachesToTheTrashAndNothingElse) {
    Sandbox box;
    TestTree::writeFile(box.home / ".cache/thumbnails/normal/a.png", "thumb-a");
    TestTree::writeFile(box.home / ".cache/thumbnails/large/b.png", "thumb-b");
    TestTree::writeFile(box.home / ".thumbnails/normal/c.png", "thumb-c");
    TestTree::writeFile(box.home / ".cache/fontconfig/cache-1", "keep me");
    const auto kept = TestTree::snapshot(box.home / ".cache/fontconfig");
    const auto outcome = Maintenance::run(taskOf("quicklook"));
    EXPECT_EQ(outcome.status, Status::done);
    EXPECT_EQ(outcome.sentence, "Thumbnail cache moved to Trash.");
    const std::string trash = box.home / ".local/share/Trash";
    for (const char* name : {"thumbnails", ".thumbnails"}) {
        EXPECT_FALSE(TestTree::exists(box.home / (name[0] == '.' ? name : ".cache/thumbnails"))) << name;
        EXPECT_TRUE(TestTree::exists(trash + "/info/" + name + ".trashinfo")) << name;
    }
    EXPECT_EQ(TestTree::snapshot(box.home / ".cache/fontconfig"), kept);
    EXPECT_EQ(Maintenance::run(taskOf("quicklook")).sentence, "No thumbnail cache to reset.");
}

// The time limit and grandchildren holding the pipe are the child process runner's; a failing tool's
// error stream and exit status are checked through the application menu task.
TEST(MaintenanceShell, OnePipeNoShellStdinClosedUtf8OrEmpty) {
    Sandbox box;
    struct Case {
        const char* name;
        std::string body; // empty: no such program
        bool ok;
        std::string output;
    };
    const Case cases[] = {
        {"both streams in order", "echo one; echo two >&2; echo three", true, "one\ntwo\nthree\n"},
        {"not UTF-8", "printf 'caf\\351\\n'", true, ""},
        {"standard input is at its end", "if read line; then echo got; else echo eof; fi", true, "eof\n"},
        {"missing program", "", false, ""},
    };
    for (const auto& c : cases) {
        const std::string path = c.body.empty() ? box.bin + "/absent" : box.tool("t", c.body);
        const auto result = Maintenance::shell(path, {"--flag", "two words"}, 20s);
        EXPECT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(result.output, c.output) << c.name;
        if (!c.body.empty()) {
            EXPECT_EQ(box.given("t"), "--flag two words\n") << c.name << ": no shell";
        }
    }
    // A relative path or a folder starts nothing, even when PATH would find it.
    box.tool("relative", "exit 0");
    EXPECT_FALSE(Maintenance::shell("relative", {}).ok);
    EXPECT_FALSE(box.ran("relative"));
    EXPECT_FALSE(Maintenance::shell(box.bin, {}).ok);
}

// --- Login and background items ---

// An item as one line: label, its program's state and program, "system" when the user may not remove it,
// "off" when disabled.
std::string line(const BackgroundItem& i) {
    static const char* states[] = {"found", "missing", "unknown", "none"};
    return i.label + " " + states[static_cast<int>(i.programState)] + " " + i.program +
           (i.isUserWritable ? "" : " system") + (i.disabled ? " off" : "");
}

std::map<std::string, BackgroundItem> byLabel(const std::vector<BackgroundItem>& items) {
    std::map<std::string, BackgroundItem> out;
    for (const auto& i : items) {
        out.emplace(i.label, i);
    }
    return out;
}

TEST(LoginItems, AutostartEntriesServicesAndLaunchdListsAreJudgedByTheirProgramAndSorted) {
    Sandbox box;
    const std::string user = box.home / ".config/systemd/user/";
    const std::string spaced = box.home / "My App/run", quoted = box.home / "we\"ird/run";
    const std::string prog = box.tool("prog", "exit 0");
    // How an Exec value splits into words is the desktop entry reader's to check; here what an item makes
    // of them. A unit's ExecStart counts only in its [Service] group.
    const auto entry = [](const std::string& body) {
        return "[Desktop Entry]\nType=Application\n" + body + "\n";
    };
    const auto unit = [](const std::string& body) {
        return "[Unit]\nDescription=x\nExecStart=/in/the/wrong/group\n[Service]\n" + body +
               "\n[Install]\nWantedBy=default.target\n";
    };
    const std::string a = ".config/autostart/", u = ".config/systemd/user/";
    // Files that are not entries (other extensions, hidden names), links of every kind, system entries and
    // units, wanted or not, and launchd lists read beside them.
    const auto plist = [](const std::string& key, const std::string& value) {
        return TestTree::xmlPlist("<key>" + key + "</key>" + value);
    };
    const std::string agents = "Library/LaunchAgents/";
    const std::string etc = "system/etc/systemd/user/", lib = box.system + "/usr/lib/systemd/user/";
    TestTree::build(
        box.home.path(),
        {{a + "gone.desktop", entry("Exec=/nowhere/at/all/prog --start")},
         {a + "envy.desktop", entry("Exec=env FOO=1 BAR=two prog --x")},
         {a + "envmissing.desktop", entry("Exec=env -u HOME FOO=1 noprog")},
         {a + "hidden.desktop", entry("Exec=prog\nHidden=true")},
         {a + "gnomeoff.desktop", entry("Exec = prog\nX-GNOME-Autostart-enabled=false")},
         {a + "noexec.desktop", entry("Name=Nothing")},
         {a + "looped.desktop", entry("Exec=" + box.home / "loop/loop/prog")},
         {a + "escaped.desktop", entry("Exec=\"" + box.home / "we\\\\\"ird/run" + "\" %U")},
         {u + "prefixed.service", unit("ExecStart=-/bin/sh -c 'exit 0'")},
         {u + "homed.service", unit("ExecStart=%h/bin/prog --serve")},
         {u + "daemon.service", unit("ExecStart=@/nowhere/daemon daemon-name")},
         {u + "svcmissing.service", unit("ExecStart=/usr/bin/env FOO=1 missingtool")},
         {u + "reset.service", unit("ExecStart=/nowhere/first\nExecStart=\nExecStart=prog")},
         {u + "quoted.service", unit("ExecStart=\"" + spaced + "\" --flag")},
         {u + "continued.service", unit("ExecStart=/nowhere/long \\\n    --option")},
         {u + "specifier.service", unit("ExecStart=%t/socket-helper")},
         {"tool-at-home", "x"},
         {agents + "com.example.Same.plist", plist("Program", "<string>~/tool-at-home</string>")},
         {agents + "com.example.args.plist",
          plist("ProgramArguments", "<array><string>/nowhere/agent</string><string>-x</string></array>")},
         {agents + "com.example.caps.PLIST", plist("Program", "<string>/x</string>")},
         {"system/" + agents + "com.example.same.plist",
          plist("Program", "<string>/nowhere/system</string>")},
         {"system/Library/LaunchDaemons/com.example.daemon.plist", plist("Label", "<string>x</string>")},
         {"My App/run", "#!/bin/sh\n"},
         {"we\"ird/run", "#!/bin/sh\n"},
         {"loop/loop", {}, -1, box.home / "loop/loop"},
         {a + "notes.txt", "Exec=/nowhere\n"},
         {a + ".dot.desktop", "[Desktop Entry]\nExec=/nowhere\n"},
         {"system/etc/xdg/autostart/sysgone.desktop", "[Desktop Entry]\nExec=/nowhere/sys\n"},
         {a + "dangling.desktop", {}, -1, box.home / "deleted.desktop"},
         {u + "masked.service", {}, -1, "/dev/null"},
         {u + "default.target.wants/prefixed.service", {}, -1, "../prefixed.service"},
         {u + "default.target.wants/svcdangling.service", {}, -1, user + "deleted.service"},
         {etc + "syssvc.service", "[Service]\nExecStart=/nowhere/sys\n"},
         {etc + "default.target.wants/syssvc.service", {}, -1, "../syssvc.service"},
         {"system/usr/lib/systemd/user/wanted@.service", "[Service]\nExecStart=/bin/sh %i\n"},
         {"system/usr/lib/systemd/user/sockets.target.wants/wanted@one.service",
          {},
          -1,
          lib + "wanted@.service"},
         {"system/usr/lib/systemd/user/unwanted.service", "[Service]\nExecStart=/nowhere/never-started\n"},
         // Drop-ins by file name after the unit, the user's hiding the system's of the same name; one
         // without an empty ExecStart= adds nothing to a unit that has one; a template's serve it.
         {u + "over.service", "[Service]\nExecStart=/nowhere/original\n"},
         {u + "over.service.d/20-local.conf", "[Service]\nExecStart=\nExecStart=prog\n"},
         {u + "over.service.d/30-notes.txt", "[Service]\nExecStart=\nExecStart=/no/conf\n"},
         {etc + "over.service.d/20-local.conf", "[Service]\nExecStart=\nExecStart=/nowhere/hidden\n"},
         {etc + "over.service.d/10-first.conf", "[Service]\nExecStart=\nExecStart=/nowhere/earlier\n"},
         {u + "reset.service.d/more.conf", "[Service]\nExecStart=/nowhere/added\n"},
         {"system/usr/lib/systemd/user/wanted@.service.d/a.conf",
          "[Service]\nExecStart=\nExecStart=/bin/true\n"}});

    std::vector<std::string> lines;
    for (const auto& i : LoginItems::all()) {
        lines.push_back(line(i));
        const bool daemon = i.path.find("LaunchDaemons") != std::string::npos;
        const bool agent = i.path.find("LaunchAgents") != std::string::npos;
        EXPECT_EQ(i.scope(), i.path.ends_with(".desktop") ? "Autostart entry"
                             : daemon                     ? "Launch daemon"
                             : agent                      ? "Launch agent"
                                                          : "User service")
            << i.label;
    }
    // Sorted by label, equal labels keeping the user's first; a wants link to a listed unit is not listed
    // twice, an unwanted system unit not at all, a launchd list with another extension not at all.
    EXPECT_EQ(lines, (std::vector<std::string>{"com.example.args missing /nowhere/agent",
                                               "com.example.daemon none  system",
                                               "com.example.Same found " + box.home / "tool-at-home",
                                               "com.example.same missing /nowhere/system system",
                                               "continued missing /nowhere/long",
                                               "daemon missing /nowhere/daemon",
                                               "dangling missing " + box.home / "deleted.desktop",
                                               "envmissing missing noprog",
                                               "envy found " + prog,
                                               "escaped found " + quoted,
                                               "gnomeoff found " + prog + " off",
                                               "gone missing /nowhere/at/all/prog",
                                               "hidden found " + prog + " off",
                                               "homed found " + prog,
                                               "looped unknown " + box.home / "loop/loop/prog",
                                               "masked none  off",
                                               "noexec none ",
                                               "over found " + prog,
                                               "prefixed found /bin/sh",
                                               "quoted found " + spaced,
                                               "reset found " + prog,
                                               "specifier unknown %t/socket-helper",
                                               "svcdangling missing " + user + "deleted.service",
                                               "svcmissing missing missingtool",
                                               "sysgone missing /nowhere/sys system",
                                               "syssvc missing /nowhere/sys system",
                                               "wanted@ found /bin/true system"}));
    const auto items = byLabel(LoginItems::all());
    EXPECT_EQ(items.at("svcdangling").path, user + "default.target.wants/svcdangling.service");
}

// --- Updates ---

// Captured from `flatpak remote-ls --updates --columns=application,version` and `flatpak list
// --columns=application,version` with standard output not a terminal: no header, tab-separated, an
// empty version where the ref has none, a runtime once per installed branch.
const std::string flatpakUpdates = "org.mozilla.firefox\t128.0.3\n"
                                   "org.gnome.Platform\t\n"
                                   "org.freedesktop.Platform.GL.default\t24.1.3\n"
                                   "com.example.NotInstalled\t2.0\n";
const std::string flatpakInstalled = "com.github.tchx84.Flatseal\t2.2.0\n"
                                     "org.mozilla.firefox\t128.0\n"
                                     "org.freedesktop.Platform.GL.default\t23.1.9\n"
                                     "org.freedesktop.Platform.GL.default\t24.1.2\n"
                                     "org.gnome.Platform\t\n";
// Captured from `brew outdated --json=v2` (Homebrew 4) on Linux, indentation dropped.
const std::string brewOutdated = R"({"formulae": [
{"name": "python@3.12", "installed_versions": ["3.12.4"], "current_version": "3.12.5", "pinned": false,
 "pinned_version": null},
{"name": "openssl@3", "installed_versions": [], "current_version": 3, "pinned": true, "pinned_version": "3.3.1"},
{"installed_versions": ["1.0"], "current_version": "1.1"}],
"casks": [{"name": "firefox", "installed_versions": ["129.0"], "current_version": "129.0.1"}]}
)";

std::vector<std::string> rows(const std::vector<Updater::Outdated>& list) {
    std::vector<std::string> out;
    for (const auto& o : list) {
        out.push_back(Updater::name(o.source) + " " + o.name + " " + o.current + " -> " + o.latest);
    }
    return out;
}

TEST(Updater, ParsesTheToolsFormatsAndRejectsOtherText) {
    EXPECT_EQ(rows(Updater::parseFlatpak(flatpakUpdates, flatpakInstalled).value()),
              (std::vector<std::string>{"Flatpak org.mozilla.firefox 128.0 -> 128.0.3",
                                        "Flatpak org.gnome.Platform ? -> ?",
                                        "Flatpak org.freedesktop.Platform.GL.default ? -> 24.1.3",
                                        "Flatpak com.example.NotInstalled ? -> 2.0"}));
    EXPECT_EQ(rows(Updater::parseHomebrew(brewOutdated).value()),
              (std::vector<std::string>{"Homebrew python@3.12 3.12.4 -> 3.12.5", "Homebrew openssl@3 ? -> ?",
                                        "Homebrew firefox 129.0 -> 129.0.1"}));
    EXPECT_TRUE(Updater::parseFlatpak("", "").value().empty()) << "nothing to update";
    EXPECT_EQ(Updater::parseHomebrew(R"({"formulae":[{"name":"a"}]})").value().size(), 1u) << "no casks";
    for (const std::string bad :
         {"Looking for updates…\nerror: Unable to connect", "org.x.App\tv1\tsurplus"}) {
        EXPECT_FALSE(Updater::parseFlatpak(bad, "").has_value()) << bad;
    }
    for (const std::string bad :
         {"Warning: stale\n{}", "[]", "{}", R"({"formulae":{}})", "{\"formulae\": ["}) {
        EXPECT_FALSE(Updater::parseHomebrew(bad).has_value()) << bad;
    }
}

TEST(Updater, AsksTheInstalledToolsAndReportsTheirFailures) {
    struct Case {
        const char* name;
        std::optional<std::string> flatpak; // script body; nothing: not installed
        std::optional<std::string> brew;
        std::vector<std::string> outdated;
        std::vector<std::string> failureHas;   // per source checked, "" for none
        std::chrono::milliseconds limit = 20s; // short only for a tool that never answers
        std::string brewAt = "brew";           // below bin (on PATH), or below the home
    };
    const std::string listing = "if [ \"$1\" = remote-ls ]; then printf '" +
                                std::string("org.mozilla.firefox\\t128.0.3\\n") +
                                "'; else printf 'org.mozilla.firefox\\t128.0\\n'; fi";
    const Case cases[] = {
        {"neither installed", std::nullopt, std::nullopt, {}, {}},
        {"both answer, warnings on standard error ignored",
         listing,
         "echo 'Warning: Treating python as a formula.' >&2; printf '%s' '" + brewOutdated + "'",
         {"Flatpak org.mozilla.firefox 128.0 -> 128.0.3", "Homebrew python@3.12 3.12.4 -> 3.12.5",
          "Homebrew openssl@3 ? -> ?", "Homebrew firefox 129.0 -> 129.0.1"},
         {"", ""}},
        {"flatpak fails, brew up to date",
         "echo 'error: No remote refs found for ‘flathub’' >&2; exit 1",
         "printf '{\"formulae\":[],\"casks\":[]}'",
         {},
         {"flatpak failed (exit status 1): error: No remote refs found", ""}},
        {"output that does not parse",
         "echo 'Looking for updates' ; exit 0",
         "echo 'Error: not json'",
         {},
         {"can't read", "can't read"}},
        {"brew never answers", std::nullopt, "exec /bin/sleep 600", {}, {"did not answer"}, 500ms},
        {"Homebrew's own place is found without PATH",
         std::nullopt,
         "printf '{\"formulae\":[]}'",
         {},
         {""},
         20s,
         "system/usr/local/bin/brew"},
    };
    for (const auto& c : cases) {
        Sandbox box;
        if (c.flatpak) {
            box.tool("flatpak", *c.flatpak);
        }
        if (c.brew) {
            box.tool(c.brewAt, *c.brew);
        }
        EXPECT_EQ(Updater::isAvailable(), c.flatpak || c.brew) << c.name;
        const auto checks = Updater::check(c.limit);
        ASSERT_EQ(checks.size(), c.failureHas.size()) << c.name;
        std::vector<Updater::Outdated> all;
        for (std::size_t i = 0; i < checks.size(); ++i) {
            all.insert(all.end(), checks[i].outdated.begin(), checks[i].outdated.end());
            const std::string failure = checks[i].failure.value_or("");
            EXPECT_EQ(checks[i].failure.has_value(), !c.failureHas[i].empty()) << c.name << ": " << failure;
            EXPECT_NE(failure.find(c.failureHas[i]), std::string::npos) << c.name << ": " << failure;
        }
        EXPECT_EQ(rows(all), c.outdated) << c.name;
    }
}

// --- kestrune-cli ---

std::vector<std::string> eventTitles() {
    std::vector<std::string> out;
    for (const auto& e : ActivityStore::load().events) {
        out.push_back(e.title + " | " + e.detail.value_or(""));
    }
    return out;
}

// kestrune-cli login-items and maintenance in one home: only a broken item of the user's own moves to the
// Trash, judged afresh at the click; tasks are listed, run and recorded, newest first.
TEST(MaintenanceCommands, RemoveBrokenLoginItemsThenListRunAndRecordTasks) {
    Sandbox box;
    const std::string autostart = box.home / ".config/autostart/";
    TestTree::writeFile(autostart + "gone.desktop", "[Desktop Entry]\nExec=/nowhere/prog\n");
    TestTree::writeFile(autostart + "fixed.desktop", "[Desktop Entry]\nExec=later-installed\n");
    TestTree::writeFile(autostart + "works.desktop", "[Desktop Entry]\nExec=/bin/sh\nHidden=true\n");
    const std::string system = box.system + "/etc/xdg/autostart/sysgone.desktop";
    TestTree::writeFile(system, "[Desktop Entry]\nExec=/nowhere/sys\n");
    const auto items = byLabel(LoginItems::all());
    ASSERT_EQ(items.size(), 4u);
    ASSERT_TRUE(items.at("fixed").isBroken());
    const std::string later = box.tool("later-installed", "exit 0"); // between the listing and the click

    const auto outsideLocal = [&box] { // the Trash and the audit log live below .local
        auto files = TestTree::snapshot(box.home.path());
        std::erase_if(files, [](const auto& f) { return f.first.starts_with(".local"); });
        return files;
    };
    auto before = outsideLocal();
    const std::pair<const char*, std::string> refused[] = {
        {"sysgone", "belongs to the system"}, {"works", "is not broken"}, {"fixed", "is not broken"}};
    for (const auto& [label, errorHas] : refused) {
        const auto error = LoginItems::remove(items.at(label));
        EXPECT_NE(error.value_or("").find(errorHas), std::string::npos)
            << label << ": " << error.value_or("");
    }
    const auto list = TestTree::run({TestTree::cliPath(), "login-items", "--json"});
    ASSERT_EQ(list.status, 0) << list.output;
    // Label, broken, user's own, disabled, path and program of each.
    std::set<std::string> listed;
    const auto listing = nlohmann::json::parse(list.output);
    for (const auto& i : listing["items"]) {
        listed.insert(i["label"].get<std::string>() + " " + i["broken"].dump() + " " + i["userOwned"].dump() +
                      " " + i["disabled"].dump() + " " + i["path"].get<std::string>() + " " +
                      i["program"].get<std::string>());
    }
    EXPECT_EQ(listed,
              (std::set<std::string>{"gone true true false " + autostart + "gone.desktop /nowhere/prog",
                                     "fixed false true false " + autostart + "fixed.desktop " + later,
                                     "works false true true " + autostart + "works.desktop /bin/sh",
                                     "sysgone true false false " + system + " /nowhere/sys"}));
    const auto dry = TestTree::run({TestTree::cliPath(), "login-items", "--remove-broken"});
    EXPECT_EQ(dry.status, 0);
    EXPECT_NE(dry.output.find("would move to Trash: " + autostart + "gone.desktop"), std::string::npos)
        << dry.output;
    EXPECT_EQ(outsideLocal(), before);
    EXPECT_TRUE(eventTitles().empty());

    const auto removed =
        TestTree::run({TestTree::cliPath(), "login-items", "--remove-broken", "--yes", "--json"});
    ASSERT_EQ(removed.status, 0) << removed.output;
    const auto moved = nlohmann::json::parse(removed.output)["removed"];
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["label"].get<std::string>() + " " + moved[0]["removed"].dump(), "gone true");
    const std::string trash = box.home / ".local/share/Trash/";
    EXPECT_EQ(TestTree::readFile(trash + "files/gone.desktop"), "[Desktop Entry]\nExec=/nowhere/prog\n");
    const std::string info = TestTree::readFile(trash + "info/gone.desktop.trashinfo");
    EXPECT_NE(info.find("Path=" + Trash::Info::encode(autostart + "gone.desktop")), std::string::npos)
        << info;
    before.erase(".config/autostart/gone.desktop");
    EXPECT_EQ(outsideLocal(), before);
    EXPECT_EQ(LoginItems::remove(items.at("gone")).value_or(""), "gone is no longer there.");

    const auto tasks = TestTree::run({TestTree::cliPath(), "maintenance", "--json"});
    ASSERT_EQ(tasks.status, 0) << tasks.output;
    std::vector<std::string> catalogue;
    const auto tasksJson = nlohmann::json::parse(tasks.output);
    for (const auto& t : tasksJson["tasks"]) {
        catalogue.push_back(t["id"].get<std::string>() + " " + t["runnable"].dump() + " " +
                            t["command"].dump());
    }
    EXPECT_EQ(catalogue,
              (std::vector<std::string>{"lsregister true null", "quicklook true null",
                                        "dns false \"sudo resolvectl flush-caches\"", "spotlight false null",
                                        "snapshots false \"sudo journalctl --vacuum-size=500M\""}));
    TestTree::writeFile(box.home / ".cache/thumbnails/normal/a.png", "a");
    const std::tuple<const char*, int, const char*> runs[] = {
        {"quicklook", 0, "Reset thumbnails: Thumbnail cache moved to Trash."},
        {"dns", 1, "needs administrator rights"},
        {"lsregister", 0, "Nothing to rebuild"},
        {"nonsense", 2, "no maintenance task"},
    };
    for (const auto& [id, status, printed] : runs) {
        const auto r = TestTree::run({TestTree::cliPath(), "maintenance", "--run", id});
        EXPECT_EQ(r.status, status) << id << ": " << r.output;
        EXPECT_NE(r.output.find(printed), std::string::npos) << r.output;
    }
    // A task that started nothing and an unknown one are not recorded.
    EXPECT_EQ(eventTitles(), (std::vector<std::string>{
                                 "Maintenance \u00B7 Rebuild application menu | Nothing to rebuild: you "
                                 "have no application entries of your own.",
                                 "Maintenance \u00B7 Reset thumbnails | Thumbnail cache moved to Trash.",
                                 "Maintenance \u00B7 Removed broken login item | gone"}));
}

} // namespace
