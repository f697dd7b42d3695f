// Stands in for the update applier: records its arguments, one per line,
// in stub-args.txt of the installation directory (its second argument).
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 1;
    const std::string target = std::string(argv[2]) + "/stub-args.txt";
    {
        std::ofstream out(target + ".part", std::ios::binary | std::ios::trunc);
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
        if (!out)
            return 1;
    }
    // Renamed into place so a reader never sees half the record.
    return std::rename((target + ".part").c_str(), target.c_str()) == 0 ? 0 : 1;
}
