#include "bench/bench_common.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>

#include "tools/generator.hpp"

namespace brackle_bench {

namespace {

using Clock = std::chrono::steady_clock;

// ---- inputs -----------------------------------------------------------------

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

Input generated_input(int size_mb) {
    Input in;
    in.name = "generated " + std::to_string(size_mb) + " MB";
    in.bytes = generate_config_stream(static_cast<std::size_t>(size_mb) * 1000000, 1);
    in.parts.push_back({0, in.bytes.size(), in.name});
    in.generated = true;
    return in;
}

// Concatenates `files` (sorted) into one input; no parts if none could be read.
Input files_input(std::string name, std::vector<fs::path> files) {
    std::sort(files.begin(), files.end());
    Input in;
    in.name = std::move(name);
    std::string text;
    for (const fs::path& f : files) {
        if (!read_file(f, text)) continue;
        in.parts.push_back({in.bytes.size(), text.size(), f.string()});
        in.bytes += text;
    }
    return in;
}

fs::path suite_dir(const fs::path& repo_root) {
    if (const char* env = std::getenv("BRACKLE_YAML_TEST_SUITE"); env != nullptr && *env != '\0') {
        return fs::path(env);
    }
    return repo_root / ".." / "shared" / "yaml-test-suite";
}

std::vector<fs::path> find_files(const fs::path& dir, bool (*wanted)(const fs::path&)) {
    std::vector<fs::path> out;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && wanted(it->path())) out.push_back(it->path());
    }
    return out;
}

// ---- measuring --------------------------------------------------------------

struct Measurement {
    double brackle_seconds = 0;
    double libyaml_seconds = 0;
    RunResult brackle;
    RunResult libyaml;
    int reps = 0;
};

double timed(const Input& in, RunFn run, RunResult& result) {
    auto start = Clock::now();
    result = run_all(in, run);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// `fixed_reps` > 0 fixes the count; otherwise at least 3 runs each and enough
// for about 0.3 s per side (small inputs take many runs), at most 2000.
Measurement measure(const Input& in, int fixed_reps, const Bench& bench) {
    Measurement m;
    m.brackle_seconds = timed(in, bench.brackle, m.brackle);
    m.libyaml_seconds = timed(in, bench.libyaml, m.libyaml);
    int reps = fixed_reps;
    if (reps <= 0) {
        double slowest = std::max(m.brackle_seconds, m.libyaml_seconds);
        reps = std::clamp(static_cast<int>(std::ceil(0.3 / std::max(slowest, 1e-6))), 3, 2000);
    }
    for (int i = 1; i < reps; ++i) {
        RunResult b;
        RunResult l;
        m.brackle_seconds = std::min(m.brackle_seconds, timed(in, bench.brackle, b));
        m.libyaml_seconds = std::min(m.libyaml_seconds, timed(in, bench.libyaml, l));
        if (!b.same_counts(m.brackle) || !l.same_counts(m.libyaml)) {
            std::fprintf(stderr, "%s: results differ between runs\n", in.name.c_str());
            std::exit(1);
        }
    }
    m.reps = reps;
    return m;
}

// ---- peak heap, from the helper process --------------------------------------

struct Peak {
    std::int64_t heap = 0;
    std::size_t items = 0;
};

// brackle-bench-heap MODE prints one line per input: peak bytes, items, name.
// Run before any timing, so that it never competes with a timed run.
std::map<std::string, Peak> peak_heaps(const Bench& bench) {
    std::map<std::string, Peak> out;
    std::string command = std::string("'") + bench.heap_helper + "' " + bench.heap_mode;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        long long heap = 0;
        unsigned long long items = 0;
        int name_at = 0;
        if (std::sscanf(line, "%lld %llu %n", &heap, &items, &name_at) != 2) continue;
        std::string name(line + name_at);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        out[name] = Peak{heap, static_cast<std::size_t>(items)};
    }
    if (pclose(pipe) != 0) {
        std::fprintf(stderr, "%s: brackle-bench-heap failed; peak memory not reported\n",
                     bench.program);
        out.clear();
    }
    return out;
}

// ---- reporting --------------------------------------------------------------

std::string fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// The line `line` (from 1) of `text`, for error reports.
std::string_view line_of(std::string_view text, std::size_t line) {
    std::size_t start = 0;
    for (std::size_t n = 1; n < line; ++n) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) return {};
        start = nl + 1;
    }
    std::size_t end = text.find('\n', start);
    return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

void print_error(const char* who, const Input& in, const RunResult& r) {
    const Part& part = in.parts[r.error_part];
    std::printf("  %s stopped at an error in %s, line %zu col %zu: %s\n", who, part.name.c_str(),
                r.error_line, r.error_col, r.first_error.c_str());
    std::string_view text = in.part(part);
    std::size_t first = r.error_line > 3 ? r.error_line - 3 : 1;
    for (std::size_t n = first; n <= r.error_line + 1; ++n) {
        std::string_view l = line_of(text, n);
        if (l.empty() && n > r.error_line) break;
        std::printf("    %6zu | %.*s\n", n, static_cast<int>(std::min<std::size_t>(l.size(), 160)),
                    l.data());
    }
}

// The test id of a suite file: the folder of in.yaml, with its parent for
// numbered variants.
std::string file_id(const std::string& name) {
    fs::path p(name);
    if (p.filename() != "in.yaml") return p.filename().string();
    std::string id = p.parent_path().filename().string();
    if (id.size() <= 2) id = p.parent_path().parent_path().filename().string() + "/" + id;
    return id;
}

// Files of a multi-file input where one side stops at an error and the other
// does not (libyaml follows YAML 1.1, so some are expected).
void print_disagreements(const Input& in, const Bench& bench) {
    std::vector<std::string> only_brackle;
    std::vector<std::string> only_libyaml;
    for (std::size_t i = 0; i < in.parts.size(); ++i) {
        RunResult b;
        RunResult l;
        bench.brackle(in.part(in.parts[i]), i, b);
        bench.libyaml(in.part(in.parts[i]), i, l);
        if (b.errors > 0 && l.errors == 0) only_brackle.push_back(in.parts[i].name);
        if (l.errors > 0 && b.errors == 0) only_libyaml.push_back(in.parts[i].name);
    }
    auto list = [](const char* who, const std::vector<std::string>& names) {
        if (names.empty()) return;
        std::printf("  only %s stopped (%zu):", who, names.size());
        for (std::size_t i = 0; i < names.size() && i < 8; ++i)
            std::printf(" %s", file_id(names[i]).c_str());
        std::printf("%s\n", names.size() > 8 ? " ..." : "");
    };
    list("brackle", only_brackle);
    list("libyaml", only_libyaml);
}

struct Row {
    const Input* input;
    Measurement m;
    std::optional<Peak> peak;
};

void print_table(const std::vector<Row>& rows, const Bench& bench) {
    std::string brackle_items = std::string("brackle ") + bench.items;
    std::string libyaml_items = std::string("libyaml ") + bench.items;
    std::printf("%-20s %9s %12s %12s %7s %10s %16s %10s %6s\n", "input", "size MB", "brackle MB/s",
                "libyaml MB/s", "ratio", "peak mem", brackle_items.c_str(), "(comments)",
                libyaml_items.c_str());
    for (const Row& row : rows) {
        const Input& in = *row.input;
        const Measurement& m = row.m;
        double size = static_cast<double>(in.bytes.size()) / mb;
        double b = size / m.brackle_seconds;
        double l = size / m.libyaml_seconds;
        std::string peak = "n/a";
        if (row.peak && !in.bytes.empty()) {
            double multiple =
                (static_cast<double>(in.bytes.size()) + static_cast<double>(row.peak->heap)) /
                static_cast<double>(in.bytes.size());
            peak = fixed(multiple, 3) + "x";
        }
        std::string libyaml_count = std::to_string(m.libyaml.items);
        if (m.libyaml.errors > 0) libyaml_count += " *";
        std::string brackle_count = std::to_string(m.brackle.items);
        if (m.brackle.errors > 0) brackle_count += " *";
        std::printf("%-20s %9s %12s %12s %7s %10s %16s %10zu %14s\n", in.name.c_str(),
                    fixed(size, 3).c_str(), fixed(b, 1).c_str(), fixed(l, 1).c_str(),
                    fixed(b / l, 2).c_str(), peak.c_str(), brackle_count.c_str(),
                    m.brackle.comments, libyaml_count.c_str());
    }
    std::printf(
        "\nratio = brackle MB/s / libyaml MB/s (above 1: brackle is faster); best of N runs.\n");
    std::printf(
        "peak mem = (input + brackle's peak heap during the %s) / input; the input is read in "
        "place.\n"
        "  Counted in a separate untimed process (brackle-bench-heap), so the timed runs use the\n"
        "  standard allocator.\n",
        bench.activity);
    std::printf(
        "brackle's %s include its comment %s; libyaml has none. * = stopped at an error.\n\n",
        bench.items, bench.items);

    for (const Row& row : rows) {
        const Input& in = *row.input;
        const Measurement& m = row.m;
        std::printf("%s (%zu file%s, best of %d", in.name.c_str(), in.parts.size(),
                    in.parts.size() == 1 ? "" : "s", m.reps);
        if (row.peak)
            std::printf(", brackle's peak heap %.1f KB",
                        static_cast<double>(row.peak->heap) / 1000.0);
        std::printf("):\n");
        if (row.peak && row.peak->items != m.brackle.items) {
            std::printf("  the heap-counting run delivered %zu %s, the timed runs %zu\n",
                        row.peak->items, bench.items, m.brackle.items);
        }
        if (in.parts.size() > 1) {
            std::printf("  brackle stopped at an error in %zu of %zu files, libyaml in %zu\n",
                        m.brackle.errors, in.parts.size(), m.libyaml.errors);
            print_disagreements(in, bench);
        }
        std::size_t without_comments = m.brackle.items - m.brackle.comments;
        if (bench.same_items && m.brackle.errors == 0 && m.libyaml.errors == 0) {
            std::printf("  %s without comments: brackle %zu, libyaml %zu (%s)\n", bench.items,
                        without_comments, m.libyaml.items,
                        without_comments == m.libyaml.items ? "same" : "differ");
        }
        if (in.generated || in.parts.size() == 1) {
            if (m.brackle.errors > 0) print_error("brackle", in, m.brackle);
            if (m.libyaml.errors > 0) print_error("libyaml", in, m.libyaml);
        }
    }
}

const Row* find_row(const std::vector<Row>& rows, const std::string& name) {
    for (const Row& r : rows) {
        if (r.input->name == name) return &r;
    }
    return nullptr;
}

void print_scaling(const std::vector<Row>& rows) {
    const Row* small = find_row(rows, "generated 1 MB");
    const Row* large = find_row(rows, "generated 64 MB");
    if (small == nullptr || large == nullptr) return;
    auto per_mb = [](const Row* r, double Measurement::*seconds) {
        return r->m.*seconds / (static_cast<double>(r->input->bytes.size()) / mb);
    };
    std::printf(
        "\nscaling (time per MB at 64 MB / at 1 MB; 1.00 = linear): brackle %s, libyaml %s\n",
        fixed(per_mb(large, &Measurement::brackle_seconds) /
                  per_mb(small, &Measurement::brackle_seconds),
              2)
            .c_str(),
        fixed(per_mb(large, &Measurement::libyaml_seconds) /
                  per_mb(small, &Measurement::libyaml_seconds),
              2)
            .c_str());
}

}  // namespace

std::vector<Input> standard_inputs(const fs::path& repo_root, bool report) {
    std::vector<Input> inputs;
    for (int size : {1, 10, 64}) inputs.push_back(generated_input(size));

    fs::path suite = suite_dir(repo_root);
    Input suite_input =
        files_input("yaml-test-suite",
                    find_files(suite, [](const fs::path& p) { return p.filename() == "in.yaml"; }));
    if (!suite_input.parts.empty()) {
        inputs.push_back(std::move(suite_input));
    } else if (report) {
        std::printf(
            "yaml-test-suite: no in.yaml files under %s (set BRACKLE_YAML_TEST_SUITE); skipped\n",
            suite.string().c_str());
    }

    fs::path examples = repo_root / "examples";
    Input examples_input =
        files_input("examples", find_files(examples, [](const fs::path& p) {
                        return p.extension() == ".yaml" || p.extension() == ".yml";
                    }));
    if (!examples_input.parts.empty()) {
        inputs.push_back(std::move(examples_input));
    } else if (report) {
        std::printf("examples: no .yaml or .yml files under %s; skipped\n",
                    examples.string().c_str());
    }
    return inputs;
}

RunResult run_all(const Input& in, RunFn run) {
    RunResult r;
    for (std::size_t i = 0; i < in.parts.size(); ++i) run(in.part(in.parts[i]), i, r);
    return r;
}

int bench_main(int argc, char** argv, const Bench& bench, const fs::path& repo_root) {
    int fixed_reps = 0;
    bool heap = true;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            fixed_reps = std::atoi(argv[++i]);
        } else if (a == "--no-heap") {
            heap = false;
        } else {
            std::fprintf(stderr, "usage: %s [--reps N] [--no-heap]\n", bench.program);
            return 2;
        }
    }

    std::map<std::string, Peak> peaks;
    if (heap) peaks = peak_heaps(bench);

    std::vector<Input> inputs = standard_inputs(repo_root, true);
    std::vector<Row> rows;
    for (const Input& in : inputs) {
        Row row{&in, measure(in, fixed_reps, bench), std::nullopt};
        if (auto it = peaks.find(in.name); it != peaks.end()) row.peak = it->second;
        rows.push_back(std::move(row));
    }
    print_table(rows, bench);
    print_scaling(rows);

    for (const Row& r : rows) {
        if (r.input->generated && (r.m.brackle.errors > 0 || r.m.libyaml.errors > 0)) return 1;
    }
    return 0;
}

}  // namespace brackle_bench
