#include "brackle/schema.hpp"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "scanner/src/char_traits.hpp"

namespace brackle_core::schema {

namespace {

using brackle_scanner::is_blank;
using brackle_scanner::is_digit;
using brackle_scanner::is_hex;

bool is_octal(char c) { return c >= '0' && c <= '7'; }

bool one_of(std::string_view s, std::initializer_list<std::string_view> words) {
    for (const std::string_view w : words) {
        if (s == w) return true;
    }
    return false;
}

// Where the characters of `s` from `from` that satisfy `ok` stop; `_` is
// taken too when `underscores`.
template <class Ok>
std::size_t run(std::string_view s, std::size_t from, bool underscores, Ok ok) {
    while (from < s.size() && (ok(s[from]) || (underscores && s[from] == '_'))) ++from;
    return from;
}

// The sexagesimal parts after the first (`:` then one or two digits below
// 60) from `from`: where they stop, or npos when one is malformed.
std::size_t sexagesimal_tail(std::string_view s, std::size_t from) {
    while (from < s.size() && s[from] == ':') {
        const std::size_t end = run(s, from + 1, false, is_digit);
        const std::size_t n = end - from - 1;
        if (n == 0 || n > 2 || (n == 2 && s[from + 1] > '5')) return std::string_view::npos;
        from = end;
    }
    return from;
}

std::string without_underscores(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        if (c != '_') out += c;
    }
    return out;
}

// About where the first significant digit of a decimal number stands: the
// power of ten it scales (1 for `1`, -2 for `0.001`, 401 for `1e400`).
long decimal_exponent(std::string_view text) {
    const std::size_t e = text.find_first_of("eE");
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits_of_e = text.substr(e + 1);
        const bool minus = digits_of_e.starts_with('-');
        if (minus || digits_of_e.starts_with('+')) digits_of_e.remove_prefix(1);
        for (const char c : digits_of_e) exponent = std::min(exponent * 10 + (c - '0'), 100000L);
        if (minus) exponent = -exponent;
    }
    const std::string_view mantissa = text.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return std::numeric_limits<long>::min();  // zero
    const long position =
        first < point ? static_cast<long>(point - first) : -static_cast<long>(first - point - 1);
    return position + exponent;
}

// A number's text (underscores out, no `+`) as a double, read the way
// `strtod` reads it in the C locale, correctly rounded.
double to_double(std::string_view text) {
    std::string clean = without_underscores(text);
    std::string_view view = clean;
    if (view.starts_with('+')) view.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large is infinite, too small zero, as strtod gives.
        value = decimal_exponent(view) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        if (view.starts_with('-')) value = -value;
    }
    return value;
}

// Reads `n` to `m` digits at `at` into `out`.
bool digits(std::string_view s, std::size_t& at, std::size_t n, std::size_t m, int& out) {
    const std::size_t end = run(s, at, false, is_digit);
    if (end - at < n || end - at > m) return false;
    out = 0;
    for (; at < end; ++at) out = out * 10 + (s[at] - '0');
    return true;
}

// The base-60 parts of `s` (`190:20:30`), underscores out.
std::vector<std::string> sexagesimal_parts(std::string_view s) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t colon = s.find(':', at);
        parts.push_back(without_underscores(s.substr(at, colon - at)));
        if (colon == std::string_view::npos) return parts;
        at = colon + 1;
    }
}

}  // namespace

bool is_null(std::string_view s) { return s.empty() || one_of(s, {"~", "null", "Null", "NULL"}); }

std::optional<bool> bool_of(std::string_view s, Version v) {
    if (one_of(s, {"true", "True", "TRUE"})) return true;
    if (one_of(s, {"false", "False", "FALSE"})) return false;
    if (v == Version::Yaml11) {
        if (one_of(s, {"yes", "Yes", "YES", "on", "On", "ON"})) return true;
        if (one_of(s, {"no", "No", "NO", "off", "Off", "OFF"})) return false;
    }
    return std::nullopt;
}

std::optional<Integer> integer_of(std::string_view s, Version v) {
    const bool v11 = v == Version::Yaml11;
    Integer out;
    std::size_t at = 0;
    out.negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        // The core schema signs decimal integers only.
        if (!v11 && s.size() > 2 && s[1] == '0' && (s[2] == 'o' || s[2] == 'x'))
            return std::nullopt;
        at = 1;
    }
    if (at == s.size()) return std::nullopt;
    std::size_t body = at;
    if (s.size() - at > 2 && s[at] == '0' &&
        (s[at + 1] == 'x' || s[at + 1] == 'o' || s[at + 1] == 'b')) {
        const char mark = s[at + 1];
        if (!v11 && mark == 'b') return std::nullopt;
        if (v11 && mark == 'o') return std::nullopt;
        out.radix = mark == 'x' ? 16 : mark == 'o' ? 8 : 2;
        body = at + 2;
        const auto ok = [&](char c) {
            return out.radix == 16  ? is_hex(c)
                   : out.radix == 8 ? is_octal(c)
                                    : c == '0' || c == '1';
        };
        if (run(s, body, v11, ok) != s.size()) return std::nullopt;
    } else if (v11 && s[at] == '0' && s.size() - at > 1) {
        // The leading 0 is a digit too: `0_` is zero.
        out.radix = 8;
        if (run(s, at + 1, true, is_octal) != s.size()) return std::nullopt;
    } else {
        const std::size_t end = run(s, at, v11, is_digit);
        if (end == s.size()) {
            if (v11 && s[at] == '_') return std::nullopt;
        } else if (v11 && s[at] != '0' && s[at] != '_' && s[end] == ':') {
            if (sexagesimal_tail(s, end) != s.size()) return std::nullopt;
            out.sexagesimal = sexagesimal_parts(s.substr(at));
            return out;
        } else {
            return std::nullopt;
        }
    }
    out.digits = without_underscores(s.substr(body));
    if (out.digits.empty()) return std::nullopt;  // only underscores
    const std::size_t zeros = out.digits.find_first_not_of('0');
    out.digits.erase(0, std::min(zeros, out.digits.size() - 1));
    return out;
}

std::optional<double> float_of(std::string_view s, Version v) {
    const bool v11 = v == Version::Yaml11;
    std::size_t at = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) at = 1;
    const std::string_view body = s.substr(at);
    const double inf = std::numeric_limits<double>::infinity();
    if (one_of(body, {".inf", ".Inf", ".INF"})) return negative ? -inf : inf;
    if (at == 0 && one_of(body, {".nan", ".NaN", ".NAN"})) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const std::size_t int_end = run(s, at, v11, is_digit);
    std::size_t end = int_end;
    if (v11 && int_end > at && int_end < s.size() && s[int_end] == ':' && s[at] != '_') {
        const std::size_t tail = sexagesimal_tail(s, int_end);
        if (tail == std::string_view::npos || tail >= s.size() || s[tail] != '.') {
            return std::nullopt;
        }
        if (run(s, tail + 1, true, is_digit) != s.size()) return std::nullopt;
        double total = 0;
        for (const std::string& part : sexagesimal_parts(s.substr(at))) {
            total = total * 60 + to_double(part);
        }
        return negative ? -total : total;
    }
    bool dot = false;
    std::size_t frac_digits = 0;
    if (end < s.size() && s[end] == '.') {
        dot = true;
        const std::size_t frac_end = run(s, end + 1, v11, is_digit);
        frac_digits = frac_end - end - 1;
        end = frac_end;
    }
    if (int_end == at && frac_digits == 0) return std::nullopt;  // no digit at all
    if (v11 && int_end > at && s[at] == '_') return std::nullopt;
    bool exponent = false;
    if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
        std::size_t e = end + 1;
        if (e < s.size() && (s[e] == '-' || s[e] == '+')) ++e;
        const std::size_t e_end = run(s, e, false, is_digit);
        if (e_end == e) return std::nullopt;
        end = e_end;
        exponent = true;
    }
    if (end != s.size()) return std::nullopt;
    if (!dot && (v11 || !exponent)) return std::nullopt;  // an integer, or no 1.1 float
    return to_double(s);
}

std::optional<Timestamp> timestamp_of(std::string_view s) {
    Timestamp t;
    std::size_t at = 0;
    if (!digits(s, at, 4, 4, t.year) || at >= s.size() || s[at++] != '-') return std::nullopt;
    if (!digits(s, at, 1, 2, t.month) || at >= s.size() || s[at++] != '-') return std::nullopt;
    if (!digits(s, at, 1, 2, t.day)) return std::nullopt;
    if (at == s.size()) {
        if (at != 10) return std::nullopt;  // a date alone has two-digit month and day
        return t;
    }
    if (s[at] == 'T' || s[at] == 't') {
        ++at;
    } else {
        const std::size_t end = run(s, at, false, is_blank);
        if (end == at) return std::nullopt;
        at = end;
    }
    t.has_time = true;
    if (!digits(s, at, 1, 2, t.hour) || at >= s.size() || s[at++] != ':') return std::nullopt;
    if (!digits(s, at, 2, 2, t.minute) || at >= s.size() || s[at++] != ':') return std::nullopt;
    if (!digits(s, at, 2, 2, t.second)) return std::nullopt;
    if (at < s.size() && s[at] == '.') {
        const std::size_t end = run(s, at + 1, false, is_digit);
        t.fraction = s.substr(at + 1, end - at - 1);
        at = end;
    }
    at = run(s, at, false, is_blank);
    if (at == s.size()) return t;
    t.has_zone = true;
    if (s[at] == 'Z') {
        if (at + 1 != s.size()) return std::nullopt;
        return t;
    }
    if (s[at] != '+' && s[at] != '-') return std::nullopt;
    const int sign = s[at++] == '-' ? -1 : 1;
    int hours = 0, minutes = 0;
    if (!digits(s, at, 1, 2, hours)) return std::nullopt;
    if (at < s.size() && s[at] == ':') {
        ++at;
        if (!digits(s, at, 2, 2, minutes)) return std::nullopt;
    }
    t.zone_minutes = sign * (hours * 60 + minutes);
    if (at != s.size()) return std::nullopt;
    return t;
}

Resolved resolve(std::string_view plain, Version v) {
    if (plain.empty()) return Null{};
    // Most plain scalars start with a letter that no other kind starts with.
    const char c = plain[0];
    const bool v11 = v == Version::Yaml11;
    const bool may_resolve = is_digit(c) || c == '-' || c == '+' || c == '.' || c == '~' ||
                             c == 'n' || c == 'N' || c == 't' || c == 'T' || c == 'f' || c == 'F' ||
                             (v11 && (c == 'y' || c == 'Y' || c == 'o' || c == 'O'));
    if (!may_resolve) return Str{};
    if (is_null(plain)) return Null{};
    if (const auto b = bool_of(plain, v)) return *b;
    if (auto n = integer_of(plain, v)) return std::move(*n);
    if (const auto d = float_of(plain, v)) return *d;
    if (v11) {
        if (const auto t = timestamp_of(plain)) return *t;
    }
    return Str{};
}

Kind kind_of(std::string_view plain, Version v) {
    return static_cast<Kind>(resolve(plain, v).index());
}

bool reads_as_string(std::string_view plain) {
    return kind_of(plain, Version::Core12) == Kind::Str &&
           kind_of(plain, Version::Yaml11) == Kind::Str && plain != "<<" && plain != "=";
}

}  // namespace brackle_core::schema
