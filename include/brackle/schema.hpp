// What a plain scalar reads as: the one home of the YAML 1.2 core schema's
// and YAML 1.1's resolution rules. The data path builds values from it, and
// the emitter asks it whether a string may be written plain and still read
// back as a string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brackle_core::schema {

enum class Version : std::uint8_t { Core12, Yaml11 };

// What a plain scalar without a tag resolves to.
enum class Kind : std::uint8_t { Null, Bool, Int, Float, Timestamp, Str };

// An integer as written: its sign, radix and digits without underscores or
// leading zeros; sexagesimal (1.1) as its base-60 parts, most significant
// first. The caller makes the number, which may exceed 64 bits.
struct Integer {
    bool negative = false;
    int radix = 10;
    std::string digits;
    std::vector<std::string> sexagesimal;
};

// A timestamp's fields as written; whether the date exists is the caller's
// to check.
struct Timestamp {
    int year = 0, month = 0, day = 0;
    bool has_time = false;
    int hour = 0, minute = 0, second = 0;
    std::string_view fraction;  // digits after the point, as written
    bool has_zone = false;
    int zone_minutes = 0;
};

bool is_null(std::string_view s);
std::optional<bool> bool_of(std::string_view s, Version v);
std::optional<Integer> integer_of(std::string_view s, Version v);
std::optional<double> float_of(std::string_view s, Version v);
std::optional<Timestamp> timestamp_of(std::string_view s);

struct Null {};
struct Str {};
// What a plain, untagged scalar reads as, with its value; the alternatives
// stand in the order of `Kind`. A 1.2 reader knows no timestamps.
using Resolved = std::variant<Null, bool, Integer, double, Timestamp, Str>;
Resolved resolve(std::string_view plain, Version v);
Kind kind_of(std::string_view plain, Version v);

// Whether a plain scalar reads back as a string for every reader: under
// both schemas, and not the 1.1 merge (`<<`) or value (`=`) key.
bool reads_as_string(std::string_view plain);

}  // namespace brackle_core::schema
