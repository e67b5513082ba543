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
using Program = BackgroundItem::Program;
using Status = Maintenance::TaskOutcome::Status;

// A temporary home whose PATH holds only its own bin folder, whose system folders (/etc/xdg,
// /etc/systemd/user, /usr/lib/systemd/user, /Library/...) live below it, and whose tools are scripts.
struct Sandbox {
    Sandbox() : bin(TestTree::makeFolder(home / "bin")), system(TestTree::makeFolder(home / "system")) {
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        setenv("PATH", bin.c_str(), 1);
        setenv("KESTRUNE_SYSTEM_ROOT", system.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (system + "/etc/xdg").c_str(), 1);
    }
    ~Sandbox() {
        setenv("PATH", savedPath.c_str(), 1);
        unsetenv("KESTRUNE_SYSTEM_ROOT");
        unsetenv("XDG_CONFIG_DIRS");
    }
    // A tool on PATH running `body` under /bin/sh; it leaves "$0.ran" with its arguments behind.
    std::string tool(const std::string& name, const std::string& body) const {
        const std::string path =
            TestTree::writeFile(bin + "/" + name, "#!/bin/sh\necho \"$@\" > \"$0.ran\"\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }
    [[nodiscard]] bool ran(const std::string& name) const {
        return TestTree::exists(bin + "/" + name + ".ran");
    }

    TestTree::TemporaryHome home;
    std::string bin;
    std::string system;
    std::string savedPath;
};

MaintenanceTask taskOf(const std::string& id) {
    auto task = Maintenance::task(id);
    EXPECT_TRUE(task.has_value()) << id;
    return task.value_or(MaintenanceTask{});
}

// The catalogue follows what is installed, and a task that needs root starts no process at all.
TEST(MaintenanceTasks, CatalogueFollowsWhatIsInstalledAndRootTasksStartNoProcess) {
    Sandbox box;
    std::vector<std::string> ids;
    for (const auto& t : Maintenance::tasks()) {
        ids.push_back(t.id);
        EXPECT_EQ(t.isRunnable(), t.id == "lsregister" || t.id == "quicklook") << t.id;
        EXPECT_EQ(t.command.has_value(), t.needsRoot && t.id != "spotlight") << t.id;
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"lsregister", "quicklook", "dns", "spotlight", "snapshots"}));
    EXPECT_EQ(taskOf("dns").command, "sudo resolvectl flush-caches");
    EXPECT_EQ(Maintenance::run(taskOf("spotlight")).sentence, "No desktop search service is installed.");
    const std::pair<const char*, const char*> services[] = {{"balooctl6", "balooctl6 purge"},
                                                            {"tracker3", "tracker3 reset -s -r"}};
    for (const auto& [tool, command] : services) {
        box.tool(tool, "exit 0");
        EXPECT_EQ(taskOf("spotlight").command, command) << "Tracker wins over Baloo once both are there";
    }
    const char* tools[] = {"resolvectl", "journalctl", "sudo"};
    for (const char* tool : tools) {
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

TEST(MaintenanceTasks, RebuildApplicationMenuReportsWhatTheToolsDid) {
    const struct {
        std::optional<std::string> desktopTool; // body of update-desktop-database; nothing: not installed
        bool mimeFolder;
        Status status;
        std::vector<std::string> sentenceHas; // empty: no application entries of the user's own
    } cases[] = {
        {"exit 0", true, Status::done, {"Application menu rebuilt."}},
        {"echo 'cannot write cache: Read-only file system' >&2; exit 1",
         false,
         Status::failed,
         {"Couldn't rebuild the application menu", "failed", "cannot write cache: Read-only file system"}},
        {std::nullopt, false, Status::failed, {"update-desktop-database is not installed."}},
        {"exec /bin/sleep 600", false, Status::failed, {"did not finish within", "was stopped"}},
        {"exit 0", false, Status::done, {}},
    };
    for (const auto& c : cases) {
        Sandbox box;
        const std::string name = c.desktopTool.value_or("not installed");
        if (!c.sentenceHas.empty()) {
            TestTree::makeFolder(box.home / ".local/share/applications");
        }
        if (c.mimeFolder) {
            TestTree::makeFolder(box.home / ".local/share/mime/packages");
            box.tool("update-mime-database", "exit 0");
        }
        if (c.desktopTool) {
            box.tool("update-desktop-database", *c.desktopTool);
        }
        const auto outcome = Maintenance::run(taskOf("lsregister"), 400ms);
        EXPECT_EQ(outcome.status, c.status) << name << ": " << outcome.sentence;
        for (const auto& part : c.sentenceHas) {
            EXPECT_NE(outcome.sentence.find(part), std::string::npos) << name << ": " << outcome.sentence;
        }
        if (c.sentenceHas.empty()) {
            EXPECT_EQ(outcome.sentence, "Nothing to rebuild: you have no application entries of your own.");
            EXPECT_FALSE(box.ran("update-desktop-database"));
        } else if (c.desktopTool) {
            EXPECT_EQ(TestTree::readFile(box.bin + "/update-desktop-database.ran"),
                      box.home / ".local/share/applications\n")
                << name;
        }
        if (c.mimeFolder) {
            EXPECT_EQ(TestTree::readFile(box.bin + "/update-mime-database.ran"),
                      box.home / ".local/share/mime\n");
        }
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
    EXPECT_EQ(TestTree::readFile(trash + "/files/thumbnails/large/b.png"), "thumb-b");
    EXPECT_EQ(TestTree::readFile(trash + "/files/.thumbnails/normal/c.png"), "thumb-c");
    EXPECT_EQ(TestTree::snapshot(box.home / ".cache/fontconfig"), kept);
    EXPECT_EQ(Maintenance::run(taskOf("quicklook")).sentence, "No thumbnail cache to reset.");
}

TEST(MaintenanceShell, OnePipeNoShellStdinClosedUtf8OrEmptyAndATimeLimit) {
    Sandbox box;
    struct Case {
        const char* name;
        std::string body; // empty: no such program
        bool ok;
        bool timedOut;
        std::string output;
    };
    const Case cases[] = {
        {"error stream and exit 1", "echo 'it broke' >&2; exit 1", false, false, "it broke\n"},
        {"both streams in order", "echo one; echo two >&2; echo three", true, false, "one\ntwo\nthree\n"},
        {"not UTF-8", "printf 'caf\\351\\n'", true, false, ""},
        {"UTF-8 kept", "printf 'caf\\303\\251'", true, false, "caf\xC3\xA9"},
        {"standard input is at its end", "if read line; then echo got; else echo eof; fi", true, false,
         "eof\n"},
        {"never exits", "exec /bin/sleep 600", false, true, ""},
        {"a grandchild keeps the pipe", "/bin/sleep 600 & echo left", true, false, "left\n"},
        {"missing program", "", false, false, ""},
    };
    for (const auto& c : cases) {
        const std::string path = c.body.empty() ? box.bin + "/absent" : box.tool("t", c.body);
        const auto result = Maintenance::shell(path, {"--flag", "two words"}, 500ms);
        EXPECT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(result.timedOut, c.timedOut) << c.name;
        EXPECT_EQ(result.output, c.output) << c.name;
        if (!c.body.empty()) {
            EXPECT_EQ(TestTree::readFile(box.bin + "/t.ran"), "--flag two words\n") << c.name << ": no shell";
        }
    }
    // A relative path or a folder starts nothing, even when PATH would find it.
    box.tool("relative", "exit 0");
    EXPECT_FALSE(Maintenance::shell("relative", {}).ok);
    EXPECT_FALSE(box.ran("relative"));
    EXPECT_FALSE(Maintenance::shell(box.bin, {}).ok);
}

// --- Login and background items ---

std::map<std::string, BackgroundItem> byLabel(const std::vector<BackgroundItem>& items) {
    std::map<std::string, BackgroundItem> out;
    for (const auto& i : items) {
        out.emplace(i.label, i);
    }
    return out;
}

void link(const std::string& target, const std::string& path) {
    TestTree::makeFolder(path.substr(0, path.rfind('/')));
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

TEST(LoginItems, AutostartEntriesAndUserServicesAreJudgedByTheirProgram) {
    Sandbox box;
    const std::string autostart = box.home / ".config/autostart/";
    const std::string user = box.home / ".config/systemd/user/";
    const std::string spaced = TestTree::writeFile(box.home / "My App/run", "#!/bin/sh\n");
    const std::string quoted = TestTree::writeFile(box.home / "we\"ird/run", "#!/bin/sh\n");
    const std::string prog = box.tool("prog", "exit 0");
    TestTree::makeFolder(box.home / "loop");
    link(box.home / "loop/loop", box.home / "loop/loop");
    const std::map<std::string, std::string> entries = {
        {"spaced", "Exec=\"" + spaced + "\" --flag"},
        {"gone", "Exec=/nowhere/at/all/prog --start"},
        {"envy", "Exec=env FOO=1 BAR=two prog --x"},
        {"envmissing", "Exec=env -u HOME FOO=1 noprog"},
        {"hidden", "Exec=prog\nHidden=true"},
        {"gnomeoff", "Exec = prog\nX-GNOME-Autostart-enabled=false"},
        {"noexec", "Name=Nothing"},
        {"looped", "Exec=" + box.home / "loop/loop/prog"},
        {"escaped", "Exec=\"" + box.home / "we\\\\\"ird/run" + "\" %U"},
        {"othergroup", "Name=x\n[Desktop Action new]\nExec=/nowhere/else"},
    };
    for (const auto& [name, body] : entries) {
        TestTree::writeFile(autostart + name + ".desktop",
                            "[Desktop Entry]\nType=Application\n" + body + "\n");
    }
    TestTree::writeFile(autostart + "notes.txt", "Exec=/nowhere\n");
    TestTree::writeFile(autostart + ".dot.desktop", "[Desktop Entry]\nExec=/nowhere\n");
    TestTree::writeFile(box.system + "/etc/xdg/autostart/sysgone.desktop",
                        "[Desktop Entry]\nExec=/nowhere/sys\n");
    link(box.home / "deleted.desktop", autostart + "dangling.desktop");
    const std::map<std::string, std::string> units = {
        {"prefixed", "ExecStart=-/bin/sh -c 'exit 0'"},
        {"homed", "ExecStart=%h/bin/prog --serve"},
        {"daemon", "ExecStart=@/nowhere/daemon daemon-name"},
        {"svcmissing", "ExecStart=/usr/bin/env FOO=1 missingtool"},
        {"reset", "ExecStart=/nowhere/first\nExecStart=\nExecStart=prog"},
        {"quoted", "ExecStart=\"" + spaced + "\" --flag"},
        {"continued", "ExecStart=/nowhere/long \\\n    --option"},
        {"specifier", "ExecStart=%t/socket-helper"},
        {"unitonly", "Type=oneshot"},
    };
    for (const auto& [name, body] : units) {
        TestTree::writeFile(user + name + ".service",
                            "[Unit]\nDescription=x\nExecStart=/in/the/wrong/group\n[Service]\n" + body +
                                "\n[Install]\nWantedBy=default.target\n");
    }
    link("/dev/null", user + "masked.service");
    link("../prefixed.service", user + "default.target.wants/prefixed.service");
    link(user + "deleted.service", user + "default.target.wants/svcdangling.service");
    const std::string etc = box.system + "/etc/systemd/user/";
    const std::string lib = box.system + "/usr/lib/systemd/user/";
    TestTree::writeFile(etc + "syssvc.service", "[Service]\nExecStart=/nowhere/sys\n");
    link("../syssvc.service", etc + "default.target.wants/syssvc.service");
    TestTree::writeFile(lib + "wanted@.service", "[Service]\nExecStart=/bin/sh %i\n");
    link(lib + "wanted@.service", lib + "sockets.target.wants/wanted@one.service");
    TestTree::writeFile(lib + "unwanted.service", "[Service]\nExecStart=/nowhere/never-started\n");

    const auto items = byLabel(LoginItems::all());
    const struct {
        const char* label;
        Program state;
        bool user;
        bool disabled;
        std::string program;
    } expected[] = {
        {"spaced", Program::found, true, false, spaced},
        {"gone", Program::missing, true, false, "/nowhere/at/all/prog"},
        {"envy", Program::found, true, false, prog},
        {"envmissing", Program::missing, true, false, "noprog"},
        {"hidden", Program::found, true, true, prog},
        {"gnomeoff", Program::found, true, true, prog},
        {"noexec", Program::none, true, false, ""},
        {"looped", Program::unknown, true, false, box.home / "loop/loop/prog"},
        {"escaped", Program::found, true, false, quoted},
        {"othergroup", Program::none, true, false, ""},
        {"sysgone", Program::missing, false, false, "/nowhere/sys"},
        {"dangling", Program::missing, true, false, box.home / "deleted.desktop"},
        {"prefixed", Program::found, true, false, "/bin/sh"},
        {"homed", Program::found, true, false, prog},
        {"daemon", Program::missing, true, false, "/nowhere/daemon"},
        {"svcmissing", Program::missing, true, false, "missingtool"},
        {"reset", Program::found, true, false, prog},
        {"quoted", Program::found, true, false, spaced},
        {"continued", Program::missing, true, false, "/nowhere/long"},
        {"specifier", Program::unknown, true, false, "%t/socket-helper"},
        {"unitonly", Program::none, true, false, ""},
        {"masked", Program::none, true, true, ""},
        {"svcdangling", Program::missing, true, false, user + "deleted.service"},
        {"syssvc", Program::missing, false, false, "/nowhere/sys"},
        {"wanted@", Program::found, false, false, "/bin/sh"},
    };
    // A wants link to a listed unit is not listed twice, an unwanted system unit not at all, and files
    // that are not entries (other extensions, hidden names) are skipped.
    EXPECT_EQ(items.size(), std::size(expected));
    for (const auto& e : expected) {
        ASSERT_TRUE(items.contains(e.label)) << e.label;
        const auto& i = items.at(e.label);
        EXPECT_EQ(i.programState, e.state) << e.label;
        EXPECT_EQ(i.isUserWritable, e.user) << e.label;
        EXPECT_EQ(i.disabled, e.disabled) << e.label;
        EXPECT_EQ(i.program, e.program) << e.label;
        EXPECT_EQ(i.scope(), i.path.ends_with(".desktop") ? "Autostart entry" : "User service") << e.label;
    }
    EXPECT_EQ(items.at("svcdangling").path, user + "default.target.wants/svcdangling.service");
}

TEST(LoginItems, LaunchdListsAreReadBesideAndSortedUserFirst) {
    Sandbox box;
    const auto plist = [](const std::string& key, const std::string& value) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>" + key +
               "</key>" + value + "</dict></plist>\n";
    };
    TestTree::writeFile(box.home / "tool-at-home", "x");
    TestTree::writeFile(box.home / "Library/LaunchAgents/com.example.Same.plist",
                        plist("Program", "<string>~/tool-at-home</string>"));
    TestTree::writeFile(
        box.home / "Library/LaunchAgents/com.example.args.plist",
        plist("ProgramArguments", "<array><string>/nowhere/agent</string><string>-x</string></array>"));
    TestTree::writeFile(box.home / "Library/LaunchAgents/com.example.caps.PLIST",
                        plist("Program", "<string>/x</string>"));
    TestTree::writeFile(box.system + "/Library/LaunchAgents/com.example.same.plist",
                        plist("Program", "<string>/nowhere/system</string>"));
    TestTree::writeFile(box.system + "/Library/LaunchDaemons/com.example.daemon.plist",
                        plist("Label", "<string>x</string>"));
    const auto items = LoginItems::all();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].label, "com.example.args");
    EXPECT_TRUE(items[0].isBroken());
    EXPECT_EQ(items[1].label, "com.example.daemon");
    EXPECT_EQ(items[1].scope(), "Launch daemon");
    EXPECT_EQ(items[1].programState, Program::none);
    EXPECT_EQ(items[2].label, "com.example.Same") << "equal labels keep the user's first";
    EXPECT_EQ(items[2].program, box.home / "tool-at-home");
    EXPECT_EQ(items[2].programState, Program::found);
    EXPECT_EQ(items[3].label, "com.example.same");
    EXPECT_FALSE(items[3].isUserWritable);
}

TEST(LoginItems, OnlyABrokenItemOfTheUsersOwnMovesToTheTrashAfterAFreshCheck) {
    Sandbox box;
    const std::string autostart = box.home / ".config/autostart/";
    TestTree::writeFile(autostart + "gone.desktop", "[Desktop Entry]\nExec=/nowhere/prog\n");
    TestTree::writeFile(autostart + "fixed.desktop", "[Desktop Entry]\nExec=later-installed\n");
    TestTree::writeFile(autostart + "works.desktop", "[Desktop Entry]\nExec=/bin/sh\n");
    const std::string system = box.system + "/etc/xdg/autostart/sysgone.desktop";
    TestTree::writeFile(system, "[Desktop Entry]\nExec=/nowhere/sys\n");
    const auto items = byLabel(LoginItems::all());
    ASSERT_EQ(items.size(), 4u);
    ASSERT_TRUE(items.at("fixed").isBroken());
    box.tool("later-installed", "exit 0"); // installed between the listing and the click

    const std::pair<const char*, std::string> cases[] = {{"sysgone", "belongs to the system"},
                                                         {"works", "is not broken"},
                                                         {"fixed", "is not broken"},
                                                         {"gone", ""}};
    for (const auto& [label, errorHas] : cases) {
        const auto before = TestTree::snapshot(box.home / ".config");
        const auto error = LoginItems::remove(items.at(label));
        EXPECT_EQ(error.has_value(), !errorHas.empty()) << label << ": " << error.value_or("");
        if (error) {
            EXPECT_NE(error->find(errorHas), std::string::npos) << label << ": " << *error;
            EXPECT_EQ(TestTree::snapshot(box.home / ".config"), before) << label;
            EXPECT_TRUE(TestTree::exists(items.at(label).path)) << label;
        }
    }
    const std::string trash = box.home / ".local/share/Trash";
    EXPECT_EQ(TestTree::readFile(trash + "/files/gone.desktop"), "[Desktop Entry]\nExec=/nowhere/prog\n");
    const std::string info = TestTree::readFile(trash + "/info/gone.desktop.trashinfo");
    EXPECT_NE(info.find("Path=" + Trash::Info::encode(autostart + "gone.desktop")), std::string::npos)
        << info;
    EXPECT_TRUE(TestTree::exists(system));
    EXPECT_EQ(LoginItems::remove(items.at("gone")).value_or(""), "gone is no longer there.");
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
    EXPECT_TRUE(Updater::parseHomebrew(R"({"formulae":[],"casks":[]})").value().empty());
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
        std::vector<std::string> failureHas; // per source checked, "" for none
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
        {"brew never answers", std::nullopt, "exec /bin/sleep 600", {}, {"did not answer"}},
    };
    // Homebrew's own place is found without PATH.
    {
        Sandbox box;
        const std::string brew = TestTree::writeFile(box.system + "/usr/local/bin/brew",
                                                     "#!/bin/sh\nprintf '{\"formulae\":[]}'\n");
        chmod(brew.c_str(), 0755);
        EXPECT_EQ(Updater::brewProgram(), brew);
        const auto checks = Updater::check(5s);
        ASSERT_EQ(checks.size(), 1u);
        EXPECT_EQ(checks[0].source, Updater::Source::homebrew);
        EXPECT_FALSE(checks[0].failure.has_value());
    }
    for (const auto& c : cases) {
        Sandbox box;
        if (c.flatpak) {
            box.tool("flatpak", *c.flatpak);
        }
        if (c.brew) {
            box.tool("brew", *c.brew);
        }
        EXPECT_EQ(Updater::isAvailable(), c.flatpak || c.brew) << c.name;
        const auto checks = Updater::check(500ms);
        ASSERT_EQ(checks.size(), c.failureHas.size()) << c.name;
        std::vector<Updater::Outdated> all;
        for (std::size_t i = 0; i < checks.size(); ++i) {
            all.insert(all.end(), checks[i].outdated.begin(), checks[i].outdated.end());
            const std::string failure = checks[i].failure.value_or("");
            EXPECT_EQ(checks[i].failure.has_value(), !c.failureHas[i].empty()) << c.name << ": " << failure;
            EXPECT_NE(failure.find(c.failureHas[i]), std::string::npos) << c.name << ": " << failure;
            EXPECT_TRUE(!checks[i].failure || checks[i].outdated.empty()) << c.name;
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

TEST(MaintenanceCommands, ListRunAndRecordTasks) {
    Sandbox box;
    const auto list = TestTree::run({TestTree::cliPath(), "maintenance", "--json"});
    ASSERT_EQ(list.status, 0) << list.output;
    const auto tasks = nlohmann::json::parse(list.output)["tasks"];
    ASSERT_EQ(tasks.size(), 5u);
    EXPECT_EQ(tasks[0]["id"], "lsregister");
    EXPECT_EQ(tasks[0]["runnable"], true);
    EXPECT_TRUE(tasks[0]["command"].is_null());
    EXPECT_EQ(tasks[2]["command"], "sudo resolvectl flush-caches");
    EXPECT_EQ(tasks[2]["runnable"], false);

    TestTree::writeFile(box.home / ".cache/thumbnails/normal/a.png", "a");
    const std::string thumbnails = "Maintenance \u00B7 Reset thumbnails | Thumbnail cache moved to Trash.";
    const struct {
        const char* id;
        int status;
        std::string printed;
        std::vector<std::string> events; // newest first, after this case
    } cases[] = {
        {"quicklook", 0, "Reset thumbnails: Thumbnail cache moved to Trash.", {thumbnails}},
        {"dns", 1, "needs administrator rights", {thumbnails}},
        {"lsregister",
         0,
         "Nothing to rebuild",
         {"Maintenance \u00B7 Rebuild application menu | Nothing to rebuild: you have no application entries "
          "of your own.",
          thumbnails}},
        {"nonsense", 2, "no maintenance task", {}},
    };
    for (const auto& c : cases) {
        const auto r = TestTree::run({TestTree::cliPath(), "maintenance", "--run", c.id});
        EXPECT_EQ(r.status, c.status) << c.id << ": " << r.output;
        EXPECT_NE(r.output.find(c.printed), std::string::npos) << r.output;
        if (!c.events.empty()) {
            EXPECT_EQ(eventTitles(), c.events) << c.id;
        }
    }
    EXPECT_TRUE(TestTree::exists(box.home / ".local/share/Trash/files/thumbnails/normal/a.png"));
}

TEST(MaintenanceCommands, LoginItemsListAndRemoveOnlyWithYes) {
    Sandbox box;
    const std::string autostart = box.home / ".config/autostart/";
    TestTree::writeFile(autostart + "gone.desktop", "[Desktop Entry]\nExec=/nowhere/prog\n");
    TestTree::writeFile(autostart + "works.desktop", "[Desktop Entry]\nExec=/bin/sh\nHidden=true\n");
    TestTree::writeFile(box.system + "/etc/xdg/autostart/sysgone.desktop",
                        "[Desktop Entry]\nExec=/nowhere/sys\n");
    const auto list = TestTree::run({TestTree::cliPath(), "login-items", "--json"});
    ASSERT_EQ(list.status, 0) << list.output;
    std::map<std::string, nlohmann::json> items;
    const auto listed = nlohmann::json::parse(list.output);
    for (const auto& item : listed["items"]) {
        items[item["label"]] = item;
    }
    ASSERT_EQ(items.size(), 3u) << list.output;
    const std::tuple<const char*, bool, bool, bool> expected[] = {
        {"gone", true, true, false}, {"works", false, true, true}, {"sysgone", true, false, false}};
    for (const auto& [label, broken, userOwned, disabled] : expected) {
        EXPECT_EQ(items[label]["broken"], broken) << label;
        EXPECT_EQ(items[label]["userOwned"], userOwned) << label;
        EXPECT_EQ(items[label]["disabled"], disabled) << label;
    }
    EXPECT_EQ(items["gone"]["path"], autostart + "gone.desktop");
    EXPECT_EQ(items["gone"]["program"], "/nowhere/prog");

    const auto before = TestTree::snapshot(box.home / ".config");
    const auto dry = TestTree::run({TestTree::cliPath(), "login-items", "--remove-broken"});
    EXPECT_EQ(dry.status, 0);
    EXPECT_NE(dry.output.find("would move to Trash: " + autostart + "gone.desktop"), std::string::npos)
        << dry.output;
    EXPECT_EQ(TestTree::snapshot(box.home / ".config"), before);
    EXPECT_TRUE(eventTitles().empty());

    const auto removed =
        TestTree::run({TestTree::cliPath(), "login-items", "--remove-broken", "--yes", "--json"});
    ASSERT_EQ(removed.status, 0) << removed.output;
    const auto result = nlohmann::json::parse(removed.output);
    ASSERT_EQ(result["removed"].size(), 1u);
    EXPECT_EQ(result["removed"][0]["removed"], true);
    EXPECT_TRUE(TestTree::exists(box.home / ".local/share/Trash/info/gone.desktop.trashinfo"));
    EXPECT_TRUE(TestTree::exists(autostart + "works.desktop"));
    EXPECT_TRUE(TestTree::exists(box.system + "/etc/xdg/autostart/sysgone.desktop"));
    EXPECT_EQ(eventTitles(), std::vector<std::string>{"Maintenance \u00B7 Removed broken login item | gone"});
}

} // namespace
