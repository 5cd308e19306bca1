// Times whole process runs: each program is started with standard input at
// end of file and its output captured, in rounds that run every program once
// (the order rotates each round, so no program always runs first), and the
// wall time from spawn to reaped exit is taken with CLOCK_MONOTONIC. The
// minor page faults of each run (wait4) are shown too: loading libraries
// costs mostly faults and mappings, which instruction counts do not see.
//
//   okr-bench-timer [--rounds N] [--warmup N] [--target R] [--tsv FILE]
//                   [--expect LABEL=TEXT]... LABEL=PATH... REFLABEL=PATH
//
// The last program is the reference: for every other one the median of its
// per-round ratios to the reference is printed, and --target R states whether
// the first program's median ratio is at most R. Listing programs from most
// to least work makes the "minus next" column (median of per-round
// differences to the next program) the cost of what each adds. --tsv writes
// label, median ms, median ratio and median difference to FILE for scripts. A run that exits non-zero,
// or whose output lacks a text expected of it, ends the benchmark with
// status 1: a failed run must never count as a fast one.

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Program {
    std::string label;
    std::string path;
    std::vector<std::string> expected;
    int output = -1; // memfd that receives stdout and stderr
    std::vector<double> millis;
    std::vector<double> faults; // minor page faults per run
};

double nowMillis()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

[[noreturn]] void usage(const char* message)
{
    std::fprintf(stderr, "okr-bench-timer: %s\n", message);
    std::fprintf(stderr, "usage: okr-bench-timer [--rounds N] [--warmup N] [--target R] "
                         "[--expect LABEL=TEXT]... LABEL=PATH... REFLABEL=PATH\n");
    std::exit(2);
}

int parseCount(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 1000000) {
        usage("--rounds and --warmup want a whole number from 0 to 1000000");
    }
    return static_cast<int>(value);
}

double parseRatio(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(value > 0.0)) {
        usage("--target wants a positive number");
    }
    return value;
}

bool splitPair(const std::string& arg, std::string& left, std::string& right)
{
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    left = arg.substr(0, eq);
    right = arg.substr(eq + 1);
    return true;
}

// One complete run; returns its wall time in milliseconds or exits on failure.
double runOnce(Program& program, int devNull, double& faults)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, program.output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, program.output, STDERR_FILENO);
    char* argv[] = {const_cast<char*>(program.path.c_str()), nullptr};

    pid_t child = 0;
    const double start = nowMillis();
    const int spawned = posix_spawn(&child, program.path.c_str(), &actions, nullptr, argv, environ);
    int status = 0;
    pid_t reaped = -1;
    rusage usage{};
    if (spawned == 0) {
        do {
            reaped = wait4(child, &status, 0, &usage);
        } while (reaped < 0 && errno == EINTR);
    }
    const double elapsed = nowMillis() - start;
    posix_spawn_file_actions_destroy(&actions);

    const std::string output = readAll(program.output);
    bool ok = spawned == 0 && reaped == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::string missing;
    for (const std::string& text : program.expected) {
        if (output.find(text) == std::string::npos) {
            ok = false;
            missing = text;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "okr-bench-timer: run of %s (%s) failed", program.label.c_str(), program.path.c_str());
        if (spawned != 0) {
            std::fprintf(stderr, ": cannot start: %s", std::strerror(spawned));
        } else if (WIFEXITED(status)) {
            std::fprintf(stderr, ": exit status %d", WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            std::fprintf(stderr, ": signal %d", WTERMSIG(status));
        }
        if (!missing.empty()) {
            std::fprintf(stderr, "; output lacks \"%s\"", missing.c_str());
        }
        std::fprintf(stderr, "\n--- its output ---\n%s--- end ---\n", output.c_str());
        std::exit(1);
    }
    // Empty the capture for the next run (the child shared its file offset).
    if (ftruncate(program.output, 0) != 0 || lseek(program.output, 0, SEEK_SET) != 0) {
        std::perror("okr-bench-timer: reset capture");
        std::exit(1);
    }
    faults = static_cast<double>(usage.ru_minflt);
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 20;
    int warmup = 3;
    double target = 0.0;
    const char* tsvPath = nullptr;
    std::vector<Program> programs;
    std::vector<std::pair<std::string, std::string>> expectations;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rounds" && hasValue) {
            rounds = parseCount(argv[++i]);
        } else if (arg == "--warmup" && hasValue) {
            warmup = parseCount(argv[++i]);
        } else if (arg == "--target" && hasValue) {
            target = parseRatio(argv[++i]);
        } else if (arg == "--tsv" && hasValue) {
            tsvPath = argv[++i];
        } else if (arg == "--expect" && hasValue) {
            std::string label;
            std::string text;
            if (!splitPair(argv[++i], label, text)) {
                usage("--expect wants LABEL=TEXT");
            }
            expectations.emplace_back(label, text);
        } else {
            Program program;
            if (!splitPair(arg, program.label, program.path)) {
                usage(("not LABEL=PATH: " + arg).c_str());
            }
            programs.push_back(program);
        }
    }
    if (programs.size() < 2 || rounds < 1 || warmup < 0) {
        usage("needs at least two programs and at least one round");
    }
    for (const auto& expectation : expectations) {
        bool known = false;
        for (Program& program : programs) {
            if (program.label == expectation.first) {
                program.expected.push_back(expectation.second);
                known = true;
            }
        }
        if (!known) {
            usage(("--expect names no program: " + expectation.first).c_str());
        }
    }

    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0) {
        std::perror("okr-bench-timer: /dev/null");
        return 1;
    }
    for (Program& program : programs) {
        program.output = memfd_create("okr-bench-output", MFD_CLOEXEC);
        if (program.output < 0) {
            std::perror("okr-bench-timer: memfd_create");
            return 1;
        }
    }

    const std::size_t count = programs.size();
    std::vector<std::vector<double>> ratios(count);
    std::vector<std::vector<double>> differences(count);
    for (int round = 0; round < warmup + rounds; ++round) {
        std::vector<double> times(count);
        std::vector<double> faults(count);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t index = (k + static_cast<std::size_t>(round)) % count;
            times[index] = runOnce(programs[index], devNull, faults[index]);
        }
        if (round < warmup) {
            continue;
        }
        for (std::size_t p = 0; p < count; ++p) {
            programs[p].millis.push_back(times[p]);
            programs[p].faults.push_back(faults[p]);
            ratios[p].push_back(times[p] / times[count - 1]);
            if (p + 1 < count) {
                differences[p].push_back(times[p] - times[p + 1]);
            }
        }
    }

    const Program& reference = programs.back();
    std::printf("%d rounds after %d warm-up rounds; each round runs every program once, "
                "order rotated; stdin at end of file\n",
                rounds, warmup);
    std::FILE* tsv = tsvPath != nullptr ? std::fopen(tsvPath, "w") : nullptr;
    if (tsvPath != nullptr && tsv == nullptr) {
        std::perror("okr-bench-timer: --tsv");
        return 1;
    }
    std::printf("%-18s %10s %9s %9s %13s %14s %12s\n", "program", "median ms", "min ms", "max ms", "minus next ms",
                ("ratio to " + reference.label).c_str(), "page faults");
    for (std::size_t p = 0; p < count; ++p) {
        const Program& program = programs[p];
        const double difference = p + 1 < count ? median(differences[p]) : 0.0;
        char differenceText[32] = "-";
        if (p + 1 < count) {
            std::snprintf(differenceText, sizeof differenceText, "%.3f", difference);
        }
        std::printf("%-18s %10.3f %9.3f %9.3f %13s %14.2f %12.0f\n", program.label.c_str(), median(program.millis),
                    *std::min_element(program.millis.begin(), program.millis.end()),
                    *std::max_element(program.millis.begin(), program.millis.end()), differenceText, median(ratios[p]),
                    median(program.faults));
        if (tsv != nullptr) {
            std::fprintf(tsv, "%s\t%.6f\t%.6f\t%.6f\n", program.label.c_str(), median(program.millis),
                         median(ratios[p]), difference);
        }
    }
    if (tsv != nullptr) {
        std::fclose(tsv);
    }
    if (target > 0.0) {
        const double ratio = median(ratios[0]);
        std::printf("target: median of per-round ratios %s/%s <= %.2f: %s (%.2f)\n", programs[0].label.c_str(),
                    reference.label.c_str(), target, ratio <= target ? "HOLDS" : "MISSED", ratio);
    }
    return 0;
}
