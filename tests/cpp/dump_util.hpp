// Runs the brackle-dump binary as a separate process and collects what it
// writes to standard output, with its exit status.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

namespace brackle_test {

struct DumpRun {
    std::string out;
    int status = -1;        // the exit status; -1 for a crash or no start
    bool too_long = false;  // reading stopped at the limit
};

// Runs `brackle-dump ARGS`. Reading stops after `limit` bytes, so a tool
// that never ends cannot exhaust memory: it then dies of the closed pipe.
inline DumpRun run_dump(const std::string& args,
                        std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    const std::string command = std::string(BRACKLE_DUMP_PATH) + " " + args;
    DumpRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        run.out.append(buf, n);
        if (run.out.size() > limit) {
            run.too_long = true;
            break;
        }
    }
    const int status = pclose(pipe);
    run.status = !run.too_long && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Runs `brackle-dump COMMAND FILE` with `text` in a file, or piped in as `-`.
inline DumpRun dump_text(std::string_view command, const std::string& text,
                         bool from_stdin = false) {
    // One file per test: ctest runs the tests as parallel processes.
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("brackle_dump_" + std::string(test->test_suite_name()) + "_" + test->name() + ".yaml");
    std::ofstream(file, std::ios::binary) << text;
    const DumpRun run =
        run_dump(std::string(command) + (from_stdin ? " - < '" : " '") + file.string() + "'");
    std::filesystem::remove(file);
    return run;
}

}  // namespace brackle_test
