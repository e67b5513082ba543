// The reference walk: the least a program can do to add up a tree's allocated bytes on Linux. Threads
// pop folders off one shared stack, read each with getdents64 and ask statx(dirfd, name) for every
// entry, then push the sub-folders. With --uring the statx calls of a listing go through an io_uring
// in batches instead, so the two ways can be compared on the same walk.
// Usage: plain-walk [--threads N] [--uring] DIR   prints the bytes (hard links counted each time).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <liburing.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned batch = 256;
constexpr int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
constexpr unsigned mask = STATX_TYPE | STATX_BLOCKS;

std::mutex mutex;
std::condition_variable cond;
std::vector<std::string> stack;
int busy = 0;
std::atomic<std::int64_t> total{0};
bool useRing = false;

void work() {
    static thread_local char dents[262144];
    static thread_local struct statx results[batch];
    static thread_local int status[batch];
    const char* names[batch];
    io_uring ring{};
    const bool ringReady = useRing && io_uring_queue_init(batch, &ring, 0) == 0;
    std::vector<std::string> found;
    std::int64_t bytes = 0;
    std::unique_lock lock(mutex);
    while (true) {
        cond.wait(lock, [] { return !stack.empty() || busy == 0; });
        if (stack.empty()) {
            break;
        }
        const std::string path = std::move(stack.back());
        stack.pop_back();
        ++busy;
        lock.unlock();
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const auto run = [&](unsigned count) {
            if (ringReady) {
                for (unsigned i = 0; i < count; ++i) {
                    io_uring_sqe* sqe = io_uring_get_sqe(&ring);
                    io_uring_prep_statx(sqe, fd, names[i], flags, mask, &results[i]);
                    io_uring_sqe_set_data64(sqe, i);
                }
                io_uring_submit_and_wait(&ring, count);
                io_uring_cqe* cqe = nullptr;
                unsigned head = 0;
                unsigned seen = 0;
                io_uring_for_each_cqe(&ring, head, cqe) {
                    status[io_uring_cqe_get_data64(cqe)] = cqe->res;
                    ++seen;
                }
                io_uring_cq_advance(&ring, seen);
            } else {
                for (unsigned i = 0; i < count; ++i) {
                    status[i] = statx(fd, names[i], flags, mask, &results[i]);
                }
            }
            for (unsigned i = 0; i < count; ++i) {
                if (status[i] != 0) {
                    continue;
                }
                if (S_ISDIR(results[i].stx_mode)) {
                    found.push_back(path + '/' + names[i]);
                } else if (!S_ISLNK(results[i].stx_mode)) {
                    bytes += static_cast<std::int64_t>(results[i].stx_blocks) * 512;
                }
            }
        };
        long n = 0;
        while (fd >= 0 && (n = syscall(SYS_getdents64, fd, dents, sizeof dents)) > 0) {
            unsigned count = 0;
            for (long at = 0; at < n;) {
                const char* name = dents + at + 19; // d_name after d_ino, d_off, d_reclen and d_type
                at += *reinterpret_cast<const unsigned short*>(dents + at + 16);
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                    continue;
                }
                names[count++] = name;
                if (count == batch) {
                    run(count);
                    count = 0;
                }
            }
            run(count);
        }
        if (fd >= 0) {
            close(fd);
        }
        lock.lock();
        --busy;
        for (auto& folder : found) {
            stack.push_back(std::move(folder));
        }
        found.clear();
        cond.notify_all();
    }
    total += bytes;
    if (ringReady) {
        io_uring_queue_exit(&ring);
    }
}

} // namespace

int main(int argc, char** argv) {
    int threads = 2;
    const char* root = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--uring") == 0) {
            useRing = true;
        } else {
            root = argv[i];
        }
    }
    if (root == nullptr) {
        std::fputs("usage: plain-walk [--threads N] [--uring] DIR\n", stderr);
        return 2;
    }
    stack.emplace_back(root);
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back(work);
    }
    for (auto& thread : pool) {
        thread.join();
    }
    std::printf("%lld\n", static_cast<long long>(total.load()));
    return 0;
}
