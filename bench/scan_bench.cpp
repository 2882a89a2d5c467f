// brackle-bench-scan: brackle's scanner against libyaml's yaml_parser_scan on
// the same bytes in the same run.
//
// Inputs: generated config-like streams of 1, 10 and 64 MB (one seed, so the
// smaller are prefixes of the larger); every `in.yaml` of the YAML test suite;
// the YAML files in examples/. A multi-file input is held in one buffer and
// each file is scanned on its own (files end at errors on purpose, and a
// concatenation would not be one valid stream), the whole loop timed as one.
//
// Each measurement is repeated and the best time kept: the best is the run
// least disturbed by the rest of the machine. The two scanners alternate, so
// a slow phase of the machine hits both alike. Sizes are in MB of 10^6 bytes.
//
// Peak memory: a separate, untimed run of brackle's scanner counts the bytes
// held by operator new (replaced below); it is reported with the input
// itself, which the scanner reads in place, as a multiple of the input size.
#include <malloc.h>
#include <yaml.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bench/generator.hpp"
#include "scanner/src/scanner.hpp"

#ifndef BRACKLE_REPO_ROOT
#error "BRACKLE_REPO_ROOT must name the repository root"
#endif

// ---- heap accounting --------------------------------------------------------

namespace {

// Only the single-threaded measurement run switches counting on.
bool heap_counting = false;
std::int64_t heap_current = 0;
std::int64_t heap_peak = 0;

void* counted_alloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    if (heap_counting) {
        heap_current += static_cast<std::int64_t>(malloc_usable_size(p));
        heap_peak = std::max(heap_peak, heap_current);
    }
    return p;
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    if (heap_counting) heap_current -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double mb = 1e6;

// ---- inputs -----------------------------------------------------------------

struct Part {
    std::size_t offset;
    std::size_t size;
    std::string name;
};

struct Input {
    std::string name;
    std::string bytes;
    std::vector<Part> parts;  // scanned one by one
    bool generated = false;

    std::string_view part(const Part& p) const {
        return std::string_view(bytes).substr(p.offset, p.size);
    }
};

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

Input generated_input(int size_mb) {
    Input in;
    in.name = "generated " + std::to_string(size_mb) + " MB";
    in.bytes =
        brackle_bench::generate_config_stream(static_cast<std::size_t>(size_mb) * 1000000, 1);
    in.parts.push_back({0, in.bytes.size(), in.name});
    in.generated = true;
    return in;
}

// Concatenates `files` (sorted) into one input; empty if none could be read.
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

fs::path suite_dir() {
    if (const char* env = std::getenv("BRACKLE_YAML_TEST_SUITE"); env != nullptr && *env != '\0') {
        return fs::path(env);
    }
    return fs::path(BRACKLE_REPO_ROOT) / ".." / "shared" / "yaml-test-suite";
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

// ---- the two scanners -------------------------------------------------------

struct ScanResult {
    std::size_t tokens = 0;    // tokens delivered, StreamEnd included
    std::size_t comments = 0;  // brackle's Comment tokens (libyaml has none)
    std::size_t errors = 0;    // parts that stopped at an error
    // The first error: its message, its part and its line (from 1).
    std::string first_error;
    std::size_t error_part = 0;
    std::size_t error_line = 0;
    std::size_t error_col = 0;

    bool operator==(const ScanResult& o) const {
        return tokens == o.tokens && comments == o.comments && errors == o.errors;
    }
};

void scan_brackle(std::string_view text, std::size_t part, ScanResult& r) {
    using brackle_scanner::Delivery;
    brackle_scanner::Scanner scanner(text);
    brackle_scanner::Token token;
    for (;;) {
        Delivery d = scanner.next_token(token);
        if (d == Delivery::Token) {
            ++r.tokens;
            if (token.type == brackle_scanner::TokenType::Comment) ++r.comments;
            continue;
        }
        if (d == Delivery::Error) {
            if (r.errors++ == 0) {
                const brackle_scanner::ScanError& e = scanner.error();
                r.first_error = e.info;
                r.error_part = part;
                r.error_line = e.mark.line;
                r.error_col = e.mark.col;
            }
        }
        return;
    }
}

void scan_libyaml(std::string_view text, std::size_t part, ScanResult& r) {
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser)) {
        std::fprintf(stderr, "libyaml: yaml_parser_initialize failed\n");
        std::exit(1);
    }
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    yaml_token_t token;
    for (;;) {
        if (!yaml_parser_scan(&parser, &token)) {
            if (r.errors++ == 0) {
                r.first_error = parser.problem != nullptr ? parser.problem : "scan error";
                r.error_part = part;
                r.error_line = parser.problem_mark.line + 1;
                r.error_col = parser.problem_mark.column;
            }
            break;
        }
        yaml_token_type_t type = token.type;
        yaml_token_delete(&token);
        if (type == YAML_NO_TOKEN) break;
        ++r.tokens;
        if (type == YAML_STREAM_END_TOKEN) break;
    }
    yaml_parser_delete(&parser);
}

template <class Scan>
ScanResult scan_all(const Input& in, Scan scan) {
    ScanResult r;
    for (std::size_t i = 0; i < in.parts.size(); ++i) scan(in.part(in.parts[i]), i, r);
    return r;
}

// ---- measuring --------------------------------------------------------------

struct Measurement {
    double brackle_seconds = 0;
    double libyaml_seconds = 0;
    ScanResult brackle;
    ScanResult libyaml;
    double peak_multiple = 0;  // (input + peak heap of the scan) / input
    std::int64_t peak_heap = 0;
    int reps = 0;
};

template <class Scan>
double timed(const Input& in, Scan scan, ScanResult& result) {
    auto start = Clock::now();
    result = scan_all(in, scan);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// `fixed_reps` > 0 fixes the count; otherwise at least 3 runs each and enough
// for about 0.3 s per scanner (small inputs take many runs), at most 2000.
Measurement measure(const Input& in, int fixed_reps) {
    Measurement m;
    m.brackle_seconds = timed(in, scan_brackle, m.brackle);
    m.libyaml_seconds = timed(in, scan_libyaml, m.libyaml);
    int reps = fixed_reps;
    if (reps <= 0) {
        double slowest = std::max(m.brackle_seconds, m.libyaml_seconds);
        reps = std::clamp(static_cast<int>(std::ceil(0.3 / std::max(slowest, 1e-6))), 3, 2000);
    }
    for (int i = 1; i < reps; ++i) {
        ScanResult b;
        ScanResult l;
        m.brackle_seconds = std::min(m.brackle_seconds, timed(in, scan_brackle, b));
        m.libyaml_seconds = std::min(m.libyaml_seconds, timed(in, scan_libyaml, l));
        if (!(b == m.brackle) || !(l == m.libyaml)) {
            std::fprintf(stderr, "%s: results differ between runs\n", in.name.c_str());
            std::exit(1);
        }
    }
    m.reps = reps;

    heap_current = 0;
    heap_peak = 0;
    heap_counting = true;
    ScanResult counted = scan_all(in, scan_brackle);
    heap_counting = false;
    if (!(counted == m.brackle)) {
        std::fprintf(stderr, "%s: results differ between runs\n", in.name.c_str());
        std::exit(1);
    }
    m.peak_heap = heap_peak;
    m.peak_multiple =
        in.bytes.empty() ? 0
                         : (static_cast<double>(in.bytes.size()) + static_cast<double>(heap_peak)) /
                               static_cast<double>(in.bytes.size());
    return m;
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

void print_error(const char* who, const Input& in, const ScanResult& r) {
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

// Files of a multi-file input where one scanner stops at an error and the
// other does not (libyaml follows YAML 1.1, so some are expected).
void print_disagreements(const Input& in) {
    std::vector<std::string> only_brackle;
    std::vector<std::string> only_libyaml;
    for (std::size_t i = 0; i < in.parts.size(); ++i) {
        ScanResult b;
        ScanResult l;
        scan_brackle(in.part(in.parts[i]), i, b);
        scan_libyaml(in.part(in.parts[i]), i, l);
        if (b.errors > 0 && l.errors == 0) only_brackle.push_back(in.parts[i].name);
        if (l.errors > 0 && b.errors == 0) only_libyaml.push_back(in.parts[i].name);
    }
    auto list = [](const char* who, const std::vector<std::string>& names) {
        if (names.empty()) return;
        std::printf("  only %s stopped (%zu):", who, names.size());
        for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
            fs::path p(names[i]);
            // The test id: the folder of in.yaml (and its parent for numbered variants).
            std::string id = p.filename() == "in.yaml" ? p.parent_path().filename().string()
                                                       : p.filename().string();
            if (p.filename() == "in.yaml" && id.size() <= 2)
                id = p.parent_path().parent_path().filename().string() + "/" + id;
            std::printf(" %s", id.c_str());
        }
        std::printf("%s\n", names.size() > 8 ? " ..." : "");
    };
    list("brackle", only_brackle);
    list("libyaml", only_libyaml);
}

struct Row {
    const Input* input;
    Measurement m;
};

void print_table(const std::vector<Row>& rows) {
    std::printf("%-20s %9s %12s %12s %7s %10s %16s %10s %6s\n", "input", "size MB", "brackle MB/s",
                "libyaml MB/s", "ratio", "peak mem", "brackle tokens", "(comments)",
                "libyaml tokens");
    for (const Row& row : rows) {
        const Input& in = *row.input;
        const Measurement& m = row.m;
        double size = static_cast<double>(in.bytes.size()) / mb;
        double b = size / m.brackle_seconds;
        double l = size / m.libyaml_seconds;
        std::string libyaml_tokens = std::to_string(m.libyaml.tokens);
        if (m.libyaml.errors > 0) libyaml_tokens += " *";
        std::string brackle_tokens = std::to_string(m.brackle.tokens);
        if (m.brackle.errors > 0) brackle_tokens += " *";
        std::printf("%-20s %9s %12s %12s %7s %9sx %16s %10zu %14s\n", in.name.c_str(),
                    fixed(size, 3).c_str(), fixed(b, 1).c_str(), fixed(l, 1).c_str(),
                    fixed(b / l, 2).c_str(), fixed(m.peak_multiple, 3).c_str(),
                    brackle_tokens.c_str(), m.brackle.comments, libyaml_tokens.c_str());
    }
    std::printf(
        "\nratio = brackle MB/s / libyaml MB/s (above 1: brackle is faster); best of N runs.\n");
    std::printf(
        "peak mem = (input + brackle's peak heap during the scan) / input; the input is read in "
        "place.\n");
    std::printf(
        "brackle's tokens include its comment tokens; libyaml has none. * = stopped at an "
        "error.\n\n");

    for (const Row& row : rows) {
        const Input& in = *row.input;
        const Measurement& m = row.m;
        std::printf("%s (%zu file%s, best of %d, brackle's peak heap %.1f KB):\n", in.name.c_str(),
                    in.parts.size(), in.parts.size() == 1 ? "" : "s", m.reps,
                    static_cast<double>(m.peak_heap) / 1000.0);
        if (in.parts.size() > 1) {
            std::printf("  brackle stopped at an error in %zu of %zu files, libyaml in %zu\n",
                        m.brackle.errors, in.parts.size(), m.libyaml.errors);
            print_disagreements(in);
        }
        std::size_t without_comments = m.brackle.tokens - m.brackle.comments;
        if (m.brackle.errors == 0 && m.libyaml.errors == 0) {
            std::printf("  tokens without comments: brackle %zu, libyaml %zu (%s)\n",
                        without_comments, m.libyaml.tokens,
                        without_comments == m.libyaml.tokens ? "same" : "differ");
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

}  // namespace

int main(int argc, char** argv) {
    int fixed_reps = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            fixed_reps = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: brackle-bench-scan [--reps N]\n");
            return 2;
        }
    }

    std::vector<Input> inputs;
    for (int size : {1, 10, 64}) inputs.push_back(generated_input(size));

    fs::path suite = suite_dir();
    Input suite_input =
        files_input("yaml-test-suite",
                    find_files(suite, [](const fs::path& p) { return p.filename() == "in.yaml"; }));
    if (suite_input.parts.empty()) {
        std::printf(
            "yaml-test-suite: no in.yaml files under %s (set BRACKLE_YAML_TEST_SUITE); skipped\n",
            suite.string().c_str());
    } else {
        inputs.push_back(std::move(suite_input));
    }

    fs::path examples = fs::path(BRACKLE_REPO_ROOT) / "examples";
    Input examples_input =
        files_input("examples", find_files(examples, [](const fs::path& p) {
                        return p.extension() == ".yaml" || p.extension() == ".yml";
                    }));
    if (examples_input.parts.empty()) {
        std::printf("examples: no .yaml or .yml files under %s; skipped\n",
                    examples.string().c_str());
    } else {
        inputs.push_back(std::move(examples_input));
    }

    std::vector<Row> rows;
    for (const Input& in : inputs) rows.push_back({&in, measure(in, fixed_reps)});
    print_table(rows);

    const Row* small = find_row(rows, "generated 1 MB");
    const Row* large = find_row(rows, "generated 64 MB");
    if (small != nullptr && large != nullptr) {
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

    bool generated_errors = false;
    for (const Row& r : rows) {
        if (r.input->generated && (r.m.brackle.errors > 0 || r.m.libyaml.errors > 0))
            generated_errors = true;
    }
    return generated_errors ? 1 : 0;
}
