// Real installed applications for the uninstaller's tests: AppImages (a copy of a real ELF program with
// the AppImage mark in its header), desktop entries, and the one stand-in, a fake flatpak first on PATH
// that answers like the real tool's --columns output. Header-only; the tests' threads.
#pragma once

#include "tests/TestHome.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace AppsFixture {

// A copy of /bin/sleep marked as a type 2 AppImage (bytes 8-10 of the ELF header are padding the
// kernel ignores, so it still runs), plus `extraBytes` allocated at its end.
inline std::string makeAppImage(const std::string& path) {
    std::ifstream in("/bin/sleep", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes[8] = 'A';
    bytes[9] = 'I';
    bytes[10] = 2;
    TestTree::writeFile(path, bytes);
    chmod(path.c_str(), 0755);
    return path;
}

inline std::string desktopEntry(const TestTree::TemporaryHome& home, const std::string& fileName,
                                const std::string& name, const std::string& exec,
                                const std::string& icon = {}) {
    std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n";
    if (!icon.empty()) {
        text += "Icon=" + icon + "\n";
    }
    text += "[Desktop Action New]\nName=Other\nExec=/usr/bin/false\n";
    return TestTree::writeFile(home / (".local/share/applications/" + fileName), text);
}

// flatpak as far as the code under test can tell: `list --columns=...` and `ps --columns=...` print the
// asked columns tab-separated without a heading (as the real tool does off a terminal) from
// ~/.fake-flatpak/installed (id, name, installation per line) and ~/.fake-flatpak/running;
// `uninstall --user ID` removes a user app's deployment. Every call is appended to ~/.fake-flatpak/calls.
// moc cannot read raw string literals; it never needs to see this one.
#ifndef Q_MOC_RUN
inline constexpr const char* fakeFlatpakScript = R"(#!/bin/sh
state="$HOME/.fake-flatpak"
cmd="$1"; shift
echo "$cmd $*" >> "$state/calls"
case "$cmd" in
list)
  cols=application
  for a in "$@"; do case "$a" in --columns=*) cols="${a#--columns=}";; esac; done
  [ -f "$state/installed" ] || exit 0
  awk -F '\t' -v cols="$cols" 'BEGIN { n = split(cols, c, ",") }
    { line = ""; for (i = 1; i <= n; i++) { v = "";
        if (c[i] == "application") v = $1; else if (c[i] == "name") v = $2; else if (c[i] == "installation") v = $3;
        line = line (i > 1 ? "\t" : "") v }
      print line }' "$state/installed" ;;
ps)
  [ -f "$state/broken-ps" ] && { echo "error: cannot list instances" >&2; exit 1; }
  [ -f "$state/running" ] && cat "$state/running"; exit 0 ;;
uninstall)
  id=""; user=0
  for a in "$@"; do case "$a" in --user) user=1;; --*) ;; *) id="$a";; esac; done
  if [ "$user" != 1 ] || ! grep -q "^$id	.*	user\$" "$state/installed"; then
    echo "error: $id/*unspecified*/*unspecified* not installed" >&2; exit 1
  fi
  grep -v "^$id	" "$state/installed" > "$state/installed.new"; mv "$state/installed.new" "$state/installed"
  rm -rf "$XDG_DATA_HOME/flatpak/app/$id" ;;
*) echo "error: '$cmd' is not a flatpak command" >&2; exit 1 ;;
esac
)";
#endif

// Puts the fake flatpak first on PATH for as long as it lives.
class FakeFlatpak {
public:
    explicit FakeFlatpak(const TestTree::TemporaryHome& home) : state(home / ".fake-flatpak") {
        TestTree::makeFolder(state);
        const std::string bin = home / "fakebin";
        TestTree::writeFile(bin + "/flatpak", fakeFlatpakScript);
        chmod((bin + "/flatpak").c_str(), 0755);
        const char* path = std::getenv("PATH");
        saved = path ? path : "";
        setenv("PATH", (bin + ":" + saved).c_str(), 1);
    }
    ~FakeFlatpak() { setenv("PATH", saved.c_str(), 1); }
    FakeFlatpak(const FakeFlatpak&) = delete;
    FakeFlatpak& operator=(const FakeFlatpak&) = delete;

    // A user app with its deployed files (`bytes` allocated) and exported desktop entry.
    void install(const TestTree::TemporaryHome& home, const std::string& id, const std::string& listedName,
                 const std::string& entryName, const std::string& installation, std::int64_t bytes) {
        installed += id + "\t" + listedName + "\t" + installation + "\n";
        TestTree::writeFile(state + "/installed", installed);
        const std::string deploy = installation == "user" ? home / (".local/share/flatpak/app/" + id)
                                                          : home / ("system/var/lib/flatpak/app/" + id);
        TestTree::makeFile(deploy + "/x86_64/stable/abc/files/bin/app", bytes);
        if (!entryName.empty()) {
            TestTree::writeFile(deploy + "/current/active/export/share/applications/" + id + ".desktop",
                                "[Desktop Entry]\nType=Application\nName=" + entryName + "\nExec=app\n");
        }
    }
    void setRunning(const std::string& ids) const { TestTree::writeFile(state + "/running", ids); }
    [[nodiscard]] std::string calls() const { return TestTree::readFile(state + "/calls"); }

    std::string state;

private:
    std::string saved;
    std::string installed;
};

} // namespace AppsFixture
