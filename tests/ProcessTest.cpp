// Child processes: both streams, exit status, missing programs, the time limit, and grandchildren that
// keep the pipes open after their parent exited.
#include "KestruneCore/Platform/Process.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(ProcessRun, SeparatesTheStreamsAndReportsTheStatus) {
    const auto r = Process::run({"sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_TRUE(r.started && !r.timedOut);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "out\n");
    EXPECT_EQ(r.error, "err\n");
    // Large output on both streams at once must not deadlock.
    const auto big = Process::run({"sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"});
    EXPECT_EQ(big.output.size(), 300000u);
    EXPECT_EQ(big.error.size(), 300000u);
}

TEST(ProcessRun, AMissingProgramIsNotStarted) {
    const auto r = Process::run({"kestrune-no-such-program"});
    EXPECT_FALSE(r.started);
    EXPECT_NE(r.error.find("kestrune-no-such-program"), std::string::npos);
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
