// Child processes: both streams, exit status, missing programs, the time limit, and grandchildren that
// keep the pipes open after their parent exited.
#include "KestruneCore/Platform/Process.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace std::chrono_literals;

// Both streams apart (large output on both at once must not deadlock), the exit status, and a missing
// program not started.
TEST(ProcessRun, SeparatesTheStreamsAndReportsTheStatus) {
    const auto r = Process::run({"sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(std::tuple(r.started, r.timedOut, r.status, r.output, r.error),
              std::tuple(true, false, 3, "out\n", "err\n"));
    const auto big = Process::run({"sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"});
    EXPECT_EQ(std::pair(big.output.size(), big.error.size()), std::pair(300000ul, 300000ul));
    const auto missing = Process::run({"kestrune-no-such-program"});
    EXPECT_FALSE(missing.started);
    EXPECT_NE(missing.error.find("kestrune-no-such-program"), std::string::npos);
    EXPECT_EQ(Process::find("kestrune-no-such-program"), "");
    EXPECT_EQ(Process::find("sh").back(), 'h');
}

TEST(ProcessRun, TheTimeLimitKillsAndAGrandchildDoesNotHoldUsUp) {
    const auto slow = Process::run({"sleep", "30"}, 300ms);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_EQ(slow.status, 128 + 9);
    // The shell exits at once; its background sleep keeps our pipes open for 30 s, past the limit.
    const auto r = Process::run({"sh", "-c", "sleep 30 & echo started"}, 20s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "started\n");
}

} // namespace
