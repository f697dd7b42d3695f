// The client as a user who is not root runs it after the set-up: the executable root's,
// runnable by that user, with CAP_NET_ADMIN as a file capability. What it loads, which
// interfaces it takes and what the programs it starts get must stay what that user could
// reach without the right.
//
// Each run happens in a mount namespace of its own: a tmpfs on /media holds the client,
// a root-owned library folder, a folder of the user's and, where a test asks, the user's
// own ext4 image mounted as a stick is; /dev/net/tun there is open to
// every user, as udev leaves it on a fresh machine; /usr/sbin/ip there notes each run's
// PATH and one variable of the caller's on standard error before it runs the system's ip.

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_program.h"
#include "netns_lab.h"

namespace {

using corvana::netns::NetnsLab;
using corvana::process::ChildProgram;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kBin = CORVANA_BIN_DIR;
constexpr const char* kAccount = "ostrel-granted";
constexpr const char* kStage = "/media";

// $1 uid, $2 gid, $3 the build's bin folder, $4 where the client goes: "root" (a folder of
// root's) or "user" (the user's own folder, as a build folder is); $5 the options of a stick
// the user brought, or "-" for none; then the client's arguments.
constexpr const char* kStageScript = R"sh(
set -e
user=$1 group=$2 bin=$3 where=$4 stick=$5
shift 5
stage=/media
mount -t tmpfs -o mode=0755 ostrel-granted "$stage"
mkdir -m 0755 "$stage/root-bin" "$stage/root-lib" "$stage/home" "$stage/home/path"
cp "$bin/libwintun.so" "$stage/root-lib/"
# The user's own library, in the user's own folder: its constructor says when it runs.
cp "$bin/libostrel_marker.so" "$stage/home/libwintun.so"
printf '#!/bin/sh\necho "caller ip ran" >&2\n' >"$stage/home/path/ip"
chmod 0755 "$stage/home/path/ip"
chown -R "$user:$group" "$stage/home"
# The user's image, as an automounter mounts a stick: its folder and library say they are
# root's, and they are only because the user wrote them so.
if [ "$stick" != - ]; then
  mkdir -m 0755 "$stage/stick-tree" "$stage/stick"
  cp "$bin/libostrel_marker.so" "$stage/stick-tree/libwintun.so"
  truncate -s 8M "$stage/stick.img"
  mkfs.ext4 -q -F -E root_owner=0:0 -d "$stage/stick-tree" "$stage/stick.img"
  mount -o "loop,$stick" "$stage/stick.img" "$stage/stick"
fi
case $where in root) dir=$stage/root-bin ;; *) dir=$stage/home ;; esac
cp "$bin/ostrel-client" "$dir/"
chown "root:$group" "$dir/ostrel-client"
chmod 0750 "$dir/ostrel-client"
setcap cap_net_admin+ep "$dir/ostrel-client"
mknod -m 0666 "$stage/tun" c 10 200
mount --bind "$stage/tun" /dev/net/tun
cp /usr/sbin/ip "$stage/root-bin/system-ip"
printf '#!/bin/sh\necho "ip run: PATH=$PATH mark=${OSTREL_CALLER_MARK-unset}" >&2\nexec %s "$@"\n' \
  "$stage/root-bin/system-ip" >"$stage/root-bin/recording-ip"
chmod 0755 "$stage/root-bin/recording-ip"
mount --bind "$stage/root-bin/recording-ip" /usr/sbin/ip
exec setpriv --reuid="$user" --regid="$group" --init-groups \
  env OSTREL_CALLER_MARK=from-the-caller PATH="$stage/home/path:$PATH" "$dir/ostrel-client" "$@"
)sh";

bool onPath(const std::string& tool) {
    return ChildProgram({"sh", "-c", "command -v \"$0\"", tool}).finish(30s).exitStatus == 0;
}

class GrantedClient : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = NetnsLab::unavailableReason(); !why.empty()) GTEST_SKIP() << "granted client test skipped: " << why;
        for (const char* tool : {"setpriv", "setcap", "useradd", "unshare", "mknod"})
            if (!onPath(tool)) GTEST_SKIP() << "granted client test skipped: needs " << tool;
        if (::access(kStage, F_OK) != 0) GTEST_SKIP() << "granted client test skipped: needs the folder " << kStage;
        // The tests of this file make the account one at a time: a useradd that fails
        // half-way shows an entry it then takes back. Another program's useradd may hold
        // the account files for a moment, so a failed one is tried again.
        const int lock = ::open("/run/lock/ostrel-granted-account", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        for (int tries = 0; tries < 50 && !::getpwnam(kAccount); ++tries) {
            auto made = ChildProgram({"useradd", "--system", "--user-group", "--no-create-home", "--shell",
                                      "/usr/sbin/nologin", kAccount})
                            .finish(60s);
            if (made.exitStatus != 0) std::this_thread::sleep_for(100ms);
        }
        const passwd* account = ::getpwnam(kAccount);
        ::close(lock);
        ASSERT_NE(account, nullptr) << "could not create the account " << kAccount;
        uid_ = account->pw_uid;
        gid_ = account->pw_gid;

        lab_ = std::make_unique<NetnsLab>(0);
        ASSERT_TRUE(lab_->ok()) << lab_->error();
        server_ = std::make_unique<ChildProgram>(
            std::vector<std::string>{kBin + "/ostrel-tunnel-server", "--port", "7100", "--account",
                                     "player:pw:lan2:l2", "--account", "player3:pw:lan3:l3"},
            ChildProgram::Options{.errors = ChildProgram::Errors::inherit, .netns = lab_->serverNs()});
        ASSERT_TRUE(server_->started());
        ASSERT_TRUE(server_->readUntil("listening", 30s)) << "tunnel server did not start";
    }

    void TearDown() override {
        server_.reset();
        lab_.reset();
    }

    struct Run {
        std::vector<std::string> out;  // event lines
        std::string err;
        std::string adapter;           // the "adapter" event's line, when it came up
    };

    // The client as the account, with the right, until it fails or comes up (then stopped).
    Run runClient(const std::string& where, const std::vector<std::string>& options, const std::string& stick = "-") {
        const bool layer3 = std::find(options.begin(), options.end(), "l3") != options.end();
        std::vector<std::string> argv{"unshare", "--mount", "--propagation", "private", "sh", "-c", kStageScript,
                                      "sh", std::to_string(uid_), std::to_string(gid_), kBin, where, stick,
                                      "--server", "127.0.0.1:7100", "--user", layer3 ? "player3" : "player",
                                      "--pass", "pw", "--node", layer3 ? "lan3" : "lan2",
                                      "--insecure-skip-server-auth"};
        argv.insert(argv.end(), options.begin(), options.end());
        ChildProgram client(argv, {.errors = ChildProgram::Errors::capture, .netns = lab_->serverNs()});
        Run run;
        if (!client.started()) return run;
        for (;;) {
            auto line = client.readLine(90s);
            if (!line) break;
            if (line->find("\"event\":\"adapter\"") != std::string::npos) run.adapter = *line;
            if (line->find("\"event\":\"ready\"") != std::string::npos) {
                client.signal(SIGTERM);
                break;
            }
        }
        auto finished = client.finish(60s);
        run.out = client.lines;
        run.err = finished.err;
        if (!finished.out.empty()) run.out.push_back(finished.out);
        return run;
    }

    static std::string joined(const Run& run) {
        std::string all;
        for (const auto& line : run.out) all += line + "\n";
        return all + "-- standard error:\n" + run.err;
    }

    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::unique_ptr<NetnsLab> lab_;
    std::unique_ptr<ChildProgram> server_;
};

TEST_F(GrantedClient, LoadsOnlyALibraryRootAloneCanChange) {
    const std::string refusal = "failed to load wintun.dll; put wintun.dll next to ostrel-client.exe or pass "
                                "--wintun-dll: error 13; /media/home/libwintun.so refused: /media/home belongs to uid " +
                                std::to_string(uid_) + ", not root";
    struct Case {
        std::string what;
        std::string where;  // the client's folder
        std::vector<std::string> options;
        std::string failure;  // empty: the adapter comes up
    };
    const Case cases[] = {
        {"the user's library named on the command line", "root",
         {"--wintun-dll", "/media/home/libwintun.so"}, refusal},
        {"the user's library beside the client in the user's folder", "user", {}, refusal},
        {"root's library in root's folders", "root", {"--wintun-dll", "/media/root-lib/libwintun.so"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> options{"--mode", "l3", "--device", "wintun", "--wintun", "granted1"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        Run run = runClient(c.where, options);
        EXPECT_THAT(run.err, Not(HasSubstr("marker library constructor ran"))) << joined(run);
        if (c.failure.empty()) {
            EXPECT_THAT(run.adapter, HasSubstr("\"name\":\"granted1\"")) << joined(run);
        } else {
            EXPECT_EQ(run.adapter, "") << joined(run);
            ASSERT_FALSE(run.out.empty()) << joined(run);
            EXPECT_THAT(run.out.back(), HasSubstr("\"code\":\"tap_open_failed\"")) << joined(run);
            EXPECT_THAT(run.out.back(), HasSubstr(c.failure)) << joined(run);
        }
    }
}

TEST_F(GrantedClient, RefusesALibraryOnAMountTheUserBrought) {
    for (const char* tool : {"mkfs.ext4", "losetup"})
        if (!onPath(tool)) GTEST_SKIP() << "needs " << tool;
    struct Case {
        std::string options;  // of the stick's mount
        std::string why;
    };
    const Case cases[] = {
        {"nosuid,nodev", "nosuid"},  // what automounters set
        {"nodev", "nodev"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Run run = runClient("root",
                            {"--mode", "l3", "--device", "wintun", "--wintun", "granted2", "--wintun-dll",
                             "/media/stick/libwintun.so"},
                            c.options);
        EXPECT_THAT(run.err, Not(HasSubstr("marker library constructor ran"))) << joined(run);
        EXPECT_EQ(run.adapter, "") << joined(run);
        ASSERT_FALSE(run.out.empty()) << joined(run);
        EXPECT_THAT(run.out.back(), HasSubstr("\"code\":\"tap_open_failed\"")) << joined(run);
        EXPECT_THAT(run.out.back(), HasSubstr("error 13; /media/stick/libwintun.so refused: /media/stick/libwintun.so "
                                              "lies on a " + c.why + " mount"))
            << joined(run);
    }
}

TEST_F(GrantedClient, LeavesInterfacesOfOtherAccountsAlone) {
    for (const char* mode : {"tap", "tun"}) {
        ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "tuntap", "add", "mode", mode, "name",
                                                   std::string("other") + mode, "user", "nobody"}),
                  0);
    }
    struct Case {
        std::string what;
        std::vector<std::string> options;
        std::string adapter;  // the adapter it comes up on, or
        std::string failure;  // the text of its failure
    };
    const Case cases[] = {
        {"any TAP adapter", {"--mode", "l2"}, "ostrel0", ""},
        {"the other account's TAP named", {"--mode", "l2", "--tap", "othertap"}, "",
         "matching TAP adapter could not be opened"},
        {"the other account's TUN named",
         {"--mode", "l3", "--device", "wintun", "--wintun", "othertun", "--wintun-dll", "/media/root-lib/libwintun.so"},
         "", "WintunCreateAdapter failed; install wintun.dll and run as Administrator: error 1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run run = runClient("root", c.options);
        if (!c.adapter.empty()) {
            EXPECT_THAT(run.adapter, HasSubstr("\"name\":\"" + c.adapter + "\"")) << joined(run);
        } else {
            EXPECT_EQ(run.adapter, "") << joined(run);
            ASSERT_FALSE(run.out.empty()) << joined(run);
            EXPECT_THAT(run.out.back(), HasSubstr(c.failure)) << joined(run);
        }
    }
}

TEST_F(GrantedClient, RunsTheSystemsIpWithNothingOfTheCallersEnvironment) {
    Run run = runClient("root", {"--mode", "l2"});
    ASSERT_THAT(run.adapter, HasSubstr("\"name\":\"ostrel0\"")) << joined(run);
    EXPECT_THAT(run.err, HasSubstr("ip run: PATH=/usr/sbin:/usr/bin:/sbin:/bin mark=unset\n")) << joined(run);
    EXPECT_THAT(run.err, Not(HasSubstr("from-the-caller"))) << joined(run);
    EXPECT_THAT(run.err, Not(HasSubstr("caller ip ran"))) << joined(run);
}

}  // namespace
