#include "RConvert.h"

#include <gtest/gtest.h>

namespace {

struct TIntegerTextCase {
    const char* Text;
    std::optional<int32_t> Value;
};

void PrintTo(const TIntegerTextCase& c, std::ostream* out)
{
    *out << '"' << c.Text << '"';
}

class IntegerTextRule : public testing::TestWithParam<TIntegerTextCase> {};

TEST_P(IntegerTextRule, ConvertsOrRefuses)
{
    const auto& c = GetParam();
    EXPECT_EQ(ParseIntegerText(c.Text), c.Value) << '"' << c.Text << '"';
    EXPECT_EQ(StrToIntDefault(c.Text, 4711), c.Value.value_or(4711)) << '"' << c.Text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntegerTextRule,
    testing::Values(TIntegerTextCase{"0", 0}, TIntegerTextCase{"007", 7}, TIntegerTextCase{"+5", 5},
                    TIntegerTextCase{"-12", -12}, TIntegerTextCase{"  42", 42}, TIntegerTextCase{"42 ", std::nullopt},
                    TIntegerTextCase{"4 2", std::nullopt}, TIntegerTextCase{"", std::nullopt},
                    TIntegerTextCase{"   ", std::nullopt}, TIntegerTextCase{"-", std::nullopt},
                    TIntegerTextCase{"+", std::nullopt}, TIntegerTextCase{"2147483647", 2147483647},
                    TIntegerTextCase{"2147483648", std::nullopt}, TIntegerTextCase{"-2147483648", INT32_MIN},
                    TIntegerTextCase{"-2147483649", std::nullopt},
                    TIntegerTextCase{"99999999999999999999", std::nullopt}, TIntegerTextCase{"$10", 16},
                    TIntegerTextCase{"x10", 16}, TIntegerTextCase{"X1f", 31}, TIntegerTextCase{"0x64", 100},
                    TIntegerTextCase{"0XaB", 171}, TIntegerTextCase{" $64", 100}, TIntegerTextCase{"$FFFFFFFF", -1},
                    TIntegerTextCase{"$80000000", INT32_MIN}, TIntegerTextCase{"$000000010", 16},
                    TIntegerTextCase{"$100000000", std::nullopt}, TIntegerTextCase{"$", std::nullopt},
                    TIntegerTextCase{"0x", std::nullopt}, TIntegerTextCase{"-$10", std::nullopt},
                    TIntegerTextCase{"+0x10", std::nullopt}, TIntegerTextCase{"$1g", std::nullopt},
                    TIntegerTextCase{"1e2", std::nullopt}, TIntegerTextCase{"12a", std::nullopt},
                    TIntegerTextCase{"\t5", std::nullopt}));

TEST(IsValueInRange, BoundsAreInclusiveAndTextFollowsTheIntegerRule)
{
    struct {
        const char* Text;
        int32_t Min, Max;
        bool Expected;
    } const cases[] = {
        {"", 0, 255, false},         {"255", 0, 255, true},
        {"256", 0, 255, false},      {"-1", 0, 255, false},
        {"0", 0, 255, true},         {"$10", 0, 255, true},
        {"0x10", 0, 255, true},      {" 7", 5, 1000, true},
        {"7 ", 5, 1000, false},      {"4", 5, 1000, false},
        {"1000", 5, 1000, true},     {"abc", 0, 255, false},
        {"$FFFFFFFF", -1, -1, true}, {"-2147483648", INT32_MIN, INT32_MAX, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValueInRange(c.Text, c.Min, c.Max), c.Expected)
            << '"' << c.Text << "\" in " << c.Min << ".." << c.Max;
}

TEST(IsIntegerText, AcceptsDigitsWithALeadingMinusOnly)
{
    struct {
        const char* Text;
        bool Expected;
    } const cases[] = {
        {"", false},    {"-", true},   {"-12", true}, {"0", true},   {"12a", false},
        {"1-2", false}, {"+5", false}, {" 5", false}, {"5 ", false}, {"$10", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsIntegerText(c.Text), c.Expected) << '"' << c.Text << '"';
}

TEST(RemoveChars, DropsEveryMemberOfTheSetAndKeepsTheOrder)
{
    std::string text = "10 .0\xFF .0  .1  ";
    RemoveChars(text, {" \xFF", 2});
    EXPECT_EQ(text, "10.0.0.1");

    std::string untouched = "abc";
    RemoveChars(untouched, "");
    EXPECT_EQ(untouched, "abc");

    std::string withNul("a\0b", 3);
    RemoveChars(withNul, std::string_view("\0", 1));
    EXPECT_EQ(withNul, "ab");
}

TEST(IsIPAddressText, IsALooseCheckOfTheFirstThreeParts)
{
    struct {
        const char* Text;
        bool Expected;
    } const cases[] = {
        {"192.168.127.10", true}, {"1.2.3.999", true},  {"1.2.3.", true},     {"-1.0.0.0", true},
        {"1.2.3", false},         {"1.2.3.4.5", false}, {"256.1.1.1", false}, {"10 .0.0.1", false},
        {"1..3.4", false},        {"", false},          {"...", false},       {" 10.0.0.1", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsIPAddressText(c.Text), c.Expected) << '"' << c.Text << '"';
}

}  // namespace
