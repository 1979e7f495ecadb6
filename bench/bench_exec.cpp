// Starting short programs with "Wait" on through the execute program action,
// against posix_spawn + waitpid alone for the same programs and arguments.
// Both are measured in the same run, alternately, and the best round of each
// is compared; the goal is a ratio of at most 1.5.
//
// Usage: bench_exec [programs per round, default 1000] [rounds, default 5]

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "actions/exec_action.h"

namespace {

using Clock = std::chrono::steady_clock;

double SpawnAndWait(const std::vector<std::string>& names) {
    auto start = Clock::now();
    for (const std::string& name : names) {
        char* argv[] = {const_cast<char*>("/bin/true"), const_cast<char*>(name.c_str()), nullptr};
        pid_t pid;
        if (posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0) {
            std::fprintf(stderr, "posix_spawn failed\n");
            std::exit(1);
        }
        int status;
        while (waitpid(pid, &status, 0) < 0) {
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ThroughAction(quorvel::ExecAction& action, const quorvel::FileList& files) {
    quorvel::PlainRunControl control;
    auto start = Clock::now();
    action.Execute(files, quorvel::DateTime::Now(), control);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    quorvel::FileList files;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        std::string path = "/tmp/bench/file" + std::to_string(i) + ".txt";
        files.emplace_back(path, quorvel::DateTime(45000.5), 100, quorvel::FileKind::Changed);
        names.push_back(path);
    }
    quorvel::ExecAction action;
    action.Params().ParseLine("Command=/bin/true");
    action.Params().ParseLine("Params=\"%File\"");
    action.Params().ParseLine("Wait=1");
    action.Params().ParseLine("MultiArgs=0");

    std::vector<double> plain;
    std::vector<double> viaAction;
    SpawnAndWait(std::vector<std::string>(names.begin(), names.begin() + std::min(count, 50)));
    for (int r = 0; r < rounds; ++r) {
        plain.push_back(SpawnAndWait(names));
        viaAction.push_back(ThroughAction(action, files));
        std::printf("round %d: posix_spawn+waitpid %.3f s, ExecAction %.3f s\n", r + 1,
                    plain.back(), viaAction.back());
    }
    const double bestPlain = *std::min_element(plain.begin(), plain.end());
    const double bestAction = *std::min_element(viaAction.begin(), viaAction.end());
    std::sort(plain.begin(), plain.end());
    std::sort(viaAction.begin(), viaAction.end());
    const double medPlain = plain[plain.size() / 2];
    const double medAction = viaAction[viaAction.size() / 2];
    std::printf("%d programs: best posix_spawn+waitpid %.3f s (%.0f us each), best ExecAction "
                "%.3f s (%.0f us each)\n",
                count, bestPlain, bestPlain * 1e6 / count, bestAction, bestAction * 1e6 / count);
    std::printf("ratio best %.2f, median %.2f (goal <= 1.50)\n", bestAction / bestPlain,
                medAction / medPlain);
    return bestAction / bestPlain <= 1.5 ? 0 : 2;
}
