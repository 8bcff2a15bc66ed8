// verandel_bench <name> [args...]: runs one registered benchmark and prints its figures.
#include "bench.h"

#include <cstdio>
#include <map>

namespace {
struct Bench {
    std::string usage;
    BenchFunction fn;
};
std::map<std::string, Bench>& Registry()
{
    static std::map<std::string, Bench> registry;
    return registry;
}
}  // namespace

bool RegisterBench(const char* name, const char* usage, BenchFunction fn)
{
    Registry()[name] = Bench{usage, std::move(fn)};
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 2 || Registry().count(argv[1]) == 0) {
        std::printf("usage: verandel_bench <name> [args...]\n");
        for (const auto& [name, bench] : Registry())
            std::printf("  %s %s\n", name.c_str(), bench.usage.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return Registry()[argv[1]].fn(args);
}
