#include "cli/argv_scrub.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ostrel::scrubPassword;

namespace {

// Lays the arguments out back to back like the kernel does, each followed by NUL.
struct ArgvBuffer {
    std::string memory;
    std::vector<char*> argv;

    explicit ArgvBuffer(const std::vector<std::string>& args)
    {
        for (const auto& a : args)
            memory += a + '\0';
        std::size_t offset = 0;
        for (const auto& a : args) {
            argv.push_back(memory.data() + offset);
            offset += a.size() + 1;
        }
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(argv.size() - 1); }
};

std::string zeros(std::size_t n) { return std::string(n, '\0'); }

std::string laid(const std::vector<std::string>& args)
{
    std::string out;
    for (const auto& a : args)
        out += a + '\0';
    return out;
}

} // namespace

TEST(ArgvScrub, ClearsPasswordInBothFormsOnly)
{
    ArgvBuffer separate({"ostrel-client", "--user", "u", "--pass", "s3cr3t", "--node", "n"});
    EXPECT_EQ(scrubPassword(separate.argc(), separate.argv.data()), 6u);
    EXPECT_EQ(separate.memory, laid({"ostrel-client", "--user", "u", "--pass", zeros(6), "--node", "n"}));

    ArgvBuffer joined({"c", "--pass=a=b c", "--server", "h"});
    EXPECT_EQ(scrubPassword(joined.argc(), joined.argv.data()), 5u);
    EXPECT_EQ(joined.memory, laid({"c", "--pass=" + zeros(5), "--server", "h"}));
}

TEST(ArgvScrub, FollowsValuesTheWayTheParserDoes)
{
    // "--pass" inside another option's value is not the password option.
    ArgvBuffer asValue({"c", "--user=--pass", "--node", "-", "--pass", "pw", "--wintun", "--pass=x"});
    EXPECT_EQ(scrubPassword(asValue.argc(), asValue.argv.data()), 3u);
    EXPECT_EQ(asValue.memory, laid({"c", "--user=--pass", "--node", "-", "--pass", zeros(2), "--wintun", "--pass=" + zeros(1)}));

    // Nothing after "--" is touched, nor lookalike option names, nor an empty value.
    const std::vector<std::string> keep = {"c", "--passx", "keep", "--pass=", "--", "--pass", "keep2"};
    ArgvBuffer lookalike(keep);
    EXPECT_EQ(scrubPassword(lookalike.argc(), lookalike.argv.data()), 0u);
    EXPECT_EQ(lookalike.memory, laid(keep));

    // A trailing "--pass", or one followed by an option, has no value to clear.
    ArgvBuffer dangling({"c", "--pass", "--pass", "-x"});
    EXPECT_EQ(scrubPassword(dangling.argc(), dangling.argv.data()), 0u);
    ArgvBuffer dash({"c", "--pass", "-"});
    EXPECT_EQ(scrubPassword(dash.argc(), dash.argv.data()), 1u);
}
