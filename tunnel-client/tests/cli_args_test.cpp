#include "cli/args_parser.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

const std::string kFullUsage =
    "ostrel-client [OPTIONS] --server <SERVER> --user <USER> --pass <PASSWORD> --node <NODE>";
const std::string kTail = "\n\nFor more information, try '--help'.\n";

std::string report(const std::string& body, const std::string& usage = kFullUsage)
{
    return "error: " + body + "\n\nUsage: " + usage + kTail;
}

std::vector<std::string> base(std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"--server", "s", "--user", "u", "--pass", "p", "--node", "n"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

void expectError(const std::vector<std::string>& args, const std::string& stderrText)
{
    auto r = ArgsParser::tryParse(std::span<const std::string>(args));
    ASSERT_FALSE(r.has_value()) << stderrText;
    EXPECT_EQ(r.error().status, 2);
    EXPECT_EQ(r.error().standardOutput, "");
    EXPECT_EQ(r.error().standardError, stderrText);
}

Args parsed(const std::vector<std::string>& args)
{
    auto r = ArgsParser::tryParse(std::span<const std::string>(args));
    EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().standardError);
    return r ? *r : Args{};
}

} // namespace

TEST(ArgsParse, DefaultsAndBothValueForms)
{
    Args a = parsed(base());
    EXPECT_EQ(a.server, "s");
    EXPECT_EQ(a.password, "p");
    EXPECT_FALSE(a.mode.has_value());
    EXPECT_FALSE(a.device.has_value());
    EXPECT_EQ(a.tap, "");
    EXPECT_EQ(a.wintun, "Ostrel");
    EXPECT_FALSE(a.wintun_dll.has_value());
    EXPECT_FALSE(a.connect_only || a.reconnect || a.insecure_skip_server_auth);
    EXPECT_FALSE(a.server_auth_key.has_value());

    Args b = parsed({"--node=", "--user=-dash", "--pass=a=b", "--server", "[fe80::1]:9", "--mode", "l3",
                     "--device=wintun", "--tap", "", "--wintun=W n", "--wintun-dll", "/x.so", "--connect-only",
                     "--reconnect", "--server-auth-key=AB", "--insecure-skip-server-auth"});
    EXPECT_EQ(b.node, "");
    EXPECT_EQ(b.user, "-dash");
    EXPECT_EQ(b.password, "a=b");
    EXPECT_EQ(b.server, "[fe80::1]:9");
    EXPECT_EQ(b.mode, TunnelMode::l3);
    EXPECT_EQ(b.device, DeviceKind::wintun);
    EXPECT_EQ(b.tap, "");
    EXPECT_EQ(b.wintun, "W n");
    EXPECT_EQ(b.wintun_dll, "/x.so");
    EXPECT_TRUE(b.connect_only && b.reconnect && b.insecure_skip_server_auth);
    EXPECT_EQ(b.server_auth_key, "AB");

    // A lone "-" is a value, non-ASCII text is kept as given.
    Args c = parsed({"--server", "-", "--user", "Ünïcødé", "--pass", " ", "--node", "n"});
    EXPECT_EQ(c.server, "-");
    EXPECT_EQ(c.user, "Ünïcødé");
    EXPECT_EQ(c.password, " ");
}

TEST(ArgsParse, MissingRequired)
{
    expectError({}, report("the following required arguments were not provided:\n  --server <SERVER>\n"
                           "  --user <USER>\n  --pass <PASSWORD>\n  --node <NODE>"));
    // Once something was given, the usage names it instead of [OPTIONS].
    expectError({"--user", "u", "--node", "n", "--reconnect"},
                report("the following required arguments were not provided:\n  --server <SERVER>\n"
                       "  --pass <PASSWORD>",
                       "ostrel-client --server <SERVER> --user <USER> --pass <PASSWORD> --node <NODE> --reconnect"));
}

TEST(ArgsParse, UnknownArguments)
{
    expectError(base({"--serve", "x"}),
                report("unexpected argument '--serve' found\n\n  tip: a similar argument exists: '--server'"));
    expectError({"--pas=x"}, report("unexpected argument '--pas' found\n\n  tip: a similar argument exists: '--pass'"));
    expectError({"--hepl"}, report("unexpected argument '--hepl' found\n\n  tip: a similar argument exists: '--help'"));
    expectError({"--mode", "l2", "--frobnicate"},
                report("unexpected argument '--frobnicate' found",
                       "ostrel-client --server <SERVER> --user <USER> --pass <PASSWORD> --node <NODE> --mode <MODE>"));
    expectError({"-x"}, report("unexpected argument '-x' found"));
    expectError(base({"extra"}), report("unexpected argument 'extra' found"));
    expectError(base({"--", "--server"}), report("unexpected argument '--server' found"));
    expectError({"--Server", "s"}, report("unexpected argument '--Server' found\n\n  tip: a similar argument exists: '--server'"));
    expectError({"--reconnect=yes"},
                report("unexpected value 'yes' for '--reconnect' found; no more were expected"));
}

TEST(ArgsParse, MissingValues)
{
    expectError({"--server"}, report("a value is required for '--server <SERVER>' but none was supplied"));
    // A value starting with "-" must be joined with "=".
    expectError({"--user", "-dash", "--server", "s"},
                report("a value is required for '--user <USER>' but none was supplied"));
    expectError({"--user", "--serve"}, report("a value is required for '--user <USER>' but none was supplied"));
    expectError({"--user", "--"}, report("a value is required for '--user <USER>' but none was supplied"));
    expectError({"--user", "-h"}, report("a value is required for '--user <USER>' but none was supplied"));
    expectError({"--pass", "--node", "n"},
                report("a value is required for '--pass <PASSWORD>' but none was supplied"));
    expectError({"--mode"}, report("a value is required for '--mode <MODE>' but none was supplied\n"
                                   "  [possible values: l2, l3]"));
    expectError({"--mode="}, report("a value is required for '--mode <MODE>' but none was supplied\n"
                                    "  [possible values: l2, l3]"));
}

TEST(ArgsParse, RepeatedOptionsIncludingFlags)
{
    expectError(base({"--reconnect", "--reconnect"}),
                report("the argument '--reconnect' cannot be used multiple times"));
    expectError(base({"--server=t"}), report("the argument '--server <SERVER>' cannot be used multiple times"));
    expectError(base({"--tap", "", "--tap", ""}), report("the argument '--tap <TAP>' cannot be used multiple times"));
    expectError(base({"--insecure-skip-server-auth", "--insecure-skip-server-auth"}),
                report("the argument '--insecure-skip-server-auth' cannot be used multiple times"));
}

TEST(ArgsParse, InvalidValuesAndUtf8)
{
    expectError(base({"--mode", "L3"}), report("invalid value 'L3' for '--mode <MODE>'\n  [possible values: l2, l3]"));
    expectError(base({"--device=TAP"}),
                report("invalid value 'TAP' for '--device <DEVICE>'\n  [possible values: tap, wintun]"));
    expectError(base({"--device", "wintn"}),
                report("invalid value 'wintn' for '--device <DEVICE>'\n  [possible values: tap, wintun]\n\n"
                       "  tip: a similar value exists: 'wintun'"));
    expectError({"--user", "ok", "--pass", "p\xff" "q"}, report("invalid UTF-8 was detected in one or more arguments"));
    expectError({"--node=\xc3\x28"}, report("invalid UTF-8 was detected in one or more arguments"));
    expectError({"--wintun-dll", "\xed\xa0\x80"}, report("invalid UTF-8 was detected in one or more arguments"));
    expectError({"--mode", "l\xff"}, report("invalid value 'l\xEF\xBF\xBD' for '--mode <MODE>'\n"
                                            "  [possible values: l2, l3]"));
    expectError({"--\xff"}, report("unexpected argument '--\xEF\xBF\xBD' found"));
}

TEST(ArgsParse, HelpGoesToStandardOutput)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"-h"}, {"--mode", "l2", "--help", "--x"}}) {
        auto r = ArgsParser::tryParse(std::span<const std::string>(args));
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().status, 0);
        EXPECT_EQ(r.error().standardError, "");
        EXPECT_EQ(r.error().standardOutput, ArgsParser::helpText());
    }
    const std::string help = ArgsParser::helpText();
    EXPECT_EQ(help.find("Usage: " + kFullUsage + "\n"), help.find("Usage: "));
    EXPECT_NE(help.find("--mode <MODE>"), std::string::npos);
    EXPECT_NE(help.find("[possible values: l2, l3]"), std::string::npos);
    EXPECT_NE(help.find("[possible values: tap, wintun]"), std::string::npos);
    EXPECT_NE(help.find("--tap <TAP>                          [default: ]\n"), std::string::npos);
    EXPECT_NE(help.find("[default: Ostrel]"), std::string::npos);
    EXPECT_LT(help.find("--server-auth-key"), help.find("--insecure-skip-server-auth"));
    EXPECT_EQ(help.find(" \n"), std::string::npos);
    EXPECT_EQ(help.back(), '\n');
    // An error earlier on the line wins over a later help request.
    expectError({"--bogus", "--help"}, report("unexpected argument '--bogus' found"));
}
