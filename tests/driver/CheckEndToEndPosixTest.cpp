// Runs the real console check the way an operator does, with its standard
// input and output on pipes, each in a /dev/shm of its own.

#include "common/RecordName"
#include "support/CheckRunFixture.h"
#include "support/ChildProcess.h"
#include "support/DevShm.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <systemd/sd-journal.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using okr::testing::ChildProcess;
using okr::testing::expectedInfoName;
using okr::testing::shmExists;
using okr::testing::shmSize;

const std::string check = OKR_CHECK_PROGRAM;

class CheckRun : public okr::testing::CheckRunFixture {};

TEST_F(CheckRun, CompleteRunPrintsEveryLineInOrderAndRemovesBothObjects)
{
    // Another process's object is listed; one that only starts with "okr" is not.
    const std::string peers = "okr-peer-" + std::to_string(getpid());
    const std::string near = "okrx" + std::to_string(getpid());
    okr::testing::BlockCleanup peersCleanup(peers);
    okr::testing::BlockCleanup nearCleanup(near);
    okr::testing::writeBlock(peers, {});
    okr::testing::writeBlock(near, {});
    ChildProcess run(check);
    std::vector<std::string> lines;
    ASSERT_TRUE(upToPrompt(run, lines));

    ASSERT_GE(lines.size(), 10u) << ::testing::PrintToString(lines);
    EXPECT_EQ("Simulate a boot time event", lines[0]);
    EXPECT_EQ("Register event source EventLog", lines[1]);
    EXPECT_EQ("Report event 6005", lines[2]);
    EXPECT_EQ("Creating info file " + infoName, lines[3]);
    EXPECT_EQ("Creating sync file okr-sync", lines[4]);
    EXPECT_EQ("Shared memory folder is: /dev/shm", lines[5]);
    EXPECT_EQ("List shared memory files", lines[6]);
    const std::vector<std::string> listed(lines.begin() + 7, lines.end() - 1);
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "okr-sync"));
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), infoName));
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), peers));
    EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), near));

    // While the check waits, both records are there for anyone to open.
    EXPECT_EQ(16, shmSize("okr-sync"));
    EXPECT_EQ(135880, shmSize(infoName));
    const auto peer = okr::testing::runCommand(std::string(OKR_POSIX_PEER) + " okr-sync");
    EXPECT_EQ("16 zero\n", peer.output);
    const auto infoPeer = okr::testing::runCommand(std::string(OKR_POSIX_PEER) + " " + infoName);
    EXPECT_EQ("135880 zero\n", infoPeer.output);

    run.write("\n");
    EXPECT_EQ("", run.readRest());
    EXPECT_EQ(0, run.wait());
    expectBothRemoved();
}

TEST_F(CheckRun, BootRecordReachesTheJournalWithEveryField)
{
    ChildProcess run(check);
    ASSERT_TRUE(upToPrompt(run));
    run.closeInput();
    ASSERT_EQ(0, run.wait());

    sd_journal* journal = nullptr;
    ASSERT_EQ(0, sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY));
    const std::string pidMatch = "_PID=" + std::to_string(run.pid());
    sd_journal_add_match(journal, "SYSLOG_IDENTIFIER=EventLog", 0);
    sd_journal_add_match(journal, pidMatch.c_str(), 0);
    sd_journal_seek_tail(journal);
    ASSERT_GT(sd_journal_previous(journal), 0) << "no journal record from this run: is systemd-journald running?";

    auto field = [&](const char* name) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (sd_journal_get_data(journal, name, &data, &length) < 0) {
            return std::string("<missing>");
        }
        return std::string(static_cast<const char*>(data), length);
    };
    EXPECT_EQ("SYSLOG_IDENTIFIER=EventLog", field("SYSLOG_IDENTIFIER"));
    EXPECT_EQ("PRIORITY=6", field("PRIORITY"));
    EXPECT_EQ("MESSAGE=simple boost shared memory fix for 6005", field("MESSAGE"));
    EXPECT_EQ("EVENT_ID=6005", field("EVENT_ID"));
    EXPECT_EQ("EVENT_CATEGORY=0", field("EVENT_CATEGORY"));
    EXPECT_EQ("<missing>", field("CODE_FILE")) << "no field beyond the record's own";
    sd_journal_close(journal);
}

TEST_F(CheckRun, EndOfInputEndsTheWait)
{
    ChildProcess run(check);
    run.closeInput();
    ASSERT_TRUE(upToPrompt(run));
    EXPECT_EQ(0, run.wait());
    expectBothRemoved();
}

TEST_F(CheckRun, ReadsOnlyTheFirstByteOfInput)
{
    ChildProcess run(check);
    run.write("ab\n");
    ASSERT_TRUE(upToPrompt(run));
    EXPECT_EQ(0, run.wait());
    EXPECT_EQ("b\n", run.unreadInput());
}

TEST_F(CheckRun, SyncCreationFailureStopsWithErrorAndKeepsTheInfoRecord)
{
    ASSERT_EQ(0, mkdir("/dev/shm/okr-sync", 0700));
    ChildProcess run(check);
    infoName = expectedInfoName(run.pid(), getuid());
    const std::string rest = run.readRest();
    const int status = run.wait();
    rmdir("/dev/shm/okr-sync");

    EXPECT_EQ(1, status);
    const std::string tail =
        "Creating info file " + infoName + "\nCreating sync file okr-sync\nError: Cannot open shared memory\n";
    ASSERT_GE(rest.size(), tail.size()) << rest;
    EXPECT_EQ(tail, rest.substr(rest.size() - tail.size()));
    EXPECT_EQ(std::string::npos, rest.find("Press ENTER")) << "no prompt after a failure";
    EXPECT_EQ(135880, shmSize(infoName)) << "a failed run does not remove what it created";
}

TEST_F(CheckRun, InfoCreationFailureStopsBeforeTheSyncRecord)
{
    if (!ChildProcess::canIsolate()) {
        GTEST_SKIP() << "private mounts need root";
    }
    ChildProcess::Options options;
    options.isolateSharedMemory = true;
    options.readOnlySharedMemory = true;
    ChildProcess run(check, options);
    infoName = expectedInfoName(run.pid(), getuid());
    const std::string rest = run.readRest();

    EXPECT_EQ(1, run.wait());
    const std::string tail = "Creating info file " + infoName + "\nError: Cannot open shared memory\n";
    ASSERT_GE(rest.size(), tail.size()) << rest;
    EXPECT_EQ(tail, rest.substr(rest.size() - tail.size()));
    EXPECT_EQ(std::string::npos, rest.find("Creating sync file"));
}

TEST_F(CheckRun, UnreachableJournalIsReportedAndTheRunGoesOn)
{
    if (!ChildProcess::canIsolate()) {
        GTEST_SKIP() << "private mounts need root";
    }
    ChildProcess::Options options;
    options.hideJournal = true;
    ChildProcess run(check, options);
    std::vector<std::string> lines;
    ASSERT_TRUE(upToPrompt(run, lines));
    run.write("\n");

    EXPECT_EQ(0, run.wait());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("Simulate a boot time event", lines[0]);
    EXPECT_EQ("Register event source error: 2", lines[1]) << "ENOENT: no journal socket";
    EXPECT_EQ("Creating info file " + infoName, lines[2]);
    EXPECT_FALSE(shmExists("okr-sync"));
}

TEST_F(CheckRun, UserWithoutLoginNameGetsNameFromProcessIdAlone)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing user needs root";
    }
    constexpr int nobodyKnows = 54321; // no passwd entry
    ASSERT_EQ(nullptr, getpwuid(nobodyKnows));
    ChildProcess::Options options;
    options.runAsUser = nobodyKnows;
    ChildProcess run(check, options);
    std::vector<std::string> lines;
    ASSERT_TRUE(upToPrompt(run, lines));
    run.write("\n");
    EXPECT_EQ(0, run.wait());

    infoName = okr::common::infoRecordName(static_cast<std::int32_t>(run.pid()), "", "okr-info-");
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "Creating info file " + infoName));
    EXPECT_FALSE(shmExists(infoName));
}

TEST_F(CheckRun, BrokenOutputDoesNotKeepTheRunFromCleaningUp)
{
    ChildProcess::Options options;
    options.brokenOutput = true;
    ChildProcess run(check, options);
    infoName = expectedInfoName(run.pid(), getuid());
    run.write("\n");

    EXPECT_EQ(0, run.wait()) << "a closed output must not kill the run";
    expectBothRemoved();
}

class CheckInterrupted : public CheckRun, public ::testing::WithParamInterface<int> {};

TEST_P(CheckInterrupted, DuringTheWaitRemovesBothObjectsAndEndsBySignal)
{
    ChildProcess run(check);
    ASSERT_TRUE(upToPrompt(run));
    ASSERT_TRUE(shmExists("okr-sync"));
    ASSERT_TRUE(shmExists(infoName));

    kill(run.pid(), GetParam());

    EXPECT_EQ(-GetParam(), run.wait());
    EXPECT_EQ("", run.readRest()) << "no extra line";
    expectBothRemoved();
}

TEST_P(CheckInterrupted, AlreadyPendingWhenInputIsWaitingStillEndsBySignal)
{
    // Sent while the run was busy, with Enter already typed: the wait finds
    // both at once, and the interrupt must not be lost to the input.
    ChildProcess::Options options;
    options.pendingSignal = GetParam();
    ChildProcess run(check, options);
    run.write("\n");
    ASSERT_TRUE(upToPrompt(run));

    EXPECT_EQ(-GetParam(), run.wait());
    expectBothRemoved();
}

TEST_P(CheckInterrupted, ArrivingWhileEnterOrEndOfInputIsReadStillEndsBySignal)
{
    // strace sends it as the check enters the read of its input (its only
    // one), after the wait that would have taken it.
    const std::string traced = "exec " OKR_UNDER_STRACE "-P \"$(readlink /proc/self/fd/0)\" -e trace=read -e "
                               "inject=read:signal=" +
                               std::to_string(GetParam()) + ":when=1 \"$0\"";
    for (const bool enter : {true, false}) {
        ChildProcess run("/bin/sh", {"-c", traced, check}, ChildProcess::Options());
        std::vector<std::string> lines;
        ASSERT_TRUE(upToPrompt(run, lines));
        ASSERT_LE(4u, lines.size());
        infoName = lines[3].substr(std::string("Creating info file ").size());
        ASSERT_TRUE(shmExists(infoName));

        enter ? run.write("\n") : run.closeInput();

        EXPECT_EQ(-GetParam(), run.wait()) << (enter ? "Enter" : "end of input");
        expectBothRemoved();
    }
}

TEST_P(CheckInterrupted, BlockedByItsParentStillEndsTheWait)
{
    // A parent that left the signal blocked (a shell's child during a trap,
    // a service manager): the wait must unblock it.
    ChildProcess::Options options;
    options.blockedSignal = GetParam();
    ChildProcess run(check, options);
    ASSERT_TRUE(upToPrompt(run));

    kill(run.pid(), GetParam());

    EXPECT_EQ(-GetParam(), run.wait());
    expectBothRemoved();
}

TEST_F(CheckRun, ClosedTerminalEndsTheWaitByHangUp)
{
    // The kernel signals the hang-up and makes the input readable together.
    ChildProcess::Options options;
    options.terminalInput = true;
    ChildProcess run(check, options);
    ASSERT_TRUE(upToPrompt(run));
    ASSERT_TRUE(shmExists(infoName));

    run.closeInput();

    EXPECT_EQ(-SIGHUP, run.wait());
    expectBothRemoved();
}

TEST_F(CheckRun, HangUpThatComesAfterTheTerminalClosedStillEndsTheRun)
{
    // A shell's job reads its terminal closed before the shell passes the
    // hang-up on; without one the run ends as its input did.
    for (const bool hangUp : {true, false}) {
        ChildProcess::Options options;
        options.terminalInput = true;
        options.terminalOfNoSession = true;
        ChildProcess run(check, options);
        ASSERT_TRUE(upToPrompt(run));

        run.closeInput();
        if (hangUp) {
            usleep(100 * 1000);
            kill(run.pid(), SIGHUP);
        }

        EXPECT_EQ(hangUp ? -SIGHUP : 0, run.wait()) << hangUp;
        expectBothRemoved();
    }
}

TEST_F(CheckRun, IgnoredHangUpStaysIgnored)
{
    // As under nohup: the run outlives a hang-up and its terminal's close,
    // and ends as its input does.
    ChildProcess::Options options;
    options.ignoreHangUp = true;
    options.terminalInput = true;
    ChildProcess run(check, options);
    ASSERT_TRUE(upToPrompt(run));

    kill(run.pid(), SIGHUP);
    run.closeInput();

    EXPECT_EQ(0, run.wait());
    expectBothRemoved();
}

INSTANTIATE_TEST_SUITE_P(Signals, CheckInterrupted, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return std::string(sigabbrev_np(param.param));
                         });

} // namespace
