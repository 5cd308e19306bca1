// The operator's tool, run as an operator runs it, beside real runs of the
// console check, each test in a world of its own (PrivateWorld).

#include "support/ChildProcess.h"
#include "support/DevShm.h"
#include "support/PrivateWorld.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

using namespace okr::testing;
using nlohmann::json;

const std::string tool = OKR_TOOL_PROGRAM;
const std::string check = OKR_CHECK_PROGRAM;
constexpr int strangerUid = 54321; // no passwd entry, no rights to root's processes

struct ToolRun {
    int status;
    std::string output;
    std::string errors;
};

ToolRun runTool(const std::vector<std::string>& arguments, int asUser = -1)
{
    ChildProcess::Options options;
    options.separateErrors = true;
    options.runAsUser = asUser;
    ChildProcess run(tool, arguments, options);
    run.closeInput();
    ToolRun result;
    result.output = run.readRest();
    result.errors = run.readErrors();
    result.status = run.wait();
    return result;
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

class ShmTool : public PrivateWorld {
protected:
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
        ASSERT_EQ(9u, cells.size()) << line.str(); // STATE "in use" is two words
        EXPECT_EQ("ok", cells[3]);
        EXPECT_EQ(std::to_string(pid.get<int>()), cells[6]);
        EXPECT_EQ("in", cells[7]);
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

TEST_F(ShmTool, ProcessesItMayNotInspectMakeTheStateUnknownAndCleanKeepsAll)
{
    ChildProcess killed(check);
    std::string left;
    ASSERT_TRUE(startCheck(killed, left));
    kill(killed.pid(), SIGKILL);
    killed.wait();
    ChildProcess waiting(check); // root's, so a stranger cannot read its maps
    std::string kept;
    ASSERT_TRUE(startCheck(waiting, kept));

    // The waiting check's own record stays in use: its process is alive.
    const ToolRun list = runTool({"list", "--json"}, strangerUid);
    for (const json& object : json::parse(list.output)) {
        EXPECT_EQ(object["name"] == kept ? "in use" : "unknown", object["state"]) << object;
        EXPECT_EQ(false, object["users_complete"]) << object;
    }
    const ToolRun clean = runTool({"clean"}, strangerUid);
    EXPECT_EQ(0, clean.status) << clean.errors;
    EXPECT_NE(std::string::npos, clean.output.find("kept " + left + ": state unknown")) << clean.output;
    EXPECT_TRUE(shmExists(left));
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

TEST_F(ShmTool, CleanThatCannotRemoveSaysSoAndFailsWithStatusOne)
{
    writeBlock("okr-info-1234", std::vector<unsigned char>(135880));
    ASSERT_EQ("orphaned", listed("okr-info-1234")["state"]);
    ASSERT_EQ(0, mount(nullptr, "/dev/shm", nullptr, MS_REMOUNT | MS_RDONLY, nullptr));

    const ToolRun clean = runTool({"clean"});
    EXPECT_EQ(1, clean.status) << clean.output;
    EXPECT_NE(std::string::npos, clean.errors.find("cannot remove")) << clean.errors;
    EXPECT_TRUE(shmExists("okr-info-1234"));
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
    EXPECT_EQ(bytes.size(), record["size"]);
    EXPECT_EQ("ok", record["layout"]);
    // The areas tile the record in address order and see every byte set.
    std::size_t end = 0;
    std::size_t nonZero = 0;
    for (const json& area : record["areas"]) {
        EXPECT_EQ(end, area["offset"]) << area;
        end += area["size"].get<std::size_t>();
        nonZero += area["nonzero"].get<std::size_t>();
    }
    EXPECT_EQ(bytes.size(), end);
    EXPECT_EQ(3u, nonZero);
    EXPECT_EQ("41", record["areas"][0]["first"].get<std::string>().substr(0, 2));

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
    writeBlock(name, bytes);

    const ToolRun hex = runTool({"show", name, "--hex"});
    EXPECT_EQ(0, hex.status) << hex.errors;
    EXPECT_EQ(runCommand("hexdump -C /dev/shm/" + name).output, hex.output);
}

INSTANTIATE_TEST_SUITE_P(Records, ShmToolShow,
                         ::testing::Values(std::make_pair(std::string("okr-sync"), std::size_t{16}),
                                           std::make_pair(std::string("okr-info-1234"), std::size_t{135880})));

TEST_F(ShmTool, WrongSizeObjectsAreReportedAndNeverRead)
{
    for (const auto& object : {std::make_pair("okr-sync", 20), std::make_pair("okr-info-7", 100)}) {
        writeBlock(object.first, std::vector<unsigned char>(static_cast<std::size_t>(object.second), 1));
        EXPECT_EQ("wrong size", listed(object.first)["layout"]) << object.first;

        const ToolRun show = runTool({"show", object.first});
        EXPECT_EQ(1, show.status) << object.first;
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
                      Usage{{"show", ".."}, 2, "not a name"},
                      Usage{{"show", "okr-sync", "--hex", "--json"}, 2, "excludes"},
                      Usage{{"show", "okr-info-404"}, 1, "okr-shm: no shared object okr-info-404\n"},
                      Usage{{"--version"}, 0, "okr-shm " OKR_VERSION "\n"}, Usage{{"--help"}, 0, "clean"}));

TEST_F(ShmTool, UnreadableFolderFailsWithStatusOne)
{
    ASSERT_EQ(0, chmod("/dev/shm", 0700));
    const ToolRun run = runTool({"list"}, strangerUid);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("okr-shm: cannot read the shared folder /dev/shm\n", run.errors);
}

} // namespace
