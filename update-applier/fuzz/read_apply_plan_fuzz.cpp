// libFuzzer target: any bytes as apply.json give a well-formed plan or exactly one log line.
#include "update_applier.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("applier-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    const fs::path plan = dir / "apply.json";
    const fs::path log = dir / "updater.log";
    {
        std::ofstream out(plan, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::error_code ec;
    fs::remove(log, ec);

    const auto result = UpdateApplier::readApplyPlan(plan, dir);
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (result) {
        if (result->mainExecutable.empty() || !text.empty())
            std::abort();
        for (const auto& entry : result->remove)
            if (entry.empty() || entry.find(u'\0') != std::u16string::npos)
                std::abort();
    } else if (text.empty() || text.back() != '\n' || text.find('\n') != text.size() - 1) {
        std::abort();
    }
    return 0;
}
