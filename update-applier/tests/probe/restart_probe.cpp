// Stands in for the desktop program: records where and how it was started.
#include <cstdio>
#include <fstream>
#include <unistd.h>

int main(int argc, char** argv)
{
    char cwd[4096] = {};
    if (!::getcwd(cwd, sizeof cwd))
        return 2;
    {
        std::ofstream out("restarted.txt.part", std::ios::binary | std::ios::trunc);
        out << "cwd=" << cwd << "\nargc=" << argc << "\nargv0=" << (argc > 0 ? argv[0] : "") << "\n";
        if (!out)
            return 1;
    }
    // Renamed into place so a reader never sees half the record.
    return std::rename("restarted.txt.part", "restarted.txt") == 0 ? 0 : 1;
}
