// Runs checked-in inputs through the fuzz targets, so builds without libFuzzer
// exercise them too.
//   corvana_fuzz_replay CORPUS        every target over CORPUS/<target name>/
//   corvana_fuzz_replay TARGET PATH…  one target over files or folders (a reproducer)
#include "fuzz_targets.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct NamedTarget
{
    const char *name;
    fuzz::Target run;
};

constexpr NamedTarget kTargets[] = {
    {"lobby_message", fuzz::lobbyMessage},
    {"ipc_stream", fuzz::ipcStream},
    {"update_manifest", fuzz::updateManifest},
    {"hosts_cleanup", fuzz::hostsCleanup},
};

const NamedTarget *findTarget(const std::string &name)
{
    for (const NamedTarget &target : kTargets)
        if (name == target.name)
            return &target;
    return nullptr;
}

bool runFile(const NamedTarget &target, const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    target.run(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    return true;
}

// Every file below `path` (or `path` itself); -1 when one could not be read.
long runPath(const NamedTarget &target, const fs::path &path)
{
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto &entry : fs::recursive_directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    } else {
        files.push_back(path);
    }
    for (const fs::path &file : files)
        if (!runFile(target, file))
            return -1;
    return long(files.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS | %s TARGET PATH...\n", argv[0], argv[0]);
        return 2;
    }
    fuzz::init();
    if (const NamedTarget *target = findTarget(argv[1])) {
        long count = 0;
        for (int i = 2; i < argc; ++i) {
            const long n = runPath(*target, argv[i]);
            if (n < 0)
                return 1;
            count += n;
        }
        std::printf("%s: %ld inputs ran cleanly\n", target->name, count);
        return count > 0 ? 0 : 1;
    }

    // A corpus: each folder is a target's, and each target needs inputs.
    const fs::path corpus = argv[1];
    for (const auto &entry : fs::directory_iterator(corpus)) {
        if (!findTarget(entry.path().filename().string())) {
            std::fprintf(stderr, "%s is no target's corpus\n", entry.path().c_str());
            return 1;
        }
    }
    for (const NamedTarget &target : kTargets) {
        const long count = runPath(target, corpus / target.name);
        if (count <= 0) {
            std::fprintf(stderr, "%s: no inputs ran\n", target.name);
            return 1;
        }
        std::printf("%s: %ld inputs ran cleanly\n", target.name, count);
    }
    return 0;
}
