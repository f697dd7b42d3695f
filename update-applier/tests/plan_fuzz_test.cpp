// Deterministic mutation run over readApplyPlan: whatever the bytes, the result is
// a well-formed plan or no plan with exactly one log line.
#include "support/applier_test_support.h"
#include "update_applier.h"

#include <gtest/gtest.h>

#include <random>

namespace fs = std::filesystem;

TEST(ReadApplyPlanMutations, AnyBytesGiveAPlanOrOneLine)
{
    TempDir tmp;
    const fs::path plan = tmp.path() / "apply.json";
    const std::vector<std::string> seeds{
        "{\n    \"main_executable\": \"corvana\",\n    \"remove\": [\n        \"old.dll\",\n        \"a/b\"\n    ]\n}\n",
        R"({"main_executable":"c","remove":["","x",null]})",
        R"([{"main_executable":"c"}])",
        R"({"main_executable":"\u00fc\ud83c\udfae","remove":["\u0000"]})",
        std::string("{\"main_executable\":\"\xC3\xBC\",\"remove\":[\"\xF0\x9F\x8E\xAE\"]}"),
    };
    const std::string alphabet = "{}[]\",:\\u0123456789abcdefnulltruefalse \n\x80\xBF\xC3\xED\xF0\xFF";

    std::mt19937 rng(20261208);
    int plans = 0;
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string input = seeds[static_cast<std::size_t>(round) % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = input.empty() ? 0 : rng() % input.size();
            switch (rng() % 4) {
            case 0: if (!input.empty()) input.erase(at, 1 + rng() % 3); break;
            case 1: input.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
            case 2: if (!input.empty()) input[at] = static_cast<char>(rng() & 0xFF); break;
            default: input = input.substr(0, at); break;
            }
        }
        writeFile(plan, input);
        fs::remove(tmp.path() / "updater.log");

        const auto result = UpdateApplier::readApplyPlan(plan, tmp.path());
        const auto lines = logLines(tmp.path());
        if (result) {
            ++plans;
            EXPECT_FALSE(result->mainExecutable.empty()) << input;
            EXPECT_TRUE(lines.empty()) << input;
            for (const auto& entry : result->remove) {
                EXPECT_FALSE(entry.empty()) << input;
                EXPECT_EQ(entry.find(u'\0'), std::u16string::npos) << input;
            }
        } else {
            ++rejected;
            EXPECT_EQ(lines.size(), 1u) << input;
        }
    }
    // The run must reach both outcomes or it proves little.
    EXPECT_GT(plans, 20);
    EXPECT_GT(rejected, 50);
}
