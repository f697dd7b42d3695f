#include "support/applier_test_support.h"
#include "update_applier.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct PlanFixture : ::testing::Test {
    TempDir tmp;
    fs::path install = tmp.path() / "install";
    fs::path plan = tmp.path() / "staging" / "apply.json";

    void SetUp() override { fs::create_directories(install); }

    std::optional<ApplyPlan> read(const std::string& text)
    {
        writeFile(plan, text);
        return UpdateApplier::readApplyPlan(plan, install);
    }

    // A rejected plan leaves exactly this one line and nothing else.
    void expectRejected(const std::string& text, const std::string& line)
    {
        fs::remove(install / "updater.log");
        EXPECT_FALSE(read(text).has_value()) << text;
        EXPECT_EQ(logLines(install), std::vector<std::string>{line}) << text;
    }
};

} // namespace

TEST_F(PlanFixture, ReadsTheDesktopsIndentedFormKeepingOrderAndDroppingEmptyEntries)
{
    const auto result = read("{\n    \"extra\": {\"ignored\": [1, 2]},\n    \"main_executable\": \"corvana\",\n"
                             "    \"remove\": [\n        \"old.dll\",\n        \"\",\n        \"plugins/\xC3\xBC\xF0\x9F\x8E\xAE\",\n"
                             "        \"a/b\"\n    ]\n}\n");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->mainExecutable, u"corvana");
    EXPECT_EQ(result->remove, (std::vector<std::u16string>{u"old.dll", u"plugins/\u00FC\U0001F3AE", u"a/b"}));
    EXPECT_FALSE(fs::exists(install / "updater.log"));

    for (const char* text : {R"({"main_executable":"corvana"})", R"({"main_executable":"corvana","remove":[]})",
                             R"({"main_executable":"corvana","remove":["",""]})"}) {
        const auto plan = read(text);
        ASSERT_TRUE(plan.has_value()) << text;
        EXPECT_TRUE(plan->remove.empty()) << text;
    }
}

TEST_F(PlanFixture, EachMalformedPlanGivesItsOwnSingleLine)
{
    expectRejected("[\"main_executable\", \"corvana\"]", "apply.json missing valid string field: main_executable");
    expectRejected(R"({"main_executable": 5})", "apply.json missing valid string field: main_executable");
    expectRejected(R"({"main_executable": null, "remove": []})", "apply.json missing valid string field: main_executable");
    expectRejected(R"({"remove": []})", "apply.json missing valid string field: main_executable");
    expectRejected(R"({"main_executable": ""})", "main_executable is empty or invalid UTF-8.");
    expectRejected(R"({"main_executable": "corvana", "remove": null})", "apply.json field 'remove' must be an array.");
    expectRejected(R"({"main_executable": "corvana", "remove": {"a": "b"}})", "apply.json field 'remove' must be an array.");
    expectRejected(R"({"main_executable": "corvana", "remove": "a"})", "apply.json field 'remove' must be an array.");
    expectRejected(R"({"main_executable": "corvana", "remove": ["a", 1]})", "apply.json contains non-string entry in 'remove'.");
    expectRejected(R"({"main_executable": "corvana", "remove": [["a"]]})", "apply.json contains non-string entry in 'remove'.");
    // A NUL would shorten the path the system sees after the checks saw all of it.
    expectRejected(R"({"main_executable": "corvana", "remove": ["x\u0000/../../etc"]})",
                   "apply.json contains a NUL character in a path.");
    expectRejected(R"({"main_executable": "corv\u0000ana"})", "apply.json contains a NUL character in a path.");
}

TEST_F(PlanFixture, UnparsableBytesAreParseFailures)
{
    const std::string prefix = "Failed to parse apply.json: ";
    for (const std::string& text : {std::string(R"({"main_executable": "corv)"), std::string(""),
                                    std::string("{\"main_executable\": \"\xC3\x28\"}"),
                                    std::string("{\"main_executable\": \"\xED\xA0\x80\"}"),
                                    std::string("\xEF\xBB\xBF{}x"), std::string(R"({"main_executable": "\ud800"})")}) {
        fs::remove(install / "updater.log");
        EXPECT_FALSE(read(text).has_value());
        const auto lines = logLines(install);
        ASSERT_EQ(lines.size(), 1u) << text;
        EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find("parse_error"), std::string::npos) << lines[0];
    }

    fs::remove(install / "updater.log");
    const std::string deep = R"({"main_executable": "corvana", "x": )" + std::string(100000, '[');
    EXPECT_FALSE(read(deep).has_value());
    EXPECT_EQ(logLines(install), std::vector<std::string>{prefix + "nesting deeper than 512 levels"});

    // Nesting up to the limit is still a plan.
    const std::string nested = R"({"main_executable": "corvana", "x": )" + std::string(500, '[')
        + std::string(500, ']') + "}";
    EXPECT_TRUE(read(nested).has_value());

    fs::remove(install / "updater.log");
    std::string huge = R"({"main_executable": "corvana", "x": ")";
    huge.append(kMaxApplyPlanBytes, 'a');
    huge += "\"}";
    EXPECT_FALSE(read(huge).has_value());
    EXPECT_EQ(logLines(install), std::vector<std::string>{prefix + "file is larger than 8388608 bytes"});
}

TEST_F(PlanFixture, APlanThatIsMissingOrADirectoryCannotBeOpened)
{
    EXPECT_FALSE(UpdateApplier::readApplyPlan(plan, install).has_value());
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Failed to open apply.json: " + plan.string()});

    fs::remove(install / "updater.log");
    fs::create_directories(plan);
    EXPECT_FALSE(UpdateApplier::readApplyPlan(plan, install).has_value());
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Failed to open apply.json: " + plan.string()});
}

TEST(Utf8ToWide, ConvertsEveryLengthAndReplacesIllFormedBytes)
{
    EXPECT_EQ(UpdateApplier::utf8ToWide(""), u"");
    EXPECT_EQ(UpdateApplier::utf8ToWide("a/b.dll"), u"a/b.dll");
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x8E\xAE"), u"\u00FC\u20AC\U0001F3AE");
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xF0\x9F\x8E\xAE").size(), 2u); // a surrogate pair
    EXPECT_EQ(UpdateApplier::utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xE2\x82"), u"\uFFFD");          // truncated
    EXPECT_EQ(UpdateApplier::utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // past U+10FFFF
}
