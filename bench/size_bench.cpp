// brackle-bench-size: the round trip at scale. One generated stream per size
// is loaded (loader::parse) and emitted (emitter::emit, default options) once,
// and the output checked to be the input byte for byte. The table gives the
// time, the throughput and the peak memory of each size, and checks that time
// per MB at the large size stays within 1.3 of that at 64 MB (linear time) and
// that peak memory stays within 12x the input for the load and 16x for the
// round trip.
//
// Each size runs in a process of its own (this program with --one), so that
// one size's memory never counts towards another's: the peak is the rise of
// the process's peak resident memory (VmHWM, reset once the input is made)
// over its resident memory just before the load. So it holds everything the
// load and the emit take from the system, the output and the memory malloc
// keeps after a free included, and nothing of the generator.
//
// Usage:
//   brackle-bench-size              64 MB (best of 3 processes) and the large
//                                   size, BRACKLE_BENCH_SIZE_MB or 1024 (0: none)
//   brackle-bench-size --one MB [--limit S]
//                                   one round trip of MB, one line of figures;
//                                   killed after S seconds
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/src/emitter/emitter.hpp"
#include "core/src/loader.hpp"
#include "tools/generator.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double mb = 1e6;
constexpr int small_mb = 64;
constexpr int small_runs = 3;
constexpr int default_large_mb = 1024;
constexpr double linear_limit = 1.3;     // time per MB, large over small
constexpr double load_peak_limit = 12;   // multiples of the input
constexpr double round_trip_limit = 16;  // multiples of the input
constexpr double memory_needed = 20;     // MemAvailable wanted for a run, in inputs

// ---- one size, in its own process --------------------------------------------

// A `key: N kB` field of /proc/self/status or /proc/meminfo, in bytes; 0 if absent.
std::uint64_t proc_kb(const char* file, std::string_view key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == ':') {
            return std::strtoull(line.c_str() + key.size() + 1, nullptr, 10) * 1024;
        }
    }
    return 0;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User and system seconds of this process so far, and the seconds it
// waited on a run queue for a core (0 where /proc/self/schedstat is missing).
struct CpuTime {
    double user = 0;
    double sys = 0;
    double queued = 0;
};

CpuTime cpu_time() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    double queued_ns = 0;
    double run_ns = 0;
    std::ifstream("/proc/self/schedstat") >> run_ns >> queued_ns;
    return CpuTime{
        static_cast<double>(u.ru_utime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec) / 1e6,
        static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6,
        queued_ns / 1e9};
}

// The figures of one run; the child prints them on one line, the parent reads them.
struct Figures {
    std::uint64_t bytes = 0;
    double generate = 0;
    double load = 0;
    double emit = 0;
    double free = 0;  // dropping the documents and the output
    // User and system time of load, emit and free. System time is mostly
    // the kernel handing out fresh pages.
    double user = 0;
    double sys = 0;
    double queued = 0;            // waiting for a core while other processes ran
    std::uint64_t base = 0;       // resident bytes just before the load
    std::uint64_t load_peak = 0;  // peak resident bytes up to the end of the load
    std::uint64_t peak = 0;       // peak resident bytes up to the end of the round trip
    int identical = 0;

    double round_trip() const { return load + emit + free; }
    // Input plus what the process took on top of it, over the input.
    double multiple(std::uint64_t resident) const {
        const double added = resident > base ? static_cast<double>(resident - base) : 0.0;
        return (static_cast<double>(bytes) + added) / static_cast<double>(bytes);
    }
};

constexpr const char* figures_format =
    "figures %" SCNu64 " %lf %lf %lf %lf %lf %lf %lf %" SCNu64 " %" SCNu64 " %" SCNu64 " %d";

// Where `a` and `b` first differ, as "byte N (line L)".
std::string first_difference(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    const auto at = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin()).first -
        a.begin());
    const auto line = std::count(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1;
    return "byte " + std::to_string(at) + " (line " + std::to_string(line) + ")";
}

int run_one(int size_mb) {
    Figures f;
    auto start = Clock::now();
    const std::string text =
        brackle_bench::generate_config_stream(static_cast<std::size_t>(size_mb) * 1000000, 1);
    f.generate = seconds_since(start);
    f.bytes = text.size();

    // From here on the peak counts the round trip only: writing 5 to
    // clear_refs sets VmHWM back to the current resident size.
    f.base = proc_kb("/proc/self/status", "VmRSS");
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    if (proc_kb("/proc/self/status", "VmHWM") > f.base + 16 * 1024 * 1024) {
        std::fprintf(stderr, "brackle-bench-size: could not reset the peak (VmHWM)\n");
        return 1;
    }

    const CpuTime cpu_start = cpu_time();
    start = Clock::now();
    std::optional<brackle_core::LoadResult> loaded = brackle_core::loader::parse(text);
    f.load = seconds_since(start);
    f.load_peak = proc_kb("/proc/self/status", "VmHWM");
    if (const auto* error = std::get_if<brackle_core::ParseError>(&*loaded)) {
        std::fprintf(stderr, "brackle-bench-size: %d MB: load error at line %u col %u: %s\n",
                     size_mb, error->line + 1, error->col, error->message.c_str());
        return 1;
    }

    start = Clock::now();
    std::optional<brackle_core::EmitResult> emitted = brackle_core::emitter::emit(
        std::get<std::vector<brackle_core::Document>>(*loaded), brackle_core::EmitOptions{});
    f.emit = seconds_since(start);
    const CpuTime cpu_mid = cpu_time();
    if (const auto* error = std::get_if<brackle_core::EmitError>(&*emitted)) {
        std::fprintf(stderr, "brackle-bench-size: %d MB: emit error: %s\n", size_mb,
                     error->message().c_str());
        return 1;
    }

    // The check is not timed.
    const std::string& out = std::get<std::string>(*emitted);
    f.identical = out == text ? 1 : 0;
    if (f.identical == 0) {
        std::fprintf(stderr,
                     "brackle-bench-size: %d MB: the output differs from the input at %s; "
                     "%zu bytes out, %zu in\n",
                     size_mb, first_difference(text, out).c_str(), out.size(), text.size());
    }

    const CpuTime cpu_check = cpu_time();
    start = Clock::now();
    loaded.reset();
    emitted.reset();
    f.free = seconds_since(start);
    const CpuTime cpu_end = cpu_time();
    f.user = (cpu_mid.user - cpu_start.user) + (cpu_end.user - cpu_check.user);
    f.sys = (cpu_mid.sys - cpu_start.sys) + (cpu_end.sys - cpu_check.sys);
    f.queued = (cpu_mid.queued - cpu_start.queued) + (cpu_end.queued - cpu_check.queued);
    f.peak = proc_kb("/proc/self/status", "VmHWM");

    std::printf("figures %" PRIu64 " %.6f %.6f %.6f %.6f %.6f %.6f %.6f %" PRIu64 " %" PRIu64
                " %" PRIu64 " %d\n",
                f.bytes, f.generate, f.load, f.emit, f.free, f.user, f.sys, f.queued, f.base,
                f.load_peak, f.peak, f.identical);
    return f.identical != 0 ? 0 : 1;
}

// ---- the table, in the parent ---------------------------------------------------

struct Outcome {
    std::optional<Figures> figures;
    std::string failure;  // why there are no figures, or the output was wrong
};

// Runs `self --one size_mb --limit limit_s` and reads its figures.
Outcome run_child(const std::string& self, int size_mb, int limit_s) {
    Outcome o;
    const std::string command =
        "'" + self + "' --one " + std::to_string(size_mb) + " --limit " + std::to_string(limit_s);
    std::fflush(stdout);
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        o.failure = "could not start " + command;
        return o;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        Figures f;
        if (std::sscanf(line, figures_format, &f.bytes, &f.generate, &f.load, &f.emit, &f.free,
                        &f.user, &f.sys, &f.queued, &f.base, &f.load_peak, &f.peak,
                        &f.identical) == 12) {
            o.figures = f;
        }
    }
    const int status = pclose(pipe);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
        o.failure = "stopped after " + std::to_string(limit_s) + " s";
    } else if (WIFSIGNALED(status)) {
        o.failure = std::string("killed by signal ") + std::to_string(WTERMSIG(status)) +
                    (WTERMSIG(status) == SIGKILL ? " (out of memory?)" : "");
    } else if (o.figures && o.figures->identical == 0) {
        o.failure = "output differs from the input";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !o.figures) {
        o.failure = "failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    return o;
}

std::string fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

struct Row {
    int size_mb;
    Outcome outcome;
};

void print_row(const Row& row) {
    if (!row.outcome.figures) {
        std::printf("%9d  %s\n", row.size_mb, row.outcome.failure.c_str());
        return;
    }
    const Figures& f = *row.outcome.figures;
    const double size = static_cast<double>(f.bytes) / mb;
    std::printf("%9s %7s %7s %7s %7s %7s %8s %7s %7s %10s %8s  %s\n", fixed(size, 1).c_str(),
                fixed(f.generate, 2).c_str(), fixed(f.load, 2).c_str(), fixed(f.emit, 2).c_str(),
                fixed(f.free, 2).c_str(), fixed(f.round_trip(), 2).c_str(),
                fixed(size / f.round_trip(), 1).c_str(), fixed(f.user, 2).c_str(),
                fixed(f.sys, 2).c_str(), (fixed(f.multiple(f.load_peak), 2) + "x").c_str(),
                (fixed(f.multiple(f.peak), 2) + "x").c_str(), f.identical != 0 ? "yes" : "NO");
}

// The machine's load average over the last minute.
std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string first;
    in >> first;
    return first.empty() ? "n/a" : first;
}

// The large size: BRACKLE_BENCH_SIZE_MB, or the default.
std::optional<int> large_size() {
    const char* env = std::getenv("BRACKLE_BENCH_SIZE_MB");
    if (env == nullptr || *env == '\0') return default_large_mb;
    char* end = nullptr;
    const long v = std::strtol(env, &end, 10);
    if (*end != '\0' || v < 0 || v > 4000) return std::nullopt;
    return static_cast<int>(v);
}

int run_table(const std::string& self) {
    const std::optional<int> large = large_size();
    if (!large) {
        std::fprintf(stderr,
                     "brackle-bench-size: BRACKLE_BENCH_SIZE_MB must be a whole number of MB "
                     "from 0 to 4000 (0: no large run)\n");
        return 2;
    }
    const std::string load_before = load_average();
    int status = 0;
    std::printf("%9s %7s %7s %7s %7s %7s %8s %7s %7s %10s %8s  %s\n", "size MB", "gen s", "load s",
                "emit s", "free s", "rt s", "rt MB/s", "user s", "sys s", "load peak", "rt peak",
                "identical");

    // The small size, best of a few processes: a slow small run would hide
    // a superlinear large one.
    Row small{small_mb, {}};
    for (int i = 0; i < small_runs; ++i) {
        Outcome o = run_child(self, small_mb, 600);
        if (!o.figures || !o.failure.empty()) {
            small.outcome = std::move(o);
            break;
        }
        if (!small.outcome.figures ||
            o.figures->round_trip() < small.outcome.figures->round_trip()) {
            small.outcome = std::move(o);
        }
    }
    print_row(small);
    if (!small.outcome.failure.empty()) status = 1;

    std::optional<Row> big;
    std::string skipped;
    if (*large == 0) {
        skipped = "no large run: BRACKLE_BENCH_SIZE_MB=0";
    } else if (*large != small_mb) {
        const double needed = memory_needed * *large * mb;
        const double available = static_cast<double>(proc_kb("/proc/meminfo", "MemAvailable"));
        if (available < needed) {
            skipped = std::to_string(*large) + " MB skipped: it needs " + fixed(memory_needed, 0) +
                      "x its size available, " + fixed(needed / 1e9, 1) +
                      " GB, and MemAvailable is " + fixed(available / 1e9, 1) +
                      " GB (BRACKLE_BENCH_SIZE_MB sets the size)";
        } else {
            // A run far slower than linear from the small one is stopped.
            double limit = 300;
            if (small.outcome.figures) {
                const Figures& s = *small.outcome.figures;
                const double per_mb =
                    (s.generate + s.round_trip()) / (static_cast<double>(s.bytes) / mb);
                limit = std::max(limit, 5 * per_mb * *large);
            }
            big = Row{*large, run_child(self, *large, static_cast<int>(limit))};
            print_row(*big);
            if (!big->outcome.failure.empty()) status = 1;
        }
    }

    std::printf(
        "\nrt s = load + emit + freeing the documents and the output (the identity check is\n"
        "  not timed), wall clock; user s and sys s = its processor time in brackle and in the\n"
        "  kernel (mostly handing out fresh pages); best of %d processes at %d MB, one run at the\n"
        "  large size.\n"
        "peak = (input + rise of the process's peak resident memory over its resident memory\n"
        "  just before the load) / input. The generated input counts as input; the documents,\n"
        "  the output and what malloc keeps after a free count as the rise. Each size runs in\n"
        "  a process of its own.\n",
        small_runs, small_mb);
    for (const Row* r : {&small, big ? &*big : nullptr}) {
        if (r == nullptr || !r->outcome.figures) continue;
        const Figures& f = *r->outcome.figures;
        const double off_core = f.round_trip() - f.user - f.sys;
        if (off_core > 0.1 * f.round_trip()) {
            std::printf(
                "%d MB: the round trip took %.1f s more than its processor time, %.1f s of it "
                "waiting for a core\n  while other processes ran: its wall time is high\n",
                r->size_mb, off_core, f.queued);
        }
    }
    std::printf("load average before and after: %s and %s (%ld cores)\n", load_before.c_str(),
                load_average().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    if (!skipped.empty()) std::printf("%s\n", skipped.c_str());

    std::printf("\ntargets:\n");
    std::vector<const Row*> rows{&small};
    if (big) rows.push_back(&*big);
    for (const Row* r : rows) {
        if (!r->outcome.failure.empty()) {
            std::printf("  %d MB: FAILED: %s\n", r->size_mb, r->outcome.failure.c_str());
        }
    }
    if (big && big->outcome.figures && small.outcome.figures) {
        const Figures& s = *small.outcome.figures;
        const Figures& l = *big->outcome.figures;
        const double s_mb = static_cast<double>(s.bytes) / mb;
        const double l_mb = static_cast<double>(l.bytes) / mb;
        const double ratio = (l.round_trip() / l_mb) / (s.round_trip() / s_mb);
        // Processor time is what wall time would be without other load.
        const double cpu_ratio = ((l.user + l.sys) / l_mb) / ((s.user + s.sys) / s_mb);
        std::printf(
            "  linear time, time per MB at %d MB / at %d MB <= %.1f: %s %s\n"
            "    (processor time %s: user %s, system %s; wall time of load %s, emit %s, "
            "free %s)\n",
            big->size_mb, small_mb, linear_limit, fixed(ratio, 2).c_str(),
            verdict(ratio <= linear_limit), fixed(cpu_ratio, 2).c_str(),
            fixed((l.user / l_mb) / (s.user / s_mb), 2).c_str(),
            fixed((l.sys / l_mb) / (s.sys / s_mb), 2).c_str(),
            fixed((l.load / l_mb) / (s.load / s_mb), 2).c_str(),
            fixed((l.emit / l_mb) / (s.emit / s_mb), 2).c_str(),
            fixed((l.free / l_mb) / (s.free / s_mb), 2).c_str());
    } else if (big && !big->outcome.figures) {
        std::printf("  linear time: MISSED: the %d MB run %s\n", big->size_mb,
                    big->outcome.failure.c_str());
    } else if (!big) {
        std::printf("  linear time: not checked, no large run\n");
    }
    for (const Row* r : rows) {
        if (!r->outcome.figures) continue;
        const Figures& f = *r->outcome.figures;
        const double load = f.multiple(f.load_peak);
        const double rt = f.multiple(f.peak);
        std::printf("  %d MB: load peak <= %.0fx: %sx %s; round trip peak <= %.0fx: %sx %s\n",
                    r->size_mb, load_peak_limit, fixed(load, 2).c_str(),
                    verdict(load <= load_peak_limit), round_trip_limit, fixed(rt, 2).c_str(),
                    verdict(rt <= round_trip_limit));
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) {
            std::fprintf(stderr, "brackle-bench-size: cannot find its own binary\n");
            return 1;
        }
        return run_table(std::string(self, static_cast<std::size_t>(n)));
    }
    int size_mb = 0;
    int limit_s = 0;
    bool known = argc % 2 == 1;
    for (int i = 1; known && i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        if (a == "--one") {
            size_mb = std::atoi(argv[i + 1]);
        } else if (a == "--limit") {
            limit_s = std::atoi(argv[i + 1]);
        } else {
            known = false;
        }
    }
    if (!known || size_mb <= 0) {
        std::fprintf(stderr, "usage: brackle-bench-size [--one SIZE_MB [--limit SECONDS]]\n");
        return 2;
    }
    if (limit_s > 0) alarm(static_cast<unsigned>(limit_s));
    return run_one(size_mb);
}
