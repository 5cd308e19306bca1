// The operator's tool, run as an operator runs it, beside real runs of the
// console check, each test in a world of its own (PrivateWorld).

#include "support/ChildProcess.h"
#include "support/DevShm.h"
#include "support/PrivateWorld.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace okr::testing;
using nlohmann::json;

const std::string tool = OKR_TOOL_PROGRAM;
const std::string check = OKR_CHECK_PROGRAM;
const std::string recordPeer = OKR_RECORD_PEER;
const std::string threadPeer = OKR_THREAD_PEER;
constexpr int strangerUid = 54321; // no passwd entry, no rights to root's processes

struct ToolRun {
    int status;
    std::string output;
    std::string errors;
};

class ShmTool : public PrivateWorld {
protected:
    // okr-shm as an operator runs it: in the test's pid namespace, where it
    // sees every process. program may be a wrapper that runs the tool.
    std::unique_ptr<ChildProcess> startTool(const std::vector<std::string>& arguments, int asUser = -1,
                                            int outputPipeBytes = 0, const std::string& program = tool)
    {
        ChildProcess::Options options;
        options.separateErrors = true;
        options.runAsUser = asUser;
        options.outputPipeBytes = outputPipeBytes;
        std::unique_ptr<ChildProcess> run;
        startOutside([&] { run = std::make_unique<ChildProcess>(program, arguments, options); });
        run->closeInput();
        return run;
    }

    static ToolRun finish(ChildProcess& run)
    {
        ToolRun result;
        result.output = run.readRest();
        result.errors = run.readErrors();
        result.status = run.wait();
        return result;
    }

    ToolRun runTool(const std::vector<std::string>& arguments, int asUser = -1)
    {
        return finish(*startTool(arguments, asUser));
    }

    // The JSON element for name in `okr-shm list --json`, or null.
    json listed(const std::string& name)
    {
        const ToolRun list = runTool({"list", "--json"});
        EXPECT_EQ(0, list.status) << list.errors;
        for (const json& object : json::parse(list.output)) {
            if (object["name"] == name) {
                return object;
            }
        }
        return json();
    }

    // Runs the check up to its prompt and learns its information record; a
    // failure, quoting the check, when no prompt comes.
    static ::testing::AssertionResult startCheck(ChildProcess& run, std::string& info)
    {
        std::vector<std::string> lines;
        ::testing::AssertionResult prompt = run.readUpTo("Press ENTER to finish test", lines);
        for (const std::string& line : lines) {
            if (line.rfind("Creating info file ", 0) == 0) {
                info = line.substr(19);
            }
        }
        return prompt;
    }

    // A check killed at its prompt, and its information record's name.
    ::testing::AssertionResult killedCheck(std::string& info)
    {
        ChildProcess killed(check);
        ::testing::AssertionResult prompt = startCheck(killed, info);
        kill(killed.pid(), SIGKILL);
        killed.wait();
        return prompt;
    }

    // `okr-shm clean` stopped after its inventory, before it reaches any
    // object that sorts after the fillers (by default before all): its
    // output goes into a pipe of one page that nobody reads, and filler
    // objects fill it (and, when many, its own buffer).
    std::unique_ptr<ChildProcess> stalledClean(const std::string& fillers = "okr-a", int count = 200)
    {
        for (int i = 0; i < count; ++i) {
            const std::string filler = std::to_string(1000 + i);
            writeBlock(fillers + filler, {});
        }
        constexpr int pipeBytes = 4096;
        std::unique_ptr<ChildProcess> clean = startTool({"clean"}, -1, pipeBytes);
        constexpr std::size_t longestLine = 64;
        for (int waited = 0; clean->unreadOutputBytes() < pipeBytes - longestLine && !clean->ended() && waited < 30000;
             waited += 10) {
            usleep(10000);
        }
        EXPECT_LE(pipeBytes - longestLine, clean->unreadOutputBytes())
            << "clean did not stall" << (clean->ended() ? ": it ended" : "");
        return clean;
    }

    // The start of a command that runs the rest as the stranger; of a shell
    // command that becomes it.
    static std::string stranger()
    {
        const std::string id = std::to_string(strangerUid);
        return "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups ";
    }
    static std::string asStranger() { return "exec " + stranger(); }

    // Records nobody owns (ids past any pid_max), in name order.
    static std::vector<std::string> orphans(std::int32_t count)
    {
        std::vector<std::string> names;
        for (std::int32_t id = 0; id < count; ++id) {
            names.push_back(okr::common::infoRecordName(2000000000 + id, "", "okr-info-"));
            writeBlock(names.back(), std::vector<unsigned char>(16));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // `okr-shm clean` of thousands of orphans stopped (SIGSTOP) as soon as
    // it holds the lock of the one it removes last, which is still named.
    std::unique_ptr<ChildProcess> cleanStoppedWithItsLocks(std::vector<std::string>& names)
    {
        names = orphans(3000);
        const std::string lock = "FLOCK  ADVISORY  WRITE ";
        const std::string last = ":" + std::to_string(inodeOf(names.back())) + " ";
        std::unique_ptr<ChildProcess> clean = startTool({"clean"});
        const std::string holder = lock + std::to_string(clean->pid()) + " ";
        bool locked = false;
        for (int polls = 0; !locked && !clean->ended() && polls < 100000; ++polls) {
            std::ifstream locks("/proc/locks");
            for (std::string line; !locked && std::getline(locks, line);) {
                locked = line.find(holder) != std::string::npos && line.find(last) != std::string::npos;
            }
        }
        kill(clean->pid(), SIGSTOP);
        EXPECT_TRUE(locked) << "clean ended before it could be stopped";
        EXPECT_TRUE(shmExists(names.back())) << "clean was stopped too late";
        return clean;
    }

    // A lock on path that no process holds: its open file description
    // travels, never received, in a socket, so no process's descriptors or
    // mappings show it. Until the test ends.
    struct LockInFlight {
        int sockets[2] = {-1, -1};
        ~LockInFlight()
        {
            close(sockets[0]);
            close(sockets[1]);
        }
    };
    static std::unique_ptr<LockInFlight> lockInFlight(const std::string& path, bool nameLock)
    {
        auto flight = std::make_unique<LockInFlight>();
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        struct flock name = {};
        name.l_type = F_WRLCK;
        name.l_start = 2; // as okr(3) documents it
        name.l_len = 1;
        EXPECT_EQ(0, nameLock ? fcntl(fd, F_OFD_SETLK, &name) : flock(fd, LOCK_SH)) << path;
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, flight->sockets));
        char byte = 0;
        iovec data{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message = {};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
        EXPECT_EQ(1, sendmsg(flight->sockets[0], &message, 0));
        close(fd);
        return flight;
    }

    // A library user as util-linux's flock(1) simulates one: the user lock
    // taken on a descriptor that the process keeps, until the test ends.
    static std::unique_ptr<ChildProcess> sharedLockHolder(const std::string& name)
    {
        return holding("/dev/shm/" + name, "<", "flock -s 3 && ");
    }

    // The names in /dev/shm that start with prefix, of any length or the one given.
    static std::vector<std::string> namesStarting(const std::string& prefix, std::size_t length = 0)
    {
        std::vector<std::string> names;
        DIR* folder = opendir("/dev/shm");
        while (const dirent* entry = folder != nullptr ? readdir(folder) : nullptr) {
            const std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0 && (length == 0 || name.size() == length)) {
                names.push_back(name);
            }
        }
        if (folder != nullptr) {
            closedir(folder);
        }
        return names;
    }
    // Set aside as earlier versions of clean did; where SharedRecord builds a new block.
    static std::vector<std::string> setAsideNames() { return namesStarting(".okr-shm-"); }
    static std::vector<std::string> unpublishedNames() { return namesStarting(".okr-new-", 9 + 24); }

    // The tool (or another program) under strace, whose arguments come first.
    std::unique_ptr<ChildProcess> startTraced(std::vector<std::string> arguments)
    {
        // LeakSanitizer cannot run under ptrace: off for the sanitized build.
        arguments.insert(arguments.begin(), {"-f", "-qq", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0"});
        return startTool(arguments, -1, 0, "/usr/bin/strace");
    }

    // Whether the program strace runs enters system call number within ten
    // seconds (strace holds it there when asked to).
    static bool tracedEnters(ChildProcess& strace, long number)
    {
        const std::string syscall =
            "cat /proc/$(cat /proc/" + std::to_string(strace.pid()) + "/task/*/children | tr -d ' ')/syscall";
        const std::string entered = std::to_string(number) + " ";
        for (int waited = 0; runCommand(syscall).output.rfind(entered, 0) != 0; waited += 10) {
            if (waited >= 10000) {
                return false;
            }
            usleep(10000);
        }
        return true;
    }

    // When the file last changed, its name included: a rename sets it.
    static struct timespec changedAt(const std::string& name)
    {
        struct stat facts = {};
        EXPECT_EQ(0, lstat(("/dev/shm/" + name).c_str(), &facts)) << name;
        return facts.st_ctim;
    }

    static ino_t inodeOf(const std::string& name)
    {
        struct stat facts;
        return lstat(("/dev/shm/" + name).c_str(), &facts) == 0 ? facts.st_ino : 0;
    }

    // A process that holds path open (as the shell's redirection says) without
    // mapping it, having run first, until the test ends.
    static std::unique_ptr<ChildProcess> holding(const std::string& path, const std::string& redirection = "<>",
                                                 const std::string& first = "")
    {
        const std::string script =
            "exec 3" + redirection + "'" + path + "' && " + first + "echo held && exec sleep 1000";
        auto holder =
            std::make_unique<ChildProcess>("/bin/sh", std::vector<std::string>{"-c", script}, ChildProcess::Options());
        std::string line;
        EXPECT_TRUE(holder->readLine(line) && line == "held") << path;
        return holder;
    }
};

TEST_F(ShmTool, ListShowsAWaitingChecksObjectsInUseByIt)
{
    ChildProcess run(check);
    std::string info;
    ASSERT_TRUE(startCheck(run, info));
    const json pid = idInWorld(run.pid());

    for (const std::string& name : {info, std::string("okr-sync")}) {
        const json row = listed(name);
        ASSERT_FALSE(row.is_null()) << name << " not listed";
        EXPECT_EQ(name == info ? "info" : "sync", row["kind"]);
        EXPECT_EQ(name == info ? 135880 : 16, row["size"]);
        EXPECT_EQ("ok", row["layout"]);
        EXPECT_EQ(json::array({pid}), row["users"]);
        EXPECT_EQ(true, row["users_complete"]);
        EXPECT_EQ(name == info ? pid : json(), row["owner_process"]);
        EXPECT_EQ("in use", row["state"]);
    }
    const ToolRun table = runTool({"list"});
    EXPECT_EQ(0, table.status);
    EXPECT_EQ(0u, table.output.rfind("NAME ", 0)) << table.output;
    for (const std::string& name : {info, std::string("okr-sync")}) {
        const std::size_t row = table.output.find("\n" + name + " ");
        ASSERT_NE(std::string::npos, row) << table.output;
        std::istringstream line(table.output.substr(row + 1, table.output.find('\n', row + 1) - row - 1));
        const std::vector<std::string> cells{std::istream_iterator<std::string>(line), {}};
        ASSERT_EQ(10u, cells.size()) << line.str(); // STATE "in use" is two words
        EXPECT_EQ("ok", cells[3]);
        EXPECT_EQ(std::to_string(pid.get<int>()), cells[6]);
        EXPECT_EQ("in", cells[8]);
    }
    run.write("\n");
    EXPECT_EQ(0, run.wait());
}

TEST_F(ShmTool, CleanRemovesOnlyTheRecordOfAKilledProcessAndDryRunNothing)
{
    ChildProcess killed(check);
    std::string left;
    ASSERT_TRUE(startCheck(killed, left));
    kill(killed.pid(), SIGKILL);
    killed.wait();
    ChildProcess waiting(check);
    std::string kept;
    ASSERT_TRUE(startCheck(waiting, kept));
    EXPECT_EQ("orphaned", listed(left)["state"]);

    const ToolRun dryRun = runTool({"clean", "--dry-run"});
    EXPECT_EQ(0, dryRun.status) << dryRun.errors;
    EXPECT_NE(std::string::npos, dryRun.output.find("would remove " + left + "\n")) << dryRun.output;
    EXPECT_TRUE(shmExists(left));

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_NE(std::string::npos, clean.output.find("removed " + left + "\n")) << clean.output;
    EXPECT_NE(std::string::npos, clean.output.find("kept " + kept + ": in use by ")) << clean.output;
    EXPECT_NE(std::string::npos, clean.output.find("kept okr-sync: ")) << clean.output;
    EXPECT_FALSE(shmExists(left));
    EXPECT_TRUE(shmExists(kept));
    EXPECT_TRUE(shmExists("okr-sync"));
    waiting.write("\n");
    EXPECT_EQ(0, waiting.wait());
}

TEST_F(ShmTool, ProcessesItMayNotInspectMakeTheStateUnknownAndCleanKeepsAllButRootSeesThroughHidepid)
{
    ChildProcess killed(check);
    std::string left;
    ASSERT_TRUE(startCheck(killed, left));
    kill(killed.pid(), SIGKILL);
    killed.wait();
    ChildProcess waiting(check); // root's, so a stranger cannot read its maps
    std::string kept;
    ASSERT_TRUE(startCheck(waiting, kept));

    // The waiting check's own record stays in use: its process is alive; so
    // does what its locks declare (okr-sync).
    const ToolRun list = runTool({"list", "--json"}, strangerUid);
    for (const json& object : json::parse(list.output)) {
        const bool declared = object["name"] == kept || !object["lock_holders"].empty();
        EXPECT_EQ(declared ? "in use" : "unknown", object["state"]) << object;
        EXPECT_EQ(false, object["users_complete"]) << object;
    }
    const ToolRun clean = runTool({"clean"}, strangerUid);
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_NE(std::string::npos, clean.output.find("kept " + left + ": state unknown")) << clean.output;
    EXPECT_TRUE(shmExists(left));

    // hidepid hides processes from others, never from root.
    ASSERT_EQ(0, mount("proc", "/proc", "proc", 0, "hidepid=2"));
    EXPECT_EQ("in use", listed(kept)["state"]);
    EXPECT_NE(std::string::npos, runTool({"clean"}).output.find("removed " + left + "\n"));
    EXPECT_EQ(0, umount("/proc"));
    waiting.write("\n");
    EXPECT_EQ(0, waiting.wait());
}

TEST_F(ShmTool, CleanKeepsWhatIsNoInformationRecord)
{
    // Names infoRecordName never gives: no checksum, a leading zero, past 32 bits.
    const std::vector<std::string> others = {"okr-foo", "okr-info-01", "okr-info-4294967296"};
    for (const std::string& name : others) {
        writeBlock(name, std::vector<unsigned char>(16));
    }
    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    for (const std::string& name : others) {
        EXPECT_NE(std::string::npos, clean.output.find("kept " + name + ": not an information record\n"))
            << clean.output;
        EXPECT_TRUE(shmExists(name)) << name;
    }
}

// A read-only folder's records are still judged: one in use is kept as such.
TEST_F(ShmTool, CleanThatCannotRemoveSaysSoAndFailsWithStatusOne)
{
    writeBlock("okr-info-1234", std::vector<unsigned char>(135880));
    writeBlock("okr-info-1235", std::vector<unsigned char>(135880));
    ASSERT_EQ("orphaned", listed("okr-info-1234")["state"]);
    // Read only: the folder cannot be remounted so while a file is open to write.
    const std::unique_ptr<ChildProcess> holder = holding("/dev/shm/okr-info-1235", "<");
    ASSERT_EQ(0, mount(nullptr, "/dev/shm", nullptr, MS_REMOUNT | MS_RDONLY, nullptr));

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(1, clean.status) << clean.output;
    // Said once, on one stream, in the words rm would use.
    EXPECT_EQ("okr-shm: cannot remove okr-info-1234: Read-only file system\n", clean.errors);
    EXPECT_EQ("kept okr-info-1235: in use by " + std::to_string(holder->pid()) + "\n", clean.output);
    EXPECT_TRUE(shmExists("okr-info-1234"));
}

TEST_F(ShmTool, KindComesFromTheNameAsInfoRecordNameWritesIt)
{
    const std::vector<std::pair<std::string, std::string>> kinds{{"okr-sync", "sync"},
                                                                 {"okr-info-0", "info"},
                                                                 {"okr-info-4294967295", "info"},
                                                                 {"okr-info-4294967296", "other"},
                                                                 {"okr-info-01", "other"},
                                                                 {"okr-info-", "other"},
                                                                 {"okr-info-12a", "other"},
                                                                 {"okr-sync2", "other"}};
    for (const auto& kind : kinds) {
        writeBlock(kind.first, {});
    }
    for (const auto& kind : kinds) {
        const json row = listed(kind.first);
        EXPECT_EQ(kind.second, row["kind"]) << kind.first;
        EXPECT_EQ(kind.second == "other" ? json() : json("wrong size"), row["layout"]) << kind.first;
    }
}

TEST_F(ShmTool, OwnerAndModifiedAreTheFilesOwn)
{
    writeBlock("okr-info-7", {});
    writeBlock("okr-x", {});
    ASSERT_EQ(0, chown("/dev/shm/okr-x", strangerUid, strangerUid));
    // A zone west of Greenwich with a half-hour offset: -03:30.
    ASSERT_EQ(0, setenv("TZ", "XST3:30", 1));
    ASSERT_EQ(0, runCommand("touch -d '2024-05-01 14:03:59' /dev/shm/okr-info-7").status);
    const std::string modified = runCommand("date -d '2024-05-01 14:03:59' +%Y-%m-%dT%H:%M:%S%:z").output;

    EXPECT_EQ("root", listed("okr-info-7")["owner"]);
    EXPECT_EQ(modified, listed("okr-info-7")["modified"].get<std::string>() + "\n");
    EXPECT_EQ(std::to_string(strangerUid), listed("okr-x")["owner"]) << "no account: the uid";
    const ToolRun table = runTool({"list", "-n", "--raw", "-o", "owner,modified"});
    EXPECT_EQ("root " + modified, table.output.substr(0, table.output.find('\n') + 1));
    EXPECT_NE(std::string::npos, table.output.find("\n" + std::to_string(strangerUid) + " ")) << table.output;
    EXPECT_EQ("2024-05-01T14:03:59-03:30\n", modified);

    // Either side of a year's end, of February's end and of summer time, in
    // zones east and west, and a minute and four seconds apart: what date
    // prints for that instant.
    const std::vector<std::string> instants{"2023-12-31 23:59:59", "2024-01-01 00:00:00", "2024-01-01 00:01:04",
                                            "2024-01-31 22:30:00", "2024-02-29 23:59:59", "2024-03-01 00:00:01",
                                            "2024-03-31 01:30:00", "2024-10-27 00:30:00", "2100-02-28 23:00:00"};
    for (std::size_t i = 0; i < instants.size(); ++i) {
        writeBlock("okr-m" + std::to_string(i), {});
        ASSERT_EQ(0, runCommand("touch -d '" + instants[i] + " UTC' /dev/shm/okr-m" + std::to_string(i)).status);
    }
    for (const char* zone : {"UTC0", "XST3:30", "CET-1CEST,M3.5.0,M10.5.0/3", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        ASSERT_EQ(0, setenv("TZ", zone, 1));
        for (std::size_t i = 0; i < instants.size(); ++i) {
            const std::string date = runCommand("date -d '" + instants[i] + " UTC' +%Y-%m-%dT%H:%M:%S%:z").output;
            EXPECT_EQ(date, listed("okr-m" + std::to_string(i))["modified"].get<std::string>() + "\n") << zone;
        }
    }
    unsetenv("TZ");
}

// An owner whose name is not ASCII is as wide as a terminal shows it, in a
// row whose name prints quoted too (the account database is the test's own).
TEST_F(ShmTool, ColumnsFitAnOwnerWhoseNameIsNotAscii)
{
    ASSERT_EQ(0, runCommand("cp /etc/passwd /dev/shm/passwd && echo 'jürgen:x:54322:54322::/:/bin/false' >>"
                            "/dev/shm/passwd && mount --bind /dev/shm/passwd /etc/passwd")
                     .status);
    writeBlock("okr-\xff", {});
    writeBlock("okr-root", {});
    ASSERT_EQ(0, chown("/dev/shm/okr-\xff", 54322, 0));
    EXPECT_EQ("OWNER   NAME           SIZE\nroot    okr-root          0\njürgen  'okr-'$'\\377'     0\n",
              runTool({"list", "-o", "owner,name,size"}).output);
}

TEST_F(ShmTool, UsersSayNobodyWithADashAndOthersUnseenWithAQuestionMark)
{
    ChildProcess waiting(check);
    std::string record;
    ASSERT_TRUE(startCheck(waiting, record));
    writeBlock("okr-a", {});
    const std::string pid = std::to_string(waiting.pid());
    const std::vector<std::string> users{"list", "-n", "--raw", "-o", "name,users"};

    EXPECT_EQ("okr-a -\n" + record + " " + pid + "\nokr-sync " + pid + "\n", runTool(users).output);
    // A stranger may not read root's processes: the record's own process is
    // known, who else maps it is not.
    EXPECT_EQ("okr-a unknown\n" + record + " '" + pid + ",?'\nokr-sync unknown\n", runTool(users, strangerUid).output);
    waiting.write("\n");
    EXPECT_EQ(0, waiting.wait());
}

// A link, FIFO or folder of such a name is no object, and a file not
// matching okr-* none of the tool's: none is listed, none is read.
TEST_F(ShmTool, OnlyRegularFilesMatchingOkrAreObjectsAndNoLinkIsFollowed)
{
    writeBlock("target", std::vector<unsigned char>(16, 0xAA));
    ASSERT_EQ(0, symlink("target", "/dev/shm/okr-sync"));
    ASSERT_EQ(0, mkfifo("/dev/shm/okr-info-5", 0666));
    ASSERT_EQ(0, mkdir("/dev/shm/okr-info-6", 0777));

    const ToolRun list = runTool({"list", "--json"});
    EXPECT_EQ(0, list.status) << list.errors;
    EXPECT_EQ(json::array(), json::parse(list.output));
    for (const std::string name : {"okr-sync", "okr-info-5"}) {
        const ToolRun show = runTool({"show", name});
        EXPECT_EQ(1, show.status) << show.output;
        EXPECT_EQ("okr-shm: no shared object " + name + "\n", show.errors);
    }
}

TEST_F(ShmTool, ARecordOfAProcessThatEndedButIsNotYetReapedIsOrphaned)
{
    ChildProcess ended(check);
    std::string record;
    ASSERT_TRUE(startCheck(ended, record));
    kill(ended.pid(), SIGKILL);
    for (int waited = 0; !ended.ended() && waited < 10000; waited += 10) {
        usleep(10000);
    }
    EXPECT_EQ("orphaned", listed(record)["state"]) << "a zombie is no live process";
    ended.wait();
}

// A process whose main thread ended (pthread_exit) runs on in another thread
// that maps a record: the process is alive, so its own record is in use, and
// the record its thread maps is used by it. clean keeps both.
TEST_F(ShmTool, AProcessWhoseMainThreadEndedLivesInItsOtherThreads)
{
    const std::string mapped = okr::common::infoRecordName(2000000000, "", "okr-info-");
    writeBlock(mapped, std::vector<unsigned char>(135880));
    ChildProcess peer(threadPeer, {mapped}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(peer.readLine(line) && line == "mapped") << line;
    const std::string pid = std::to_string(peer.pid());
    std::string state;
    for (int waited = 0; state != "Z" && waited < 10000; waited += 10) {
        usleep(10000);
        std::ifstream status("/proc/" + pid + "/status");
        for (std::string field; status >> field && field != "State:";) {
        }
        status >> state;
    }
    ASSERT_EQ("Z", state) << "the main thread did not end";
    const std::string own = okr::common::infoRecordName(static_cast<std::int32_t>(peer.pid()), "root", "okr-info-");
    writeBlock(own, std::vector<unsigned char>(135880));

    const ToolRun list = runTool({"list", "-n", "--raw", "-o", "name,users,state"});
    EXPECT_NE(std::string::npos, list.output.find(mapped + " " + pid + " 'in use'\n")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find(own + " " + pid + " 'in use'\n")) << list.output;
    const ToolRun listed = runTool({"list", "--json"});
    EXPECT_EQ(json::parse(listed.output).dump(2) + "\n", listed.output) << "laid out as show --json is";
    const ToolRun clean = runTool({"clean"});
    EXPECT_NE(0u, inodeOf(mapped)) << clean.output;
    EXPECT_NE(0u, inodeOf(own)) << clean.output;
    peer.closeInput();
    EXPECT_EQ(0, peer.wait());
}

// A process seen only in its mappings (one thread, no descriptor kept), and
// one seen only in a descriptor its second thread holds in a table of its
// own (made without CLONE_FILES): each keeps its record.
TEST_F(ShmTool, ARecordSeenOnlyInOneThreadsMappingsOrDescriptorsIsKept)
{
    // Inodes of two digits: maps gives them in decimal.
    for (int i = 0; i < 10; ++i) {
        writeBlock("okr-f", {});
        removeBlock("okr-f");
    }
    for (const char* way : {"--one-thread", "--own-table"}) {
        const std::string name = okr::common::infoRecordName(2000000001, "", "okr-info-");
        writeBlock(name, std::vector<unsigned char>(135880));
        ChildProcess peer(threadPeer, {way, name}, ChildProcess::Options());
        std::string line;
        ASSERT_TRUE(peer.readLine(line) && (line == "mapped" || line == "held")) << way << ": " << line;
        const ToolRun list = runTool({"list", "-n", "--raw", "-o", "name,users,state"});
        EXPECT_NE(std::string::npos, list.output.find(name + " " + std::to_string(peer.pid()) + " 'in use'\n"))
            << way << ": " << list.output;
        const ToolRun clean = runTool({"clean"});
        EXPECT_NE(0u, inodeOf(name)) << way << ": " << clean.output;
        peer.closeInput();
        EXPECT_EQ(0, peer.wait());
        removeBlock(name);
    }
}

// With no time to read the processes and their locks (OKR_SHM_SCAN_SECONDS=0)
// nothing is known to be unused: said on standard error, and clean removes nothing.
// A value that is no such number leaves the default time, in which a
// process with thousands of descriptors is read whole.
TEST_F(ShmTool, ProcessesLeftUnreadAtTheDeadlineMakeTheStateUnknownAndCleanKeepsAll)
{
    std::string record;
    ASSERT_TRUE(killedCheck(record));
    ChildProcess many("/usr/bin/python3",
                      {"-c",
                       "import resource, sys\nresource.setrlimit(resource.RLIMIT_NOFILE, (5000, 5000))\n"
                       "fds = [open('/dev/null') for _ in range(4200)]\nprint('open', flush=True)\nsys.stdin.read()"},
                      ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(many.readLine(line) && line == "open") << line;
    for (const char* notSeconds : {"x", "-1", "2s"}) {
        ASSERT_EQ(0, setenv("OKR_SHM_SCAN_SECONDS", notSeconds, 1));
        EXPECT_EQ(record + " orphaned\nokr-sync orphaned\n",
                  runTool({"list", "-n", "--raw", "-o", "name,state"}).output)
            << notSeconds;
    }
    many.closeInput();
    EXPECT_EQ(0, many.wait());
    // Nor does a time past any sensible one: a scan that strace holds up 11 s
    // still ends at the default.
    ASSERT_EQ(0, setenv("OKR_SHM_SCAN_SECONDS", "1000000", 1));
    const ToolRun held = finish(*startTraced({"-P", "/proc", "-e", "trace=getdents64", "-e",
                                              "inject=getdents64:delay_enter=11000000:when=1", tool, "list"}));
    EXPECT_NE(std::string::npos, held.errors.find("reading the processes took too long")) << held.errors;
    ASSERT_EQ(0, setenv("OKR_SHM_SCAN_SECONDS", "0", 1));
    const ToolRun list = runTool({"list", "-n", "--raw", "-o", "name,users,locks,state"});
    const ToolRun listJson = runTool({"list", "--json"});
    const ToolRun clean = runTool({"clean"});
    unsetenv("OKR_SHM_SCAN_SECONDS");
    EXPECT_EQ(json(), json::parse(listJson.output).at(0)["lock_holders"]) << "the locks were not read";

    EXPECT_EQ(1, list.status);
    EXPECT_NE(std::string::npos, list.output.find(record + " unknown unknown unknown\n")) << list.output;
    EXPECT_NE(std::string::npos, list.errors.find("okr-shm: reading the processes took too long; ")) << list.errors;
    EXPECT_EQ(1, clean.status);
    EXPECT_NE(0u, inodeOf(record)) << clean.output;
}

// The users a record's lock declares (flock LOCK_SH, as the library's users
// hold it), beside the users the scan finds.
TEST_F(ShmTool, ListShowsTheUsersTheLocksDeclare)
{
    writeBlock("okr-a", {});
    ChildProcess locker("/usr/bin/python3",
                        {"-c", "import fcntl, sys\nf = open('/dev/shm/okr-a')\nfcntl.flock(f, fcntl.LOCK_SH)\n"
                               "print('locked', flush=True)\nsys.stdin.read()"},
                        ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(locker.readLine(line) && line == "locked") << line;
    EXPECT_EQ(json::array({locker.pid()}), listed("okr-a")["lock_holders"]);
    EXPECT_EQ("okr-a " + std::to_string(locker.pid()) + "\n",
              runTool({"list", "-n", "--raw", "-o", "name,locks"}).output);
    locker.closeInput();
    EXPECT_EQ(0, locker.wait());
}

// With no thread to be had (its user at the process limit), the locks are read
// in the scan's own thread: the same listing.
TEST_F(ShmTool, ListsTheSameWithNoThreadToBeHad)
{
    writeBlock("okr-a", {});
    const std::string list = tool + " list -n --raw -o name,users,locks,state";
    const ToolRun free = finish(*startTool({"-c", asStranger() + list}, -1, 0, "/bin/sh"));
    // A sanitized build's LeakSanitizer needs a thread of its own at the end.
    const std::string noLeakThread = "export ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\"; ";
    const ToolRun limited =
        finish(*startTool({"-c", noLeakThread + asStranger() + "prlimit --nproc=1 " + list}, -1, 0, "/bin/sh"));
    EXPECT_EQ(0, limited.status) << limited.errors;
    EXPECT_EQ("okr-a unknown - unknown\n", free.output);
    EXPECT_EQ(free.output, limited.output);
}

// C1 controls, which a terminal may obey, and U+2028/U+2029 come as \u
// escapes, and the name parses back exactly.
TEST_F(ShmTool, JsonEscapesC1AndLineSeparators)
{
    // C1 and the line separators apart: each alone must be found.
    const std::string c1 = "okr-\xc2\x9b"
                           "2J\xc2\x80\xc2\x9f\xc2\xa0";
    const std::string separators = "okr-\xe2\x80\xa8\xe2\x80\xa9";
    const std::string neighbours = "okr-\xe3\x80\xa8 \xe2\x81\xa8"; // their look-alikes stay as they are
    writeBlock(c1, {});
    writeBlock(separators, {});
    writeBlock(neighbours, {});
    const ToolRun list = runTool({"list", "--json"});
    EXPECT_NE(std::string::npos, list.output.find("\"" + neighbours + "\"")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("\"okr-\\u009b2J\\u0080\\u009f\xc2\xa0\"")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("\"okr-\\u2028\\u2029\"")) << list.output;
    EXPECT_EQ(c1, json::parse(list.output).at(0)["name"]);
}

// Both records, filled by a process other than the tool.
class ShmToolShow : public ShmTool, public ::testing::WithParamInterface<std::pair<std::string, std::size_t>> {};

TEST_P(ShmToolShow, ShowsTheAreasAndBytesOfARecordAPeerFilled)
{
    const std::string name = GetParam().first;
    std::vector<unsigned char> bytes(GetParam().second);
    for (std::size_t at : {std::size_t{0}, bytes.size() / 3, bytes.size() - 1}) {
        bytes[at] = static_cast<unsigned char>('A' + at % 26);
    }
    writeBlock(name, bytes);

    const ToolRun show = runTool({"show", name, "--json"});
    ASSERT_EQ(0, show.status) << show.errors;
    const json record = json::parse(show.output);
    EXPECT_EQ(record.dump(2) + "\n", show.output) << "laid out as list --json is";
    EXPECT_EQ(bytes.size(), record["size"]);
    EXPECT_EQ("ok", record["layout"]);
    // The areas tile the record in address order and see every byte set.
    std::size_t end = 0;
    std::size_t nonZero = 0;
    for (const json& area : record["areas"]) {
        EXPECT_EQ(end, area["offset"]) << area;
        // "41 00 ...": at most 16 bytes, each two digits and a space but the last
        EXPECT_EQ(std::min(area["size"].get<std::size_t>(), std::size_t{16}) * 3 - 1,
                  area["first"].get<std::string>().size())
            << area;
        end += area["size"].get<std::size_t>();
        nonZero += area["nonzero"].get<std::size_t>();
    }
    EXPECT_EQ(bytes.size(), end);
    EXPECT_EQ(3u, nonZero);
    EXPECT_EQ("41", record["areas"][0]["first"].get<std::string>().substr(0, 2));
    EXPECT_EQ(name == "okr-sync" ? "SharedSyncInfo" : "LogInfo", record["record"]);

    // The table's NONZERO counts every byte of an area too.
    const ToolRun text = runTool({"show", name});
    std::istringstream rows(text.output.substr(text.output.find("\nAREA ") + 1));
    std::size_t shown = 0;
    for (std::string row; std::getline(rows, row);) {
        std::istringstream cells(row);
        std::string area;
        std::size_t offset = 0;
        std::size_t size = 0;
        std::size_t nonzero = 0;
        shown += cells >> area >> offset >> size >> nonzero ? nonzero : 0;
    }
    EXPECT_EQ(3u, shown) << text.output;

    const ToolRun hex = runTool({"show", name, "--hex"});
    EXPECT_EQ(0, hex.status);
    EXPECT_EQ(runCommand("hexdump -C /dev/shm/" + name).output, hex.output);
    EXPECT_EQ(bytes, readBlock(name)) << "show changed the record";
}

TEST_P(ShmToolShow, HexOfARecordWithAZeroTailIsHexdumpsByteForByte)
{
    // hexdump -C folds repeated full lines only: the last, short one stays.
    const std::string name = GetParam().first;
    std::vector<unsigned char> bytes(GetParam().second);
    bytes[0] = 'A';
    bytes[1] = 0x7f; // DEL and bytes past ASCII are dots to hexdump -C
    bytes[2] = 0xe9;
    writeBlock(name, bytes);

    const ToolRun hex = runTool({"show", name, "--hex"});
    EXPECT_EQ(0, hex.status) << hex.errors;
    EXPECT_EQ(runCommand("hexdump -C /dev/shm/" + name).output, hex.output);
}

INSTANTIATE_TEST_SUITE_P(Records, ShmToolShow,
                         ::testing::Values(std::make_pair(std::string("okr-sync"), std::size_t{16}),
                                           std::make_pair(std::string("okr-info-1234"), std::size_t{135880})));

// A row as long as the room the first row left (its first cell and 256
// bytes) fills it to the last byte: measured without a byte read past it.
TEST_F(ShmTool, ARowThatFillsItsRoomExactlyIsReadWithinIt)
{
    writeBlock("okr-aaa", {});
    const std::string full = "okr-" + std::string(250, 'b');
    writeBlock(full, {});
    ASSERT_EQ(0, truncate(("/dev/shm/" + full).c_str(), 100000000)); // its row: 254 + 9 bytes, 7 + 256
    EXPECT_EQ("okr-aaa 0\n" + full + " 100000000\n", runTool({"list", "-n", "--raw", "-o", "name,size"}).output);
}

TEST_F(ShmTool, WrongSizeObjectsAreReportedAndNeverRead)
{
    for (const auto& object : {std::make_pair("okr-sync", 20), std::make_pair("okr-info-7", 100)}) {
        writeBlock(object.first, std::vector<unsigned char>(static_cast<std::size_t>(object.second), 1));
        EXPECT_EQ("wrong size", listed(object.first)["layout"]) << object.first;

        const ToolRun show = runTool({"show", object.first});
        EXPECT_EQ(1, show.status) << object.first;
        EXPECT_NE(std::string::npos, show.output.find("SIZE    " + std::to_string(object.second) + "\n"))
            << show.output;
        EXPECT_NE(std::string::npos, show.output.find("LAYOUT  wrong size")) << show.output;
        EXPECT_NE(std::string::npos, show.errors.find(" is " + std::to_string(object.second) + " bytes, not the "))
            << show.errors;
    }
}

struct Usage {
    std::vector<std::string> arguments;
    int status;
    const char* expected; // in standard error, or in standard output for status 0
};

void PrintTo(const Usage& usage, std::ostream* out)
{
    *out << "okr-shm";
    for (const std::string& argument : usage.arguments) {
        *out << " " << argument;
    }
}

class ShmToolUsage : public ShmTool, public ::testing::WithParamInterface<Usage> {};

TEST_P(ShmToolUsage, ExitStatusAndMessageFitTheCommandLine)
{
    const ToolRun run = runTool(GetParam().arguments);
    EXPECT_EQ(GetParam().status, run.status) << run.errors;
    EXPECT_NE(std::string::npos, (run.status == 0 ? run.output : run.errors).find(GetParam().expected))
        << run.output << run.errors;
    if (run.status == 2) {
        EXPECT_NE(std::string::npos, run.errors.find("Usage: okr-shm")) << "no usage with the error";
        EXPECT_EQ("", run.output);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ShmToolUsage,
    ::testing::Values(Usage{{}, 2, "subcommand is required"}, Usage{{"frob"}, 2, "frob"},
                      Usage{{"list", "--bogus"}, 2, "--bogus"}, Usage{{"show"}, 2, "NAME"},
                      Usage{{"show", "okr-x/../../etc/passwd"}, 2, "not a name"},
                      Usage{{"show", "'okr-x/y'"}, 2, "not a name"}, Usage{{"show", ".."}, 2, "not a name"},
                      Usage{{"show", "okr-sync", "--hex", "--json"}, 2, "excludes"},
                      Usage{{"show", "okr-info-404"}, 1, "okr-shm: no shared object okr-info-404\n"},
                      // NAME as list prints it, quoted
                      Usage{{"show", "'okr-info-404'"}, 1, "okr-shm: no shared object okr-info-404\n"},
                      // a name a product could not create may still be a file here
                      Usage{{"show", std::string(300, 'x')}, 2, "too long"},
                      Usage{{"show", "COM\xC2\xB9"}, 1, "okr-shm: no shared object COM\xC2\xB9\n"},
                      // NAME_MAX bytes exactly still fit
                      Usage{{"show", "okr-" + std::string(251, 'x')}, 1, "okr-shm: no shared object okr-xxx"},
                      Usage{{"list", "-o", "NAME,bogus"}, 2, "unknown column bogus"},
                      Usage{{"list", "-o", ""}, 2, "unknown column ''"},
                      Usage{{"list", "--json", "--raw"}, 2, "excludes"}, Usage{{"list", "--json", "-n"}, 2, "excludes"},
                      Usage{{"list", "--json", "-o", "name"}, 2, "excludes"}, Usage{{"/?"}, 0, "clean"},
                      Usage{{"--version"}, 0, "okr-shm " OKR_VERSION "\n"}, Usage{{"--help"}, 0, "Exit status: 0 done"},
                      Usage{{"clean", "--help"}, 0, "every okr-* file of earlier boots"}));

// Names anyone may give a file in /dev/shm, and how list and clean print them.
class ShmToolHostileName : public ShmTool, public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(ShmToolHostileName, PrintsAsOneQuotedLineThatLooksLikeNoOtherName)
{
    const std::string& name = GetParam().first;
    const std::string& printed = GetParam().second;
    writeBlock(name, std::vector<unsigned char>(4));

    const ToolRun list = runTool({"list"});
    EXPECT_EQ(0, list.status) << list.errors;
    EXPECT_EQ(std::string::npos, list.output.find('\x1b')) << "an escape sequence reached the terminal";
    // Every title stands apart, however narrow its column's values.
    EXPECT_TRUE(
        std::regex_search(list.output, std::regex("^NAME +KIND +SIZE +LAYOUT +OWNER +MODIFIED +USERS +LOCKS +STATE\n")))
        << list.output;
    const std::size_t row = list.output.find('\n') + 1;
    EXPECT_EQ(printed + "  ", list.output.substr(row, printed.size() + 2)) << list.output;
    EXPECT_EQ(list.output.size() - 1, list.output.find('\n', row)) << "more than one row: " << list.output;

    const ToolRun clean = runTool({"clean", "--dry-run"});
    EXPECT_EQ("kept " + printed + ": not an information record\n", clean.output);

    // JSON holds the name itself when it is UTF-8, else its printed form.
    const json object = json::parse(runTool({"list", "--json"}).output).at(0);
    EXPECT_EQ(printed, object["name_quoted"]);
    EXPECT_EQ(name.find('\xff') == std::string::npos ? name : printed, object["name"]);

    // show takes either key as it is, and finds this very object (which
    // holds no record of the product).
    for (const char* key : {"name", "name_quoted"}) {
        const ToolRun show = runTool({"show", object[key].get<std::string>()});
        EXPECT_EQ(1, show.status) << key;
        EXPECT_EQ("okr-shm: " + printed + " holds no record of this product (okr-sync, okr-info-N)\n", show.errors)
            << key;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShmToolHostileName,
    ::testing::Values(
        std::make_pair("okr-a\nokr-info-99 info 135880 ok root", "'okr-a'$'\\n''okr-info-99 info 135880 ok root'"),
        std::make_pair("okr-\x1b[31mred", "'okr-'$'\\033''[31mred'"), std::make_pair("okr-info-1 ", "'okr-info-1 '"),
        std::make_pair("okr-\xff\xfe", "'okr-'$'\\377\\376'"),
        std::make_pair("okr-x\x1b]0;pwned\a", "'okr-x'$'\\033'']0;pwned'$'\\a'"),
        std::make_pair("okr-\x01\x7f\xc2\x9b", "'okr-'$'\\001\\177\\302\\233'"),
        std::make_pair("okr-:|*?\"<>\\", "'okr-:|*?\"<>\\'"), std::make_pair("okr-info-1.", "okr-info-1."),
        std::make_pair("okr-it's", "\"okr-it's\""), std::make_pair("okr-\xe2\xa0\x80", "'okr-'$'\\342\\240\\200'"),
        std::make_pair("okr-\"q\"", "'okr-\"q\"'"), std::make_pair("okr-\x1f", "'okr-'$'\\037'")));

TEST_F(ShmTool, NamesThatAreNotUtf8StayDistinctInJsonAndComeBackIntoShow)
{
    const std::vector<std::string> names{"okr-\xfe\xff", "okr-\xff\xfe"};
    for (const std::string& name : names) {
        writeBlock(name, std::vector<unsigned char>(4));
    }
    const ToolRun list = runTool({"list", "--json"});
    ASSERT_EQ(0, list.status) << list.errors;
    const json objects = json::parse(list.output);
    ASSERT_EQ(2u, objects.size()) << objects;
    EXPECT_NE(objects[0]["name"], objects[1]["name"]);
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Given to show without a shell, both keys find the object itself.
        for (const char* key : {"name", "name_quoted"}) {
            const ToolRun show = runTool({"show", objects[i][key].get<std::string>()});
            EXPECT_EQ(1, show.status);
            EXPECT_EQ("okr-shm: " + objects[i]["name_quoted"].get<std::string>() +
                          " holds no record of this product (okr-sync, okr-info-N)\n",
                      show.errors)
                << key;
        }
        const std::string script = "printf %s " + objects[i]["name_quoted"].get<std::string>();
        EXPECT_EQ(names[i], runCommand("bash <<'EOF'\n" + script + "\nEOF").output)
            << "bash reads the printed name back as the name";
    }
}

// Columns chosen and ordered, without header, raw: over one world of names.
class ShmToolColumns : public ShmTool,
                       public ::testing::WithParamInterface<std::pair<std::vector<std::string>, std::string>> {};

TEST_P(ShmToolColumns, PrintOnlyTheColumnsAskedForInTheFormatAskedFor)
{
    writeBlock("okr-info-7", std::vector<unsigned char>(135880));
    writeBlock("okr-sync", std::vector<unsigned char>(20));
    // The okr-ab names differ only past the first eight bytes after "okr-",
    // and are made in neither their order nor its reverse.
    for (const char* name :
         {"okr-a b", "okr-ab012345670", "okr-ab01234567", "okr-ab012345671", "okr-Жук", "okr-日本"}) {
        writeBlock(name, {});
    }
    std::vector<std::string> arguments{"list"};
    arguments.insert(arguments.end(), GetParam().first.begin(), GetParam().first.end());
    const ToolRun list = runTool(arguments);
    EXPECT_EQ(0, list.status) << list.errors;
    EXPECT_EQ(GetParam().second, list.output);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ShmToolColumns,
    ::testing::Values(
        std::make_pair(
            std::vector<std::string>{"-o", "kind,NAME"},
            "KIND   NAME\nother  'okr-a b'\nother  okr-ab01234567\nother  okr-ab012345670\nother  okr-ab012345671\n"
            "info   okr-info-7\nsync   okr-sync\nother  okr-Жук\nother  okr-日本\n"),
        // aligned by what a terminal shows: Жук three columns, 日本 four
        std::make_pair(
            std::vector<std::string>{"--noheadings", "--output", "NAME,SIZE"},
            "'okr-a b'             0\nokr-ab01234567        0\nokr-ab012345670       0\nokr-ab012345671       0\n"
            "okr-info-7       135880\nokr-sync             20\nokr-Жук               0\n"
            "okr-日本              0\n"),
        std::make_pair(std::vector<std::string>{"-n", "-o", "users"}, "-\n-\n-\n-\n-\n-\n-\n-\n"),
        std::make_pair(std::vector<std::string>{"--raw", "-o", "name,layout,users,locks"},
                       "NAME LAYOUT USERS LOCKS\n'okr-a b' - - -\nokr-ab01234567 - - -\n"
                       "okr-ab012345670 - - -\nokr-ab012345671 - - -\nokr-info-7 ok - -\nokr-sync 'wrong size' - -\n"
                       "okr-Жук - - -\nokr-日本 - - -\n")));

// coreutils' way: output that could not be written is a failure, said at
// the end; a reader that left early is none.
TEST_F(ShmTool, OutputThatCannotBeWrittenFailsTheRunAndCleanStillCleans)
{
    writeBlock("okr-info-7", std::vector<unsigned char>(135880));
    for (const char* command : {"list", "list --json", "clean"}) {
        const ProcessResult run = runCommand(tool + " " + command + " 2>&1 >/dev/full; echo status $?");
        EXPECT_EQ("okr-shm: write error: No space left on device\nstatus 1\n", run.output) << command;
    }
    EXPECT_FALSE(shmExists("okr-info-7")) << "clean did its work all the same";
    const ProcessResult closed = runCommand(tool + " list 2>&1 >&-; echo status $?");
    EXPECT_EQ("okr-shm: write error: Bad file descriptor\nstatus 1\n", closed.output);

    ChildProcess::Options options;
    options.separateErrors = true;
    options.brokenOutput = true;
    ChildProcess gone(tool, {"list"}, options);
    EXPECT_EQ("", gone.readErrors());
    EXPECT_EQ(0, gone.wait()) << "a closed pipe is no failure";
}

TEST_F(ShmTool, BashCompletesShowWithTheNamesAsListPrintsThem)
{
    for (const char* name : {"okr-sync", "okr-a b", "other"}) {
        writeBlock(name, std::vector<unsigned char>(16));
    }
    const ProcessResult completed =
        runCommand("bash -c '. " OKR_BASH_COMPLETION "; COMP_WORDS=(" + tool +
                   " show okr-); COMP_CWORD=2; _okr_shm; printf \"%s\\n\" \"${COMPREPLY[@]}\"'");
    EXPECT_EQ("'okr-a b'\nokr-sync\n", completed.output);
}

TEST_F(ShmTool, UnreadableFolderFailsWithStatusOne)
{
    ASSERT_EQ(0, chmod("/dev/shm", 0700));
    const ToolRun run = runTool({"list"}, strangerUid);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("okr-shm: cannot read the shared folder /dev/shm: Permission denied\n", run.errors);
}

TEST_F(ShmTool, AProcessHoldingARecordOpenWithoutMappingItUsesIt)
{
    writeBlock("okr-info-7", std::vector<unsigned char>(135880));
    const std::unique_ptr<ChildProcess> holder = holding("/dev/shm/okr-info-7");

    const json row = listed("okr-info-7");
    EXPECT_EQ(json::array({holder->pid()}), row["users"]) << row;
    EXPECT_EQ("in use", row["state"]) << row;
    const ToolRun clean = runTool({"clean"});
    EXPECT_NE(std::string::npos, clean.output.find("kept okr-info-7: in use by " + std::to_string(holder->pid())))
        << clean.output;
    EXPECT_TRUE(shmExists("okr-info-7"));
}

TEST_F(ShmTool, InAPidNamespaceOfItsOwnItCannotSeeEveryProcessAndKeepsAll)
{
    ChildProcess waiting(check);
    std::string record;
    ASSERT_TRUE(startCheck(waiting, record));
    const std::string nested = "/usr/bin/unshare";
    const std::vector<std::string> wrapper{"--pid", "--fork", "--mount-proc", tool};

    std::vector<std::string> list = wrapper;
    list.insert(list.end(), {"list", "--json"});
    const ToolRun listing = finish(*startTool(list, -1, 0, nested));
    ASSERT_EQ(0, listing.status) << listing.errors;
    for (const json& object : json::parse(listing.output)) {
        EXPECT_EQ("unknown", object["state"]) << object;
        EXPECT_EQ(false, object["users_complete"]) << object;
    }
    std::vector<std::string> clean = wrapper;
    clean.push_back("clean");
    const ToolRun cleaning = finish(*startTool(clean, -1, 0, nested));
    EXPECT_EQ(0, cleaning.status) << cleaning.errors;
    EXPECT_NE(std::string::npos, cleaning.output.find("kept " + record + ": state unknown")) << cleaning.output;
    EXPECT_TRUE(shmExists(record));
    waiting.write("\n");
    EXPECT_EQ(0, waiting.wait());
}

// In a pid namespace of its own the tool reads pid 1 there as any other.
TEST_F(ShmTool, InAPidNamespaceItReadsItsFirstProcess)
{
    writeBlock("okr-a", {});
    const std::string script = "exec 3<>/dev/shm/okr-a && " + tool + " list -n --raw -o name,users,locks,state 3<&-";
    const ToolRun list =
        finish(*startTool({"--pid", "--fork", "--mount-proc", "/bin/sh", "-c", script}, -1, 0, "/usr/bin/unshare"));
    EXPECT_EQ("okr-a '1,?' - 'in use'\n", list.output) << list.errors;
}

TEST_F(ShmTool, AStrangerCountsProcessesItMayNotReadOnlyWhereTheyCanReachTheFolder)
{
    // A folder only one root process besides the tool may reach: it counts as
    // a possible user while its mounts include the folder's file system.
    const std::string list = tool + " list -n --raw -o name,users";
    // One of the few processes it sees ends, and is reaped, after the tool
    // listed them: gone, it tells nothing of those the tool cannot see.
    const std::string oneEnds = stranger() +
                                "sh -c 'sleep 1 & wait' & exec " OKR_UNDER_STRACE "-D -P /proc -e trace=getdents64 -e "
                                "inject=getdents64:delay_exit=3000000:when=1 " +
                                stranger();
    const std::string untilTheToolEnds = "tail --pid=$$ -f /dev/null 2>/dev/null";
    const std::string withAFolder =
        "mount -t tmpfs -o mode=1777 none /dev/shm && head -c 64 /dev/zero >/dev/shm/okr-a || exit 1; ";
    const std::string peerIsReady = "grep -qs '^State:.Z' /proc/$!/status && grep -qs okr-a /proc/$!/task/*/maps";
    const std::string isTail = "[ \"$(cat /proc/$!/comm)\" = tail ]";
    // Over a file outside the folder's file system, which the root process's
    // mounts would otherwise include.
    const std::string unreadable = "mount -t tmpfs none /mnt && : >/mnt/m && chmod 0 /mnt/m && mount --bind /mnt/m ";
    const std::string away = "unshare --mount sh -c \"umount /dev/shm && exec " + untilTheToolEnds + " >/dev/null\"";
    const struct {
        std::string root, ready, users, runner = "";
    } cases[] = {
        {"unshare --mount sh -c \"exec " + untilTheToolEnds + " >/dev/null\"", isTail, "unknown"},
        {away, isTail, "-"},
        // Its main thread has left the namespace: the thread that maps tells.
        {"unshare --mount sh -c \"umount /dev/shm && echo && exec " + untilTheToolEnds + "\" | { read -r _; exec " +
             threadPeer + " okr-a >/dev/null 2>&1; }",
         peerIsReady, "unknown"},
        // ... in a folder of its own: it cannot reach this one.
        {"unshare --mount bash -c \"umount /dev/shm && mount -t tmpfs none /dev/shm && head -c 64 /dev/zero "
         ">/dev/shm/okr-a && exec " +
             threadPeer + " okr-a < <(exec " + untilTheToolEnds + ") >/dev/null 2>&1\"",
         peerIsReady, "-"},
        // Its main thread has moved to mounts without the folder: the thread that maps tells.
        {"unshare --mount sh -c \"umount /dev/shm && echo && exec " + untilTheToolEnds + "\" | { read -r _; exec " +
             threadPeer + " --main-elsewhere okr-a >/dev/null 2>&1; }",
         "grep -qs okr-a /proc/$!/task/*/maps && ! grep -qs \" $(mountpoint -d /dev/shm) \" /proc/$!/mountinfo",
         "unknown"},
        // No root process that may reach it, but its /proc hides them; another
        // /proc's options are not its /proc's.
        {"mount -t proc -o hidepid=2 proc /proc && exec " + away, isTail, "unknown", oneEnds},
        {"mount -t proc -o hidepid=2 proc /mnt && exec " + away, isTail, "-"},
        // ... or a mount table, its own or another's, cannot be read.
        {unreadable + "/proc/$$/mountinfo && exec " + away, isTail, "unknown"},
        {unreadable + "/proc/1/mountinfo && exec " + away, isTail, "unknown"},
    };
    for (const auto& root : cases) {
        std::string script = withAFolder;
        script.append(root.root).append(" & until ").append(root.ready);
        script.append("; do [ -d /proc/$! ] || exit 1; sleep 0.01; done; ");
        script.append(root.runner.empty() ? asStranger() : root.runner).append(list);
        const ToolRun listing = finish(*startTool({"--mount", "/bin/sh", "-c", script}, -1, 0, "/usr/bin/unshare"));
        EXPECT_EQ("okr-a " + root.users + "\n", listing.output) << root.root << listing.errors;
    }
}

// The killed check's id goes to a new check while clean, which found the
// record orphaned, is stalled: the new check opens that very record; a
// reader without the library opens another orphan. Only the processes tell.
TEST_F(ShmTool, CleanKeepsARecordThatANewProcessBeganToUseAfterTheInventory)
{
    startChildrenInOwnPidNamespace();
    ChildProcess::Options inWorld;
    inWorld.procOfItsOwn = true;
    const pid_t reused = unusedProcessId();
    setNextIdInWorld(reused);
    ChildProcess killed(check, inWorld);
    std::string record;
    ASSERT_TRUE(startCheck(killed, record));
    ASSERT_EQ(reused, idInWorld(killed.pid()));
    kill(killed.pid(), SIGKILL);
    killed.wait();
    ASSERT_EQ("orphaned", listed(record)["state"]);
    const std::string other = orphans(1).front();

    const std::unique_ptr<ChildProcess> clean = stalledClean();
    const std::unique_ptr<ChildProcess> reader = holding("/dev/shm/" + other);
    setNextIdInWorld(reused);
    ChildProcess successor(check, inWorld);
    std::string successorsRecord;
    ASSERT_TRUE(startCheck(successor, successorsRecord));
    ASSERT_EQ(record, successorsRecord);
    const ToolRun result = finish(*clean);
    EXPECT_EQ(0, result.status) << result.errors;
    EXPECT_NE(std::string::npos,
              result.output.find("kept " + record + ": in use by " + std::to_string(successor.pid())))
        << result.output.substr(result.output.find(record) - 20);
    EXPECT_TRUE(shmExists(record)) << "the successor's record was removed";
    EXPECT_NE(std::string::npos, result.output.find("kept " + other + ": in use by " + std::to_string(reader->pid())));
    successor.write("\n");
    EXPECT_EQ(0, successor.wait());
}

// While clean, past its inventory, is stalled, the killed check's successor
// makes its record anew (the old block unlinked, a new one under the name)
// and a reader still holds the old block: the new record keeps its name.
TEST_F(ShmTool, ASuccessorsNewRecordKeepsItsNameAgainstAHolderOfTheOldBlock)
{
    std::string record;
    ASSERT_TRUE(killedCheck(record));
    const std::unique_ptr<ChildProcess> clean = stalledClean();
    const std::unique_ptr<ChildProcess> oldReader = sharedLockHolder(record);
    ASSERT_EQ(0, unlink(("/dev/shm/" + record).c_str()));
    writeBlock(record, std::vector<unsigned char>(135880));
    const ino_t successors = inodeOf(record);

    const ToolRun result = finish(*clean);
    EXPECT_EQ(0, result.status) << result.errors;
    EXPECT_NE(std::string::npos, result.output.find("kept " + record + ": changed since it was listed\n"))
        << result.output.substr(result.output.find(record) - 20);
    EXPECT_EQ(successors, inodeOf(record));
}

// A stranger's clean meets five orphans of root's it may not remove: one
// swapped for a FIFO, one for a link and one for a folder after the
// inventory (none hangs it or is followed), one it may not write and one it
// may write but, in the sticky folder, not unlink. Each is said as it is.
TEST_F(ShmTool, AStrangersCleanSaysWhyEachOrphanItCannotRemoveStays)
{
    std::vector<std::string> orphans(5);
    for (std::size_t i = 0; i < orphans.size(); ++i) {
        orphans[i] = okr::common::infoRecordName(2000000000 + static_cast<int>(i), "", "okr-info-");
    }
    std::sort(orphans.begin(), orphans.end()); // as clean meets them
    std::string script = "mount -t tmpfs -o mode=1777 none /dev/shm && cd /dev/shm";
    for (std::size_t i = 0; i < orphans.size(); ++i) {
        script +=
            " && head -c 16 /dev/zero >" + orphans[i] + (i < 4 ? " && chmod 644 " : " && chmod 666 ") + orphans[i];
    }
    // The fillers sort first and print more than the pipe and clean's buffer hold.
    script +=
        " && i=0 && while [ $i -lt 4000 ]; do : >okr-a$i; i=$((i + 1)); done && " + asStranger() + tool + " clean";
    const std::unique_ptr<ChildProcess> clean =
        startTool({"--mount", "/bin/sh", "-c", script}, -1, 0, "/usr/bin/unshare");
    std::string line;
    ASSERT_TRUE(clean->readLine(line)) << line;
    const std::string folder = "/proc/" + std::to_string(clean->pid()) + "/root/dev/shm/";
    ASSERT_EQ(0, unlink((folder + orphans[0]).c_str()));
    ASSERT_EQ(0, mkfifo((folder + orphans[0]).c_str(), 0644));
    ASSERT_EQ(0, chmod((folder + orphans[0]).c_str(), 0644));
    ASSERT_EQ(0, unlink((folder + orphans[1]).c_str()));
    ASSERT_EQ(0, symlink(orphans[3].c_str(), (folder + orphans[1]).c_str()));
    ASSERT_EQ(0, unlink((folder + orphans[2]).c_str()));
    ASSERT_EQ(0, mkdir((folder + orphans[2]).c_str(), 0755));
    const ToolRun result = finish(*clean);
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.output.find("kept " + orphans[0] + ": changed since it was listed\nkept " +
                                                    orphans[1] + ": changed since it was listed\nkept " + orphans[2] +
                                                    ": changed since it was listed\n"))
        << result.output.substr(result.output.size() - std::min<std::size_t>(result.output.size(), 300));
    EXPECT_EQ("okr-shm: cannot remove " + orphans[3] + ": Permission denied\nokr-shm: cannot remove " + orphans[4] +
                  ": Operation not permitted\n",
              result.errors);
}

// A clean whose output stalls past its candidates holds none of their locks
// meanwhile: a user of the library that arrives then is not kept waiting.
TEST_F(ShmTool, ACleanWhoseOutputStallsHoldsNoLock)
{
    const std::string name = orphans(1).front();
    const std::unique_ptr<LockInFlight> nameLock = lockInFlight("/dev/shm/" + name, true);
    const std::unique_ptr<ChildProcess> clean = stalledClean("okr-z", 8000);
    const int fd = open(("/dev/shm/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(0, flock(fd, LOCK_SH | LOCK_NB)) << "clean holds the lock while its output waits";
    close(fd);
    const ToolRun result = finish(*clean);
    EXPECT_NE(std::string::npos, result.output.find("kept " + name + ": another process is removing it\n"));
}

// Library users' locks keep their records, named all along, through a clean
// of thousands of orphans in rounds (few descriptors at once): a user lock
// and a name lock that no process's descriptors show, and a flock(1) reader.
// Nothing in the folder is ever renamed; only the orphans are deleted.
TEST_F(ShmTool, LocksKeepTheirRecordsNamedThroughACleanOfThousandsAndNothingIsRenamed)
{
    const std::vector<std::string> names = orphans(3000);
    const std::unique_ptr<LockInFlight> userLock = lockInFlight("/dev/shm/" + names[10], false);
    const std::unique_ptr<LockInFlight> nameLock = lockInFlight("/dev/shm/" + names[20], true);
    const std::unique_ptr<ChildProcess> reader = sharedLockHolder(names[30]);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_LE(0, inotify_add_watch(watch, "/dev/shm", IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE));

    const ToolRun clean = finish(*startTool({"--nofile=100:100", tool, "clean"}, -1, 0, "/usr/bin/prlimit"));
    EXPECT_EQ(0, clean.status) << clean.errors;
    const std::string locked = ": in use (a user of the library holds its lock)\n";
    for (const std::string& kept :
         {"kept " + names[10] + locked, "kept " + names[20] + ": another process is removing it\n",
          "kept " + names[30] + ": in use by " + std::to_string(reader->pid()) + "\n"}) {
        EXPECT_NE(std::string::npos, clean.output.find(kept)) << kept;
    }
    std::size_t moved = 0;
    std::size_t deleted = 0;
    alignas(inotify_event) char events[65536];
    for (ssize_t got = 0; (got = read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            moved += (event->mask & (IN_MOVED_FROM | IN_MOVED_TO)) != 0 ? 1 : 0;
            deleted += (event->mask & IN_DELETE) != 0 ? 1 : 0;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    EXPECT_EQ(0u, moved);
    EXPECT_EQ(names.size() - 3, deleted);
    for (const std::string& kept : {names[10], names[20], names[30]}) {
        EXPECT_TRUE(shmExists(kept)) << kept;
    }
}

// A file takes the name of a locked orphan before clean removes it: clean
// sees the name no longer means the file it locked.
TEST_F(ShmTool, AFileThatTookALockedOrphansNameIsKept)
{
    std::vector<std::string> names;
    const std::unique_ptr<ChildProcess> clean = cleanStoppedWithItsLocks(names);
    ASSERT_EQ(0, rename(("/dev/shm/" + names.back()).c_str(), "/dev/shm/swapped-away"));
    writeBlock(names.back(), std::vector<unsigned char>(16));
    const ino_t swappedIn = inodeOf(names.back());
    kill(clean->pid(), SIGCONT);

    const ToolRun result = finish(*clean);
    EXPECT_EQ(0, result.status) << result.errors;
    EXPECT_NE(std::string::npos, result.output.find("kept " + names.back() + ": changed since it was listed\n"));
    EXPECT_EQ(swappedIn, inodeOf(names.back()));
}

// Nothing is ever out of place: SIGTERM ends a clean that holds its locks
// at once, and what it had not removed is there as it was, its locks gone.
TEST_F(ShmTool, SigtermEndsACleanThatHoldsItsLocksAtOnceAndLeavesEveryObjectAsItWas)
{
    std::vector<std::string> names;
    const std::unique_ptr<ChildProcess> clean = cleanStoppedWithItsLocks(names);
    const ino_t last = inodeOf(names.back());
    ASSERT_EQ(0, kill(clean->pid(), SIGTERM)); // it takes effect once clean runs again
    ASSERT_EQ(0, kill(clean->pid(), SIGCONT));
    for (int waited = 0; !clean->ended() && waited < 1000; waited += 10) {
        usleep(10000);
    }
    EXPECT_TRUE(clean->ended()) << "clean did not end within a second";
    clean->readRest();
    EXPECT_EQ(-SIGTERM, clean->wait());
    EXPECT_EQ(last, inodeOf(names.back()));
    EXPECT_EQ(std::vector<std::string>(), setAsideNames());
    const int fd = open(("/dev/shm/" + names.back()).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB)) << "its lock outlived clean";
    close(fd);
}

// What a clean of an earlier version, killed while objects were set aside,
// left: listed with their users, shown as the record they hold, and the next
// clean removes those nobody uses and keeps the one in use where it is.
TEST_F(ShmTool, LeftoversOfAnEarlierCleanAreListedShownAndSettled)
{
    const std::string syncAside = ".okr-shm-0123456789abcdef-okr-sync";
    const std::string infoAside = ".okr-shm-0123456789abcdef-okr-info-7";
    const std::string newAside = ".okr-shm-0123456789abcdef-.okr-new-0123456789abcdef01234567";
    writeBlock(syncAside, std::vector<unsigned char>(16));
    writeBlock(infoAside, std::vector<unsigned char>(135880));
    writeBlock(newAside, std::vector<unsigned char>(16));
    const std::unique_ptr<ChildProcess> holder = holding("/dev/shm/" + syncAside);
    const std::string holderPid = std::to_string(holder->pid());

    for (const std::string& name : {syncAside, infoAside}) {
        const json row = listed(name);
        EXPECT_EQ(true, row["set_aside"]) << row;
        EXPECT_EQ(name.substr(26), row["set_aside_from"]) << row;
        EXPECT_EQ("ok", row["layout"]) << row;
        EXPECT_EQ(name == syncAside ? "in use" : "orphaned", row["state"]) << row;
        const ToolRun show = runTool({"show", name});
        EXPECT_EQ(0, show.status) << show.errors;
        EXPECT_NE(std::string::npos, show.output.find(name == syncAside ? "\nKIND    sync" : "\nKIND    info"))
            << show.output;
    }
    EXPECT_EQ("unpublished", listed(newAside)["kind"]);
    const std::string forged = ".okr-shm-1111111111111111-.okr-new-0123456789ABCDEF01234567"; // no creator's name
    writeBlock(forged, std::vector<unsigned char>(16));
    EXPECT_EQ(json(), listed(forged)["set_aside_from"]);

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_EQ("kept " + syncAside + ": in use by " + holderPid + "\nremoved " + newAside + "\nremoved " + infoAside +
                  "\nremoved " + forged + "\n",
              clean.output);
    EXPECT_TRUE(shmExists(syncAside));
    EXPECT_FALSE(shmExists(infoAside) || shmExists(newAside) || shmExists(forged));
}

// A SharedRecord creator stalled between building its block and publishing
// it (the peer's record constructor waits), as one that uses a hidden name
// does: the block is listed as unpublished, in use by its creator, and clean
// keeps it where it is (its ctime says it was never moved, not even aside
// and back): the creator then publishes it as if nobody had looked.
TEST_F(ShmTool, AnUnpublishedBlockItsCreatorIsBuildingIsListedAndKeptWhereItIs)
{
    ChildProcess creator(recordPeer, {"--publish=hidden", "stall", "okr-record"}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(creator.readLine(line) && line == "building") << line;
    const std::vector<std::string> hidden = unpublishedNames();
    ASSERT_EQ(1u, hidden.size());
    const std::string pid = std::to_string(creator.pid());

    const json row = listed(hidden[0]);
    EXPECT_EQ("unpublished", row["kind"]) << row;
    EXPECT_EQ("in use", row["state"]) << row;
    EXPECT_EQ(json::array({creator.pid()}), row["users"]) << row;
    EXPECT_EQ(json(), row["layout"]) << row;
    EXPECT_EQ(false, row["set_aside"]) << row;
    EXPECT_EQ(hidden[0] + " unpublished 65536 " + pid + "\n",
              runTool({"list", "-n", "--raw", "-o", "name,kind,size,users"}).output);
    const struct timespec before = changedAt(hidden[0]);

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_NE(std::string::npos, clean.output.find("kept " + hidden[0] + ": in use by " + pid + "\n")) << clean.output;
    const struct timespec after = changedAt(hidden[0]);
    EXPECT_TRUE(before.tv_sec == after.tv_sec && before.tv_nsec == after.tv_nsec) << "clean moved it";
    creator.write("\n");
    EXPECT_TRUE(creator.readLine(line) && line == "published") << line;
    EXPECT_EQ(0, creator.wait());
    EXPECT_EQ(std::vector<std::string>(), unpublishedNames());
}

// A creator killed between building and publishing leaves its block under
// the hidden name: orphaned, and removed by clean. Names that only look like
// one (upper-case or too few or many digits, not hex) are no creator's:
// neither listed nor touched.
TEST_F(ShmTool, AnUnpublishedBlockOfAKilledCreatorIsRemovedAndNoOtherNameCounts)
{
    ChildProcess creator(recordPeer, {"--publish=hidden", "stall", "okr-record"}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(creator.readLine(line) && line == "building") << line;
    kill(creator.pid(), SIGKILL);
    creator.wait();
    const std::vector<std::string> left = unpublishedNames();
    ASSERT_EQ(1u, left.size());
    const std::string digits = left[0].substr(9);
    const std::vector<std::string> lookalikes{".okr-new-A" + digits.substr(1), ".okr-new-" + digits.substr(1),
                                              ".okr-new-" + digits + "0", ".okr-new-" + digits.substr(1) + "g",
                                              ".OKR-NEW-" + digits};
    for (const std::string& name : lookalikes) {
        writeBlock(name, std::vector<unsigned char>(16));
    }

    const ToolRun list = runTool({"list", "--json"});
    EXPECT_EQ(0, list.status) << list.errors;
    const json rows = json::parse(list.output);
    ASSERT_EQ(1u, rows.size()) << list.output;
    EXPECT_EQ(left[0], rows[0]["name"]);
    EXPECT_EQ("unpublished", rows[0]["kind"]);
    EXPECT_EQ("orphaned", rows[0]["state"]);
    EXPECT_EQ(65536, rows[0]["size"]);

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_EQ("removed " + left[0] + "\n", clean.output);
    EXPECT_FALSE(shmExists(left[0]));
    for (const std::string& name : lookalikes) {
        EXPECT_TRUE(shmExists(name)) << name;
    }
}

// Names in the hidden form made beforehand by other users: the one a
// predictable choice would take, a FIFO, a forged leftover in use whose name
// is taken, and an unused file in the form of an earlier version. clean
// removes its orphan and the unused file, keeps the rest, and succeeds.
TEST_F(ShmTool, HiddenNamesSquattedBeforehandNeitherStopNorFailClean)
{
    const std::string record = okr::common::infoRecordName(2000000000, "", "okr-info-");
    writeBlock(record, std::vector<unsigned char>(16));
    writeBlock("okr-sync", std::vector<unsigned char>(16));
    const ino_t syncInode = inodeOf("okr-sync");
    const std::string squatted = ".okr-shm-0000000000000000-" + record;
    const std::string forged = ".okr-shm-2222222222222222-okr-sync";
    ASSERT_EQ(0, mkdir(("/dev/shm/" + squatted).c_str(), 0755));
    ASSERT_EQ(0, mkfifo("/dev/shm/.okr-shm-1111111111111111-okr-info-1", 0644));
    writeBlock(forged, std::vector<unsigned char>(16));
    const std::unique_ptr<ChildProcess> squatter = holding("/dev/shm/" + forged);
    writeBlock(".okr-shm-4242-99", std::vector<unsigned char>(16));

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_EQ("", clean.errors);
    EXPECT_NE(std::string::npos, clean.output.find("removed " + record + "\n")) << clean.output;
    EXPECT_NE(std::string::npos, clean.output.find("removed .okr-shm-4242-99\n")) << clean.output;
    EXPECT_NE(std::string::npos,
              clean.output.find("kept " + forged + ": in use by " + std::to_string(squatter->pid()) + "\n"))
        << clean.output;
    EXPECT_EQ(syncInode, inodeOf("okr-sync")) << "a forged leftover took okr-sync's name";
    EXPECT_NE(0u, inodeOf(forged));
    EXPECT_NE(0u, inodeOf(squatted));
}

// A record is named with its process's id in the check's own namespace; the
// tool, outside, names that process by the id it sees.
TEST_F(ShmTool, ARecordMadeInAChildPidNamespaceIsUsedByItsProcessUnderItsOuterId)
{
    startChildrenInOwnPidNamespace();
    ChildProcess::Options inWorld;
    inWorld.procOfItsOwn = true;
    setNextIdInWorld(unusedProcessId());
    ChildProcess waiting(check, inWorld);
    std::string record;
    ASSERT_TRUE(startCheck(waiting, record));
    ASSERT_NE(waiting.pid(), idInWorld(waiting.pid()));

    const json row = listed(record);
    EXPECT_EQ(waiting.pid(), row["owner_process"]) << row;
    EXPECT_EQ(json::array({waiting.pid()}), row["users"]) << row;
    const ToolRun clean = runTool({"clean"});
    EXPECT_NE(std::string::npos,
              clean.output.find("kept " + record + ": in use by " + std::to_string(waiting.pid()) + "\n"))
        << clean.output;
    waiting.write("\n");
    EXPECT_EQ(0, waiting.wait());
}

TEST_F(ShmTool, AnObjectAnotherCleanRemovedFirstIsAlreadyGone)
{
    std::string record;
    ASSERT_TRUE(killedCheck(record));
    const std::unique_ptr<ChildProcess> first = stalledClean();
    const ToolRun second = runTool({"clean"});
    ASSERT_NE(std::string::npos, second.output.find("removed " + record + "\n")) << second.output;

    const ToolRun late = finish(*first);
    EXPECT_EQ(0, late.status) << late.errors;
    EXPECT_NE(std::string::npos, late.output.find("already gone " + record + "\n")) << late.output;
    EXPECT_EQ("", late.errors);
}

// A peer shrinks and regrows the record as fast as it can while show reads
// it: every run ends by itself, and says so when the record changed.
TEST_F(ShmTool, ARecordResizedWhileShownIsReportedNeverASignal)
{
    writeBlock("okr-info-9", std::vector<unsigned char>(135880, 1));
    const pid_t peer = fork();
    if (peer == 0) {
        const int fd = open("/dev/shm/okr-info-9", O_RDWR);
        for (;;) {
            (void)!ftruncate(fd, 0);
            (void)!ftruncate(fd, 135880);
        }
    }
    struct EndPeer {
        pid_t pid;
        ~EndPeer()
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } endPeer{peer};

    int changed = 0;
    for (int run = 0; run < 300 && changed < 5; ++run) {
        const ToolRun show = runTool({"show", "okr-info-9", "--hex"});
        ASSERT_LE(0, show.status) << "ended by signal " << -show.status;
        if (show.status == 0) {
            continue;
        }
        const bool resized = show.errors == "okr-shm: okr-info-9 changed while it was read\n";
        changed += resized ? 1 : 0;
        EXPECT_TRUE(resized || show.errors.find("okr-info-9 is 0 bytes, not the 135880") != std::string::npos)
            << show.errors;
    }
    EXPECT_LT(0, changed);
}

// The record is resized and half rewritten while show sits in its read
// (held there by strace): the copy is neither the old record nor the new
// one, and not one of its bytes may be printed as the record's.
TEST_F(ShmTool, ARecordRewrittenWhileShownIsReportedAndNoTornCopyPrinted)
{
    writeBlock("okr-info-9", std::vector<unsigned char>(135880, 1));
    const std::unique_ptr<ChildProcess> show =
        startTraced({"-P", "/dev/shm/okr-info-9", "-e", "trace=pread64", "-e",
                     "inject=pread64:delay_enter=2000000:when=1", tool, "show", "okr-info-9", "--hex"});
    ASSERT_TRUE(tracedEnters(*show, SYS_pread64)) << "show never reached its read";
    ASSERT_EQ(0, runCommand("cd /dev/shm && truncate -s 0 okr-info-9 && truncate -s 135880 okr-info-9 && "
                            "printf '\\2%.0s' $(seq 1000) | dd of=okr-info-9 conv=notrunc status=none")
                     .status);

    const ToolRun run = finish(*show);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("okr-shm: okr-info-9 changed while it was read\n", run.errors);
    EXPECT_EQ("", run.output) << "a torn copy";
}

// How the removal of an orphan ends as the system answers: its name gone
// by another hand just before (strace holds clean there), or still there
// after a removal that said it succeeded (strace answers for the system).
TEST_F(ShmTool, CleanSaysHowTheRemovalOfAnOrphanEnded)
{
    const std::string name = orphans(1).front();
    const std::unique_ptr<ChildProcess> held =
        startTraced({"-e", "trace=unlinkat", "-e", "inject=unlinkat:delay_enter=2000000", tool, "clean"});
    ASSERT_TRUE(tracedEnters(*held, SYS_unlinkat)) << "clean never reached the removal";
    ASSERT_EQ(0, unlink(("/dev/shm/" + name).c_str()));
    const ToolRun gone = finish(*held);
    EXPECT_EQ(0, gone.status) << gone.errors;
    EXPECT_EQ("already gone " + name + "\n", gone.output);

    writeBlock(name, {});
    const ToolRun kept =
        finish(*startTraced({"-e", "trace=unlinkat", "-e", "inject=unlinkat:retval=0", tool, "clean"}));
    EXPECT_EQ(1, kept.status);
    EXPECT_EQ("okr-shm: cannot remove " + name + ": still there after it was removed\n", kept.errors);
}

TEST_F(ShmTool, ARecordItMayNotOpenIsReportedWithTheSystemsReason)
{
    writeBlock("okr-info-5", std::vector<unsigned char>(135880));
    ASSERT_EQ(0, chmod("/dev/shm/okr-info-5", 0600));
    const ToolRun show = runTool({"show", "okr-info-5"}, strangerUid);
    EXPECT_EQ(1, show.status);
    EXPECT_EQ("okr-shm: cannot open okr-info-5: Permission denied\n", show.errors);
}

} // namespace
