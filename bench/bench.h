// A small registry of benchmarks: each file registers its own with
// VERANDEL_BENCH(name) and reads its arguments from the command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

using BenchFunction = std::function<int(const std::vector<std::string>& args)>;

bool RegisterBench(const char* name, const char* usage, BenchFunction fn);

#define VERANDEL_BENCH(name, usage)                                                 \
    static int Bench_##name(const std::vector<std::string>& args);                 \
    static const bool kRegistered_##name = RegisterBench(#name, usage, Bench_##name); \
    static int Bench_##name(const std::vector<std::string>& args)
