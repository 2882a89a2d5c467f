// What a plain scalar reads as under the YAML 1.2 core schema and YAML 1.1:
// the rules that the data path and the emitter's read-back check share.
#include "brackle/schema.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string_view>
#include <vector>

namespace {

using brackle_core::schema::Kind;
using brackle_core::schema::kind_of;
using brackle_core::schema::reads_as_string;
using brackle_core::schema::Version;

struct KindRow {
    std::string_view text;
    Kind core12;
    Kind yaml11;
};

TEST(Schema, ResolvesEachPlainTextUnderBothVersions) {
    const std::vector<KindRow> rows = {
        {"", Kind::Null, Kind::Null},
        {"~", Kind::Null, Kind::Null},
        {"null", Kind::Null, Kind::Null},
        {"NULL", Kind::Null, Kind::Null},
        {"nul", Kind::Str, Kind::Str},
        {"true", Kind::Bool, Kind::Bool},
        {"False", Kind::Bool, Kind::Bool},
        {"TrUe", Kind::Str, Kind::Str},
        {"yes", Kind::Str, Kind::Bool},
        {"Off", Kind::Str, Kind::Bool},
        {"y", Kind::Str, Kind::Str},
        {"1", Kind::Int, Kind::Int},
        {"+1", Kind::Int, Kind::Int},
        {"0777", Kind::Int, Kind::Int},
        {"0_", Kind::Str, Kind::Int},  // the leading 0 of a 1.1 octal is a digit
        {"-0__", Kind::Str, Kind::Int},
        {"0o17", Kind::Int, Kind::Str},
        {"0b1_0", Kind::Str, Kind::Int},
        {"0xDeadBeef", Kind::Int, Kind::Int},
        {"-0x_f", Kind::Str, Kind::Int},
        {"1_000", Kind::Str, Kind::Int},
        {"1_", Kind::Str, Kind::Int},
        {"_1", Kind::Str, Kind::Str},
        {"1:30", Kind::Str, Kind::Int},
        {"1:60", Kind::Str, Kind::Str},
        {"1_:2", Kind::Str, Kind::Int},
        {"-1:30:00.5", Kind::Str, Kind::Float},
        {"1::2", Kind::Str, Kind::Str},
        {"1.", Kind::Float, Kind::Float},
        {".5", Kind::Float, Kind::Float},
        {"-1.5", Kind::Float, Kind::Float},
        {"1e05", Kind::Float, Kind::Str},
        {"2.5e-3", Kind::Float, Kind::Float},
        {"1_e5", Kind::Str, Kind::Str},
        {"1.2.3", Kind::Str, Kind::Str},
        {".inf", Kind::Float, Kind::Float},
        {"-.Inf", Kind::Float, Kind::Float},
        {".NaN", Kind::Float, Kind::Float},
        {"-.nan", Kind::Str, Kind::Str},
        {"inf", Kind::Str, Kind::Str},
        {"2001-12-14", Kind::Str, Kind::Timestamp},
        {"2001-12-14t21:59:43.10-05:00", Kind::Str, Kind::Timestamp},
        {"2001-12-14 21:59:43.10 +5", Kind::Str, Kind::Timestamp},
        {"2001-1-1", Kind::Str, Kind::Str},  // a date alone has two-digit fields
        {"2001-12-14x", Kind::Str, Kind::Str},
    };
    for (const KindRow& row : rows) {
        EXPECT_EQ(kind_of(row.text, Version::Core12), row.core12) << '"' << row.text << '"';
        EXPECT_EQ(kind_of(row.text, Version::Yaml11), row.yaml11) << '"' << row.text << '"';
    }
}

TEST(Schema, AStringReadsBackAsAStringOnlyWhenNoReaderResolvesIt) {
    for (const std::string_view text : {"=", "<<", "yes", "0o17", "1:30", "2001-12-14", "1e5", ""})
        EXPECT_FALSE(reads_as_string(text)) << '"' << text << '"';
    for (const std::string_view text : {"y", "1_e5", "2001-1-1", "1:60", "nul", "a:1", "0x"})
        EXPECT_TRUE(reads_as_string(text)) << '"' << text << '"';
}

TEST(Schema, IntegersKeepTheirDigitsForNumbersOfAnySize) {
    const auto big =
        brackle_core::schema::integer_of("-0x_1F_ffffffffffffffffffff", Version::Yaml11);
    ASSERT_TRUE(big);
    EXPECT_TRUE(big->negative);
    EXPECT_EQ(big->radix, 16);
    EXPECT_EQ(big->digits, "1Fffffffffffffffffffff");
    const auto octal = brackle_core::schema::integer_of("0007", Version::Yaml11);
    ASSERT_TRUE(octal);
    EXPECT_EQ(octal->radix, 8);
    EXPECT_EQ(octal->digits, "7");
    const auto time = brackle_core::schema::integer_of("190:20:30", Version::Yaml11);
    ASSERT_TRUE(time);
    EXPECT_EQ(time->sexagesimal, (std::vector<std::string>{"190", "20", "30"}));
}

TEST(Schema, FloatsReadAsStrtodReadsThemOutOfRangeToo) {
    using brackle_core::schema::float_of;
    EXPECT_EQ(*float_of("1_000.5", Version::Yaml11), 1000.5);
    EXPECT_EQ(*float_of("-1:30.5", Version::Yaml11), -90.5);
    EXPECT_EQ(*float_of("1e400", Version::Core12), HUGE_VAL);
    EXPECT_EQ(*float_of("-1e400", Version::Core12), -HUGE_VAL);
    EXPECT_EQ(*float_of("1e-400", Version::Core12), 0.0);
    EXPECT_EQ(*float_of("0." + std::string(400, '0') + "1", Version::Core12), 0.0);
    EXPECT_TRUE(std::isnan(*float_of(".nan", Version::Core12)));
}

TEST(Schema, TimestampsGiveTheirFieldsAsWritten) {
    const auto t = brackle_core::schema::timestamp_of("2001-12-14 21:59:43.10 -5");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year * 10000 + t->month * 100 + t->day, 20011214);
    EXPECT_EQ(t->hour * 10000 + t->minute * 100 + t->second, 215943);
    EXPECT_EQ(t->fraction, "10");
    EXPECT_TRUE(t->has_zone);
    EXPECT_EQ(t->zone_minutes, -300);
    EXPECT_FALSE(brackle_core::schema::timestamp_of("2001-12-14T21:59"));
}

}  // namespace
