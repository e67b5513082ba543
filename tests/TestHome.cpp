// Implementation of the shared test helper on plain POSIX calls, independent of the code under test.
#include "tests/TestHome.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <grp.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace TestTree {
namespace fs = std::filesystem;

namespace {

void makeParents(const std::string& path) {
    const auto parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent);
    }
}

void makeWritable(const std::string& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            chmod(it->path().c_str(), 0755);
        }
    }
}

std::int64_t treeSum = 0;

int addFile(const char*, const struct stat* sb, int type, struct FTW*) {
    if (type == FTW_F && S_ISREG(sb->st_mode)) {
        treeSum += static_cast<std::int64_t>(sb->st_blocks) * 512;
    }
    return 0;
}

} // namespace

TemporaryHome::TemporaryHome() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/kestrune-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = fs::canonical(pattern).string();
    // Unprivileged child processes must be able to reach the tree.
    chmod(root.c_str(), 0755);
    const auto save = [this](const std::string& name) {
        const char* old = std::getenv(name.c_str());
        savedEnvironment[name] = old ? std::optional<std::string>(old) : std::nullopt;
    };
    for (const char* name : {"KESTRUNE_SYSTEM_ROOT", "PATH", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        save(name);
    }
    // Tools' own cache settings on the machine running the tests would point scanners outside the home.
    for (const char* name : {"CARGO_HOME", "GOMODCACHE", "GOPATH", "GOCACHE"}) {
        save(name);
        unsetenv(name);
    }
    const std::map<std::string, std::string> vars{{"HOME", root},
                                                  {"XDG_DATA_HOME", root + "/.local/share"},
                                                  {"XDG_CONFIG_HOME", root + "/.config"},
                                                  {"XDG_CACHE_HOME", root + "/.cache"},
                                                  {"XDG_STATE_HOME", root + "/.local/state"}};
    for (const auto& [name, value] : vars) {
        save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
}

TemporaryHome::~TemporaryHome() {
    for (const auto& [name, value] : savedEnvironment) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    makeWritable(root);
    std::error_code ec;
    fs::remove_all(root, ec);
}

std::string TemporaryHome::operator/(const std::string& relative) const {
    return root + "/" + relative;
}

std::string makeFile(const std::string& path, std::int64_t allocatedBytes) {
    makeParents(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
    // ext4 counts the extent-tree block of a file split over many free areas (a busy disk) in its
    // allocation, one block more than asked for, and the next try may come out whole again. So aim at
    // the asked allocation itself, trying again with less or more data, so that files probing a floor
    // stay on their side of it; when every try misses, the last one stays.
    const std::int64_t target = [&] {
        struct stat st {};
        const std::int64_t block = fstat(fd, &st) == 0 && st.st_blksize > 0 ? st.st_blksize : 4096;
        return (allocatedBytes + block - 1) / block * block;
    }();
    std::int64_t asked = allocatedBytes;
    for (int attempt = 0; allocatedBytes > 0 && attempt < 6; ++attempt) {
        if (attempt > 0 && ftruncate(fd, 0) != 0) {
            break;
        }
        const int rc = posix_fallocate(fd, 0, asked);
        struct stat st {};
        if (rc != 0 || fstat(fd, &st) != 0) {
            close(fd);
            throw std::runtime_error("fallocate failed for " + path + ": " + std::strerror(rc));
        }
        const std::int64_t miss = static_cast<std::int64_t>(st.st_blocks) * 512 - target;
        if (miss == 0 || asked - miss <= 0) {
            break;
        }
        asked -= miss;
    }
    close(fd);
    return path;
}

std::string writeFile(const std::string& path, const std::string& contents) {
    makeParents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

std::string makeFolder(const std::string& path) {
    fs::create_directories(path);
    return path;
}

void setModified(const std::string& path, std::chrono::system_clock::time_point when) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns % 1'000'000'000);
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::pair<std::string, std::string> fileAndItem(const std::string& path) {
    const auto bar = path.find('|');
    return {bar == std::string::npos ? path : path.substr(0, bar) + path.substr(bar + 1),
            path.substr(0, bar)};
}

std::chrono::system_clock::time_point daysAgo(int days) {
    return std::chrono::system_clock::now() - std::chrono::hours(24) * days;
}

std::string build(const std::string& root, const std::vector<Entry>& entries) {
    for (const auto& e : entries) {
        const std::string path = root + "/" + e.path;
        if (!e.link.empty()) {
            makeParents(path);
            fs::create_symlink(e.link, path);
        } else if (e.path.ends_with('/')) {
            makeFolder(path);
        } else if (const auto* text = std::get_if<std::string>(&e.contents)) {
            writeFile(path, *text);
        } else {
            makeFile(path, std::get<std::int64_t>(e.contents));
        }
        if (e.days >= 0) {
            setModified(path, daysAgo(e.days));
        }
    }
    return root;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string xmlPlist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
           "1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n" +
           entries + "</dict>\n</plist>\n";
}

std::string installApp(const std::string& folder, const std::string& name, const std::string& identifier) {
    return writeFile(folder + "/" + name + ".app/Contents/Info.plist",
                     xmlPlist("\t<key>CFBundleName</key>\n\t<string>" + name + "</string>\n" +
                              (identifier.empty() ? std::string()
                                                  : "\t<key>CFBundleIdentifier</key>\n\t<string>" +
                                                        identifier + "</string>\n")));
}

std::int64_t allocated(const std::string& path) {
    struct stat sb {};
    if (lstat(path.c_str(), &sb) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(sb.st_blocks) * 512;
}

std::int64_t allocatedTree(const std::string& path) {
    treeSum = 0;
    nftw(path.c_str(), addFile, 64, FTW_PHYS);
    return treeSum;
}

std::map<std::string, std::string> snapshot(const std::string& path) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        // The iterator's path begins with `path`; fs::relative would resolve links and file a link
        // under its target's name.
        std::string relative = it->path().string().substr(path.size());
        relative.erase(0, relative.find_first_not_of('/'));
        if (it->is_symlink(ec)) {
            out[relative] = "link:" + fs::read_symlink(it->path(), ec).string();
        } else if (it->is_regular_file(ec)) {
            const std::string data = readFile(it->path().string());
            out[relative] =
                std::to_string(data.size()) + ":" + std::to_string(std::hash<std::string>{}(data));
        } else if (it->is_directory(ec)) {
            out[relative] = "folder";
        }
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat sb {};
    return lstat(path.c_str(), &sb) == 0;
}

std::set<std::string> urls(const std::vector<CleanupItem>& items) {
    std::set<std::string> out;
    for (const auto& item : items) {
        out.insert(item.url);
    }
    return out;
}

std::int64_t block(const TemporaryHome& home) {
    makeFile(home / "probe", 1);
    return allocated(home / "probe");
}

void giveToUnprivileged(const std::string& path) {
    if (geteuid() != 0) {
        return;
    }
    lchown(path.c_str(), 65534, 65534);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        lchown(it->path().c_str(), 65534, 65534);
    }
}

RunningProgram::RunningProgram(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    fs::create_directories(folder);
    fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
    child = start({path, "600"});
    // fork() comes before exec(): wait until the child really is the named program.
    const std::string exeLink = "/proc/" + std::to_string(child.pid) + "/exe";
    for (int i = 0; i < 2000 && !started && child.pid > 0; ++i) {
        std::error_code ec;
        started = fs::read_symlink(exeLink, ec) == path;
        if (!started) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

RunningProgram::~RunningProgram() {
    finish(child, SIGKILL);
}

std::string cliPath() {
    return KESTRUNE_CLI_PATH;
}

namespace {

// Forks and executes argv with standard output and error on one pipe; the environment gets `environment`
// on top, and `unprivileged` makes the child "nobody" when the tests run as root.
Spawned spawn(const std::vector<std::string>& argv, Privilege privilege,
              const std::map<std::string, std::string>& environment) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!environment.contains(entry.substr(0, entry.find('=')))) {
            envStrings.push_back(entry);
        }
    }
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const bool drop = privilege == Privilege::unprivileged && geteuid() == 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        if (drop && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                     setresuid(65534, 65534, 65534) != 0)) {
            _exit(126);
        }
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return {pid, pipeFds[0], {}};
}

// Appends what the child printed next to `received`; false at the end of its output.
bool readMore(Spawned& child) {
    char buffer[65536];
    ssize_t n = 0;
    while ((n = read(child.output, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    child.received.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    return n > 0;
}

} // namespace

Spawned start(const std::vector<std::string>& argv) {
    return spawn(argv, Privilege::inherited, {});
}

bool awaitOutput(Spawned& child, const std::string& text) {
    while (child.received.find(text) == std::string::npos) {
        if (!readMore(child)) {
            return false;
        }
    }
    return true;
}

ProcessResult finish(Spawned& child, int signal) {
    ProcessResult result;
    if (child.pid <= 0) {
        return result;
    }
    if (signal != 0) {
        kill(child.pid, signal);
    }
    while (readMore(child)) {
    }
    result.output = std::move(child.received);
    close(child.output);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    child = {};
    return result;
}

ProcessResult run(const std::vector<std::string>& argv, Privilege privilege,
                  const std::map<std::string, std::string>& environment) {
    Spawned child = spawn(argv, privilege, environment);
    return finish(child, 0);
}

} // namespace TestTree
