// Config-like YAML streams for the benchmarks.
//
// Every stream is valid YAML 1.2 and stays inside what YAML 1.1 scanners
// accept too (no `:` inside plain scalars of flow collections, no tabs as
// indentation, no JSON-style adjacent values), so a baseline scanner reads the
// same bytes to the end. Rules the writer keeps for validity:
// - an alias names an anchor whose node is complete, earlier in its document;
// - a merge key's alias names a block mapping;
// - keys are unique within their mapping;
// - plain scalars never start with an indicator, never hold `: ` or ` #`,
//   and inside flow collections hold no `,[]{}:` at all;
// - directives follow a `...` line (or open the stream).
#include "tools/generator.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brackle_bench {
namespace {

constexpr std::string_view key_words[] = {
    "name",        "version",
    "enabled",     "port",
    "host",        "timeout",
    "retries",     "replicas",
    "image",       "tag",
    "env",         "labels",
    "annotations", "resources",
    "limits",      "requests",
    "cpu",         "memory",
    "path",        "url",
    "endpoint",    "region",
    "zone",        "cluster",
    "namespace",   "owner",
    "team",        "description",
    "command",     "args",
    "volumes",     "mounts",
    "ports",       "protocol",
    "schedule",    "backoff",
    "interval",    "threshold",
    "level",       "format",
    "output",      "targets",
    "rules",       "match",
    "action",      "priority",
    "weight",      "features",
    "flags",       "users",
    "groups",      "roles",
    "permissions", "database",
    "cache",       "queue",
    "topic",       "broker",
    "storage",     "bucket",
    "prefix",      "max_connections",
    "min_idle",    "pool_size",
    "log_level",   "health_check",
    "readiness",   "liveness",
    "strategy",    "selector",
    "metadata",    "settings",
    "upstream",    "downstream",
    "listen",      "tls",
    "certificate", "secret_ref",
    "maintainer",  "created",
    "updated",     "checksum",
    "mode",        "driver",
    "options",
};

// Keys that need quotes: spaces, indicators, `: ` or a leading `#`.
constexpr std::string_view quoted_keys[] = {
    "content-type",   "x.y.z",      "key with spaces", "app.kubernetes.io/name",
    "#not-a-comment", "a: b",       "- dash",          "[brackets]",
    "{braces}",       "@scope/pkg",
};

constexpr std::string_view unicode_keys[] = {
    "名前", "説明", "größe", "città", "описание", "κλειδί", "número", "zürich_dc",
};

constexpr std::string_view words[] = {
    "alpha",       "beta",         "gamma",        "delta",       "production", "staging",
    "development", "primary",      "replica",      "nginx",       "postgres",   "redis",
    "kafka",       "worker",       "scheduler",    "api-gateway", "frontend",   "backend",
    "eu-west-1",   "us-east-2",    "ap-south-1",   "info",        "debug",      "warn",
    "error",       "json",         "text",         "round_robin", "least_conn", "RollingUpdate",
    "Recreate",    "ClusterIP",    "LoadBalancer", "always",      "never",      "on-failure",
    "read-write",  "read-only",    "gzip",         "zstd",        "utf-8",      "sha256",
    "main",        "release-2024", "blue",         "green",       "canary",     "tcp",
    "udp",         "https",
};

constexpr std::string_view unicode_words[] = {
    "café",       "naïve",    "Zürich", "São Paulo",   "Kraków", "東京",     "日本語の設定",
    "Ελλάδα",     "Москва",   "Straße", "smörgåsbord", "façade", "🚀 launch", "✓ ok",
    "Ærøskøbing", "İstanbul", "Åland",  "Reykjavík",   "北京市", "서울",
};

constexpr std::string_view sentences[] = {
    "restart the worker when memory exceeds the limit",
    "primary database for the billing service",
    "owned by the platform team",
    "rotated every ninety days",
    "do not change without a migration plan",
    "used by the nightly export job",
    "temporary override until the next release",
    "fallback region for disaster recovery",
    "see the runbook before editing",
    "traffic is mirrored to the canary pool",
    "données répliquées entre deux régions",
    "Konfiguration für die Staging-Umgebung",
    "本番環境のみで使用する設定",
};

constexpr std::string_view comments[] = {
    "TODO: revisit after the migration",
    "values in seconds",
    "keep in sync with staging",
    "see runbook section 4.2",
    "overridden per environment",
    "# double hash is still a comment",
    "défaut: désactivé",
    "必要に応じて変更してください",
    "ticket OPS-1234: raised after the incident",
    "key: value inside a comment is just text",
    "[not, a, flow, sequence]",
    "generated, do not edit by hand",
    "Ограничение по памяти",
    "quotes \" and ' are fine here",
};

constexpr std::string_view prose_lines[] = {
    "This service receives events from the ingestion pipeline",
    "and forwards them to the warehouse after validation.",
    "Requests that fail three times are parked in the dead-letter queue.",
    "Contact the on-call engineer before scaling below two replicas.",
    "Les journaux sont conservés pendant trente jours.",
    "Die Werte gelten für alle Regionen außer eu-central.",
    "設定を変更した後はサービスを再起動してください。",
    "A line with: a colon, # a hash, and 'quotes' is plain text here.",
    "- not a sequence entry, just text",
    "{ not: a mapping } [ nor a sequence ]",
};

constexpr std::string_view code_lines[] = {
    "#!/bin/sh",
    "set -eu",
    "echo \"starting $SERVICE_NAME\" # this hash is content",
    "exec /usr/local/bin/server --config /etc/app/config.yaml",
    "if [ -f /tmp/ready ]; then exit 0; fi",
    "curl -fsS http://localhost:8080/health || exit 1",
    "SELECT id, name FROM users WHERE active = true;",
    "for f in *.log; do gzip \"$f\"; done",
    "\tmake -C build install",
    "key: value",
    "--- not a document marker here",
};

constexpr std::string_view urls[] = {
    "https://api.example.com/v2/items?limit=10&offset=20",
    "http://localhost:8080/health",
    "postgres://app@db.internal.example.org:5432/billing",
    "s3://backups-example/prefix/2024/",
    "https://docs.example.org/guide/#configuration",
    "redis://cache.example.net:6379/0",
    "file:///var/lib/app/data.db",
    "git@git.example.com:platform/infra.git",
    "amqp://broker.example.com:5672/%2F",
};

constexpr std::string_view paths[] = {
    "/etc/app/config.yaml",  "/var/log/app/server.log", "./data/cache",
    "/usr/local/bin/server", "~/.config/app",           "/opt/app/releases/current",
};

constexpr std::string_view double_escapes[] = {
    "\\n", "\\t", "\\\"", "\\\\", "\\u00e9", "\\x41", "\\U0001F680", "\\r\\n", "\\u2014", "\\/",
};

constexpr std::string_view single_quoted_parts[] = {
    "it''s fine", "C:\\Program Files\\App", "say \"hello\"", "a: b",    "# not a comment", "50%",
    "*.log",      "&not-an-anchor",         "[x, y]",        "déjà vu",
};

constexpr std::string_view anchor_words[] = {
    "defaults", "base", "common", "shared", "db", "logging", "limits", "net", "creds", "ports",
};

class StreamWriter {
public:
    StreamWriter(std::uint64_t seed, std::string& out) : rng_(seed), out_(out) {}

    void stream(std::size_t target_bytes, std::uint64_t seed) {
        out_ += "# Generated configuration stream (seed ";
        out_ += std::to_string(seed);
        out_ += ")\n";
        bool first = true;
        do {
            document(first);
            first = false;
        } while (out_.size() < target_bytes);
    }

private:
    template <std::size_t N>
    std::string_view pick(const std::string_view (&pool)[N]) {
        return pool[rng_.below(static_cast<std::uint32_t>(N))];
    }

    bool chance(unsigned percent) { return rng_.chance(percent); }
    int between(int lo, int hi) { return rng_.between(lo, hi); }
    void spaces(int n) { out_.append(static_cast<std::size_t>(n), ' '); }
    void number(long long n) { out_ += std::to_string(n); }

    // --- documents -------------------------------------------------------

    void document(bool first) {
        mapping_anchors_.clear();
        value_anchors_.clear();
        tag_directive_ = false;
        step_ = chance(80) ? 2 : 4;

        if (!first) interstitial(0);
        bool directives = (first || ended_explicitly_) && chance(30);
        if (directives) {
            bool version = chance(60);
            if (version) out_ += "%YAML 1.2\n";
            if (!version || chance(50)) {
                out_ += "%TAG !e! tag:example.com,2024:\n";
                tag_directive_ = true;
            }
        }

        unsigned kind = rng_.below(100);
        bool explicit_start = !first || directives || kind >= 90 || chance(50);
        if (explicit_start) out_ += "---";

        if (kind < 82) {
            if (explicit_start && chance(6)) out_ += " !config";
            trailing_comment(12);
            out_ += '\n';
            block_mapping(0, 1, false);
        } else if (kind < 90) {
            trailing_comment(12);
            out_ += '\n';
            block_sequence(0, 1, false);
        } else if (kind < 95) {
            root_scalar();
        } else if (kind < 99) {
            out_ += ' ';
            if (chance(50)) {
                flow_collection(1, -1);
            } else {
                flow_collection(1, 2);
            }
            trailing_comment(20);
            out_ += '\n';
        } else {
            // An empty document: its content is null.
            trailing_comment(50);
            out_ += '\n';
        }

        ended_explicitly_ = chance(15);
        if (ended_explicitly_) {
            out_ += "...";
            trailing_comment(20);
            out_ += '\n';
        }
    }

    void root_scalar() {
        switch (rng_.below(4)) {
            case 0:
                out_ += ' ';
                out_ += pick(sentences);
                out_ += '\n';
                break;
            case 1:
                out_ += ' ';
                double_quoted(-1);
                out_ += '\n';
                break;
            default:
                out_ += ' ';
                block_scalar(2, 0);
                break;
        }
    }

    // Blank lines and own-line comments between entries.
    void interstitial(int col) {
        if (chance(10)) out_ += '\n';
        if (chance(8)) {
            int lines = between(1, 2);
            for (int i = 0; i < lines; ++i) {
                spaces(chance(80) ? col : 0);
                out_ += "# ";
                out_ += pick(comments);
                out_ += '\n';
            }
        }
    }

    void trailing_comment(unsigned percent) {
        if (!chance(percent)) return;
        out_ += chance(80) ? " # " : "   # ";
        out_ += pick(comments);
    }

    // --- block collections -----------------------------------------------

    int entry_count(int depth) {
        if (depth == 1) return between(3, 10);
        return between(1, depth <= 3 ? 6 : 4);
    }

    // A block mapping with its keys at column `col`. With `first_inline` the
    // first key goes right where the output stands (after a `- `).
    void block_mapping(int col, int depth, bool first_inline) {
        int entries = entry_count(depth);
        std::vector<std::string> used;
        for (int i = 0; i < entries; ++i) {
            if (!(first_inline && i == 0)) {
                interstitial(col);
                spaces(col);
            }
            if (i == 0 && !mapping_anchors_.empty() && chance(25)) {
                merge_entry();
                used.emplace_back("<<");
                continue;
            }
            if (chance(3)) {
                explicit_key_entry(col, used);
                continue;
            }
            key(used);
            out_ += ':';
            mapping_value(col, depth);
        }
    }

    void merge_entry() {
        out_ += "<<: ";
        if (mapping_anchors_.size() >= 2 && chance(30)) {
            std::size_t a = rng_.below(static_cast<std::uint32_t>(mapping_anchors_.size()));
            std::size_t b = rng_.below(static_cast<std::uint32_t>(mapping_anchors_.size() - 1));
            if (b >= a) ++b;
            out_ += "[*";
            out_ += mapping_anchors_[a];
            out_ += ", *";
            out_ += mapping_anchors_[b];
            out_ += ']';
        } else {
            out_ += '*';
            out_ +=
                mapping_anchors_[rng_.below(static_cast<std::uint32_t>(mapping_anchors_.size()))];
        }
        trailing_comment(10);
        out_ += '\n';
    }

    // `? key` on one line, `: value` on the next.
    void explicit_key_entry(int col, std::vector<std::string>& used) {
        out_ += "? ";
        std::string k = "long key ";
        k += pick(words);
        k += ' ';
        k += std::to_string(used.size());
        if (std::find(used.begin(), used.end(), k) != used.end()) k += "_x";
        used.push_back(k);
        out_ += k;
        out_ += '\n';
        spaces(col);
        out_ += ": ";
        block_plain(col + step_);
        trailing_comment(10);
        out_ += '\n';
    }

    void key(std::vector<std::string>& used) {
        std::string k;
        char quote = 0;
        unsigned r = rng_.below(100);
        if (r < 86) {
            k = pick(key_words);
        } else if (r < 92) {
            k = pick(quoted_keys);
            quote = chance(50) ? '"' : '\'';
        } else if (r < 96) {
            k = pick(unicode_keys);
        } else {
            k = std::to_string(between(1, 9) * 1000 + between(0, 99));
        }
        std::string base = k;
        for (int n = 2; std::find(used.begin(), used.end(), k) != used.end(); ++n) {
            k = base + '_' + std::to_string(n);
        }
        used.push_back(k);
        if (quote) out_ += quote;
        out_ += k;
        if (quote) out_ += quote;
    }

    int container_percent(int depth) { return depth >= 6 ? 0 : 46 - 7 * depth; }

    // The value of a block mapping entry; the output stands right after `key:`.
    void mapping_value(int key_col, int depth) {
        unsigned r = rng_.below(100);
        if (r < static_cast<unsigned>(container_percent(depth))) {
            if (chance(62)) {
                std::string anchor = maybe_anchor(16);
                if (anchor.empty() && chance(3)) out_ += chance(50) ? " !!map" : " !custom";
                trailing_comment(10);
                out_ += '\n';
                block_mapping(key_col + step_, depth + 1, false);
                if (!anchor.empty()) mapping_anchors_.push_back(std::move(anchor));
            } else {
                std::string anchor = maybe_anchor(5);
                if (anchor.empty() && chance(3)) out_ += " !!seq";
                trailing_comment(10);
                out_ += '\n';
                block_sequence(chance(30) ? key_col : key_col + step_, depth + 1, false);
                if (!anchor.empty()) value_anchors_.push_back(std::move(anchor));
            }
            return;
        }
        r = rng_.below(100);
        if (r < 7) {
            out_ += ' ';
            bool indicator = chance(10);
            block_scalar(key_col + step_, indicator ? step_ : 0);
        } else if (r < 16) {
            out_ += ' ';
            flow_collection(depth, chance(15) ? key_col + step_ : -1);
            trailing_comment(10);
            out_ += '\n';
        } else if (r < 21 && has_anchors()) {
            out_ += ' ';
            alias();
            trailing_comment(10);
            out_ += '\n';
        } else if (r < 24) {
            // An empty value, with or without a comment: null.
            trailing_comment(30);
            out_ += '\n';
        } else {
            out_ += ' ';
            scalar_with_properties(key_col + step_);
            trailing_comment(10);
            out_ += '\n';
        }
    }

    // A block sequence with its `-` at column `col`.
    void block_sequence(int col, int depth, bool first_inline) {
        int entries = entry_count(depth);
        for (int i = 0; i < entries; ++i) {
            if (!(first_inline && i == 0)) {
                interstitial(col);
                spaces(col);
            }
            out_ += '-';
            sequence_entry(col, depth);
        }
    }

    // The node of a sequence entry; the output stands right after `-`.
    void sequence_entry(int col, int depth) {
        unsigned r = rng_.below(100);
        if (depth < 6 && r < static_cast<unsigned>(container_percent(depth) + 10)) {
            unsigned form = rng_.below(100);
            if (form < 65) {
                out_ += ' ';
                block_mapping(col + 2, depth + 1, true);
            } else if (form < 75) {
                out_ += ' ';
                block_sequence(col + 2, depth + 1, true);
            } else {
                // The mapping starts on the next line so that an anchor
                // before it names the mapping, not its first key.
                std::string anchor = maybe_anchor(40);
                trailing_comment(10);
                out_ += '\n';
                block_mapping(col + step_, depth + 1, false);
                if (!anchor.empty()) mapping_anchors_.push_back(std::move(anchor));
            }
            return;
        }
        r = rng_.below(100);
        if (r < 6) {
            out_ += ' ';
            block_scalar(col + 2, 0);
        } else if (r < 16) {
            out_ += ' ';
            flow_collection(depth, chance(10) ? col + step_ : -1);
            trailing_comment(10);
            out_ += '\n';
        } else if (r < 21 && has_anchors()) {
            out_ += ' ';
            alias();
            trailing_comment(10);
            out_ += '\n';
        } else if (r < 23) {
            out_ += '\n';
        } else {
            out_ += ' ';
            scalar_with_properties(col + 2);
            trailing_comment(10);
            out_ += '\n';
        }
    }

    // --- anchors, aliases, tags ------------------------------------------

    bool has_anchors() const { return !mapping_anchors_.empty() || !value_anchors_.empty(); }

    // Writes ` &name` with the given chance and returns the name (empty if none).
    std::string maybe_anchor(unsigned percent) {
        if (!chance(percent)) return {};
        std::string name(pick(anchor_words));
        name += '_';
        name += std::to_string(++anchor_serial_);
        out_ += " &";
        out_ += name;
        return name;
    }

    void alias() {
        std::size_t total = mapping_anchors_.size() + value_anchors_.size();
        std::size_t i = rng_.below(static_cast<std::uint32_t>(total));
        out_ += '*';
        out_ += i < mapping_anchors_.size() ? mapping_anchors_[i]
                                            : value_anchors_[i - mapping_anchors_.size()];
    }

    // A scalar in block context, maybe with an anchor or a tag first.
    // `cont_col` is the indentation of continuation lines.
    void scalar_with_properties(int cont_col) {
        unsigned r = rng_.below(100);
        if (r < 6) {
            std::string name(pick(anchor_words));
            name += '_';
            name += std::to_string(++anchor_serial_);
            out_ += '&';
            out_ += name;
            out_ += ' ';
            block_scalar_value(cont_col);
            value_anchors_.push_back(std::move(name));
            return;
        }
        if (r < 10) {
            switch (rng_.below(6)) {
                case 0:
                    out_ += "!!str ";
                    number(between(1, 99999));
                    return;
                case 1:
                    out_ += "!!int \"";
                    number(between(-500, 5000));
                    out_ += '"';
                    return;
                case 2:
                    out_ += "!!float \"";
                    number(between(0, 999));
                    out_ += '.';
                    number(between(0, 99));
                    out_ += '"';
                    return;
                case 3:
                    out_ += "!<tag:example.com,2024:widget> ";
                    flow_plain();
                    return;
                case 4:
                    if (tag_directive_) {
                        out_ += "!e!";
                        out_ += pick(key_words);
                        out_ += ' ';
                        block_scalar_value(cont_col);
                        return;
                    }
                    [[fallthrough]];
                default:
                    out_ += "!custom ";
                    block_scalar_value(cont_col);
                    return;
            }
        }
        block_scalar_value(cont_col);
    }

    // A plain, single- or double-quoted scalar in block context.
    void block_scalar_value(int cont_col) {
        unsigned r = rng_.below(100);
        if (r < 72) {
            block_plain(cont_col);
        } else if (r < 84) {
            double_quoted(chance(15) ? cont_col : -1);
        } else {
            single_quoted(chance(10) ? cont_col : -1);
        }
    }

    // --- scalars ---------------------------------------------------------

    void date() {
        number(between(2015, 2031));
        out_ += '-';
        two_digits(between(1, 12));
        out_ += '-';
        two_digits(between(1, 28));
    }

    void two_digits(int n) {
        out_ += static_cast<char>('0' + n / 10);
        out_ += static_cast<char>('0' + n % 10);
    }

    // A plain scalar that is also safe inside flow collections.
    void flow_plain() {
        unsigned r = rng_.below(100);
        if (r < 35) {
            out_ += pick(words);
        } else if (r < 55) {
            number(between(-100, 100000));
        } else if (r < 62) {
            number(between(0, 999));
            out_ += '.';
            number(between(0, 999));
        } else if (r < 70) {
            out_ += chance(50) ? "true" : "false";
        } else if (r < 75) {
            out_ += chance(50) ? "null" : "~";
        } else if (r < 80) {
            date();
        } else if (r < 85) {
            number(between(1, 4));
            out_ += '.';
            number(between(0, 30));
            out_ += '.';
            number(between(0, 20));
        } else if (r < 90) {
            number(between(1, 900));
            out_ += chance(50) ? "ms" : "Mi";
        } else if (r < 95) {
            out_ += "10.";
            number(between(0, 255));
            out_ += '.';
            number(between(0, 255));
            out_ += '.';
            number(between(1, 254));
        } else {
            out_ += pick(unicode_words);
        }
    }

    // A plain scalar in block context: may hold `:` and `#` where they are
    // not indicators, and may continue on further lines at `cont_col`.
    void block_plain(int cont_col) {
        unsigned r = rng_.below(100);
        if (r < 55) {
            flow_plain();
        } else if (r < 65) {
            out_ += pick(urls);
        } else if (r < 70) {
            out_ += pick(paths);
        } else if (r < 74) {
            date();
            out_ += 'T';
            two_digits(between(0, 23));
            out_ += ':';
            two_digits(between(0, 59));
            out_ += ':';
            two_digits(between(0, 59));
            out_ += chance(50) ? "Z" : "+02:00";
        } else if (r < 77) {
            out_ += pick(words);
            out_ += "@example.com";
        } else if (r < 80) {
            out_ += "0x";
            static constexpr char hex[] = "0123456789ABCDEF";
            for (int i = 0; i < 4; ++i) out_ += hex[rng_.below(16)];
        } else if (r < 95) {
            out_ += pick(sentences);
            if (chance(25)) {
                // A plain scalar folded over two lines.
                out_ += '\n';
                spaces(cont_col);
                out_ += pick(sentences);
            }
        } else {
            out_ += pick(words);
            out_ += ' ';
            out_ += pick(unicode_words);
        }
    }

    // A double-quoted scalar with escapes; with `cont_col >= 0` it may break
    // over lines (a folded break or an escaped one).
    void double_quoted(int cont_col) {
        out_ += '"';
        int parts = between(1, 6);
        for (int i = 0; i < parts; ++i) {
            if (i > 0) {
                if (cont_col >= 0 && chance(30)) {
                    if (chance(30)) out_ += '\\';
                    out_ += '\n';
                    spaces(cont_col);
                } else {
                    out_ += ' ';
                }
            }
            unsigned r = rng_.below(100);
            if (r < 45) {
                out_ += pick(words);
            } else if (r < 70) {
                out_ += pick(double_escapes);
            } else if (r < 82) {
                out_ += pick(unicode_words);
            } else if (r < 90) {
                out_ += "# not a comment: ";
                number(between(0, 999));
            } else {
                out_ += "'single' inside";
            }
        }
        out_ += '"';
    }

    void single_quoted(int cont_col) {
        out_ += '\'';
        int parts = between(1, 4);
        for (int i = 0; i < parts; ++i) {
            if (i > 0) {
                if (cont_col >= 0 && chance(40)) {
                    out_ += '\n';
                    spaces(cont_col);
                } else {
                    out_ += ' ';
                }
            }
            out_ += chance(50) ? pick(single_quoted_parts) : pick(words);
        }
        out_ += '\'';
    }

    // A literal or folded block scalar; the output stands where the indicator
    // goes. Content lines sit at `content_col`; with `indicator` > 0 the
    // header carries it and the first line starts with extra spaces, which
    // only an explicit indentation allows.
    void block_scalar(int content_col, int indicator) {
        bool literal = chance(60);
        out_ += literal ? '|' : '>';
        if (indicator > 0) out_ += static_cast<char>('0' + indicator);
        unsigned chomp = rng_.below(100);
        bool keep = chomp >= 90;
        if (chomp < 20) {
            out_ += '-';
        } else if (keep) {
            out_ += '+';
        }
        trailing_comment(8);
        out_ += '\n';
        int lines = between(1, 8);
        bool code = literal && chance(50);
        for (int i = 0; i < lines; ++i) {
            if (i > 0 && chance(10)) out_ += '\n';
            spaces(content_col);
            if ((i == 0 && indicator > 0) || (i > 0 && chance(8))) out_ += "  ";
            std::string_view line = code ? pick(code_lines) : pick(prose_lines);
            // A tab may open a later line only: on the first one, YAML 1.1
            // scanners take it for indentation while they detect the width.
            if (i == 0 && line.front() == '\t') line.remove_prefix(1);
            out_ += line;
            out_ += '\n';
        }
        if (keep || chance(15)) out_ += '\n';
    }

    // --- flow collections ------------------------------------------------

    // A flow sequence or mapping. With `cont_col >= 0` its entries go on
    // lines of their own at that column (nested collections stay on one line).
    void flow_collection(int depth, int cont_col) {
        bool seq = chance(55);
        out_ += seq ? '[' : '{';
        int entries = chance(8) ? 0 : between(1, cont_col >= 0 ? 6 : 5);
        std::vector<std::string> used;
        for (int i = 0; i < entries; ++i) {
            if (cont_col >= 0) {
                out_ += '\n';
                spaces(cont_col);
            } else if (i > 0) {
                out_ += ' ';
            }
            if (!seq) {
                std::string k(pick(key_words));
                std::string base = k;
                for (int n = 2; std::find(used.begin(), used.end(), k) != used.end(); ++n) {
                    k = base + '_' + std::to_string(n);
                }
                used.push_back(k);
                out_ += k;
                out_ += ": ";
            }
            flow_entry(depth);
            bool last = i + 1 == entries;
            if (!last || (cont_col >= 0 && chance(60)) || chance(3)) out_ += ',';
            if (cont_col >= 0 && chance(10)) {
                out_ += " # ";
                out_ += pick(comments);
            }
        }
        if (cont_col >= 0 && entries > 0) {
            out_ += '\n';
            spaces(cont_col);
        }
        out_ += seq ? ']' : '}';
    }

    void flow_entry(int depth) {
        unsigned r = rng_.below(100);
        if (r < 8 && depth < 6) {
            flow_collection(depth + 1, -1);
        } else if (r < 14 && has_anchors()) {
            alias();
        } else if (r < 22) {
            double_quoted(-1);
        } else if (r < 28) {
            single_quoted(-1);
        } else {
            flow_plain();
        }
    }

    SplitMix64 rng_;
    std::string& out_;
    int step_ = 2;
    bool tag_directive_ = false;
    bool ended_explicitly_ = false;
    unsigned anchor_serial_ = 0;
    // Anchors of complete nodes in the current document: block mappings
    // (fit for merge keys) and everything else.
    std::vector<std::string> mapping_anchors_;
    std::vector<std::string> value_anchors_;
};

}  // namespace

std::string generate_config_stream(std::size_t target_bytes, std::uint64_t seed) {
    std::string out;
    out.reserve(target_bytes + 64 * 1024);
    StreamWriter(seed, out).stream(target_bytes, seed);
    return out;
}

}  // namespace brackle_bench
