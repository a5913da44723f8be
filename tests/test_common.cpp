#include "common/Error.h"
#include "common/IntText.h"
#include "common/MessageText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace rastrace;

struct IntCase {
    const char* text;
    bool ok;
    int32_t value;
};

class IntegerText : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntegerText, ParsesByTheOneRule) {
    const IntCase& c = GetParam();
    int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.text, value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    } else {
        EXPECT_EQ(value, 12345) << "a failed parse leaves the value alone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerText,
    ::testing::Values(IntCase{"600", true, 600}, IntCase{"  42", true, 42}, IntCase{"+7", true, 7},
                      IntCase{"-7", true, -7}, IntCase{"0", true, 0}, IntCase{"007", true, 7},
                      IntCase{"2147483647", true, 2147483647}, IntCase{"-2147483648", true, INT32_MIN},
                      IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
                      IntCase{"99999999999999999999", false, 0}, IntCase{"$FF", true, 255},
                      IntCase{"0xff", true, 255}, IntCase{"0XFF", true, 255}, IntCase{"xFf", true, 255},
                      IntCase{"XFF", true, 255}, IntCase{"$FFFFFFFF", true, -1}, IntCase{"-$FFFFFFFF", true, 1},
                      IntCase{"$80000000", true, INT32_MIN}, IntCase{"-$80000000", true, INT32_MIN},
                      IntCase{"$00000000FF", true, 255}, IntCase{"$100000000", false, 0},
                      IntCase{"-0x10", true, -16}, IntCase{"", false, 0}, IntCase{" ", false, 0},
                      IntCase{"+", false, 0}, IntCase{"-", false, 0}, IntCase{"$", false, 0},
                      IntCase{"0x", false, 0}, IntCase{"-0x", false, 0}, IntCase{"5 ", false, 0},
                      IntCase{"5a", false, 0}, IntCase{"\t5", false, 0}, IntCase{"abc", false, 0},
                      IntCase{"+-5", false, 0}, IntCase{"1.5", false, 0}, IntCase{"$G", false, 0},
                      IntCase{"0x-5", false, 0}, IntCase{"- 5", false, 0}),
    [](const ::testing::TestParamInfo<IntCase>& info) {
        // The text itself, its signs and blanks spelt out: "MinusDollarFF".
        std::string name = *info.param.text == '\0' ? "Empty" : "";
        for (const char* c = info.param.text; *c != '\0'; ++c) {
            switch (*c) {
            case '+': name += "Plus"; break;
            case '-': name += "Minus"; break;
            case '$': name += "Dollar"; break;
            case ' ': name += "Space"; break;
            case '\t': name += "Tab"; break;
            case '.': name += "Dot"; break;
            default: name += *c;
            }
        }
        return name;
    });

TEST(IntegerTextMessages, NameTheUntrimmedText) {
    try {
        StrToInt(" 6a");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "' 6a' is not a valid integer value");
    }
    try {
        StrToInt("");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef("abc", 9), 9);
    EXPECT_EQ(StrToIntDef("$5", 9), 5);
}

TEST(DecimalText, SignedPlainDigits) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(16777215), "16777215");
    EXPECT_EQ(IntToStr(-1), "-1");
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
    char buffer[32];
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, 1, 8)), "00000001");
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, 123456789, 8)), "123456789");
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, -5, 8)), "-00000005");
}

TEST(ShownText, AppendsAFullStopOnlyAfterBytesAboveIt) {
    EXPECT_EQ(ShownText("Bitmap image is not valid"), "Bitmap image is not valid.");
    EXPECT_EQ(ShownText("'' is not a valid integer value"), "'' is not a valid integer value.");
    EXPECT_EQ(ShownText("Done."), "Done.");
    EXPECT_EQ(ShownText("Wow!"), "Wow!");
    EXPECT_EQ(ShownText("(x)"), "(x)");
    EXPECT_EQ(ShownText("a,"), "a,");
    EXPECT_EQ(ShownText("a-"), "a-");
    EXPECT_EQ(ShownText("'a'"), "'a'");
    EXPECT_EQ(ShownText("a "), "a ");
    EXPECT_EQ(ShownText("a/"), "a/.");
    EXPECT_EQ(ShownText("I/O error 5"), "I/O error 5.");
    EXPECT_EQ(ShownText(""), "");
    EXPECT_EQ(ShownText("转换完成！"), "转换完成！.") << "a multi-byte last character counts as greater";
}

TEST(SystemText, TrailingBlanksControlsAndStopsAreCut) {
    EXPECT_EQ(TrimSystemText("Access is denied.\r\n"), "Access is denied");
    EXPECT_EQ(TrimSystemText("x . . "), "x");
    EXPECT_EQ(TrimSystemText("...."), "");
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
}
