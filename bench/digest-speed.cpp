// Times kb::sha256 on one file, the way the verifier digests every payload
// file (through the real file manager, in 1 MiB pieces), and prints the
// median throughput of several passes in MB/s (10^6 bytes per second, as
// `openssl speed` counts). Not part of the installer; install-bench.sh builds
// it as the target digest-speed, against the build's own libraries.
//
// usage: digest-speed <file> [passes]

#include "payload/sha256.h"
#include "platform/file_manager.h"
#include "platform/posix/posix_file_manager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: digest-speed <file> [passes]\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const int passes = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
    kb::PosixFileManager files;
    kb::ScopedService scoped(kb::fm, files);
    try {
        const auto bytes = static_cast<double>(std::filesystem::file_size(file));
        std::string digest = kb::sha256(file);  // warms the page cache
        std::vector<double> rates;
        for (int pass = 0; pass < passes; ++pass) {
            const auto start = std::chrono::steady_clock::now();
            digest = kb::sha256(file);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            rates.push_back(bytes / took.count() / 1e6);
        }
        std::sort(rates.begin(), rates.end());
        std::printf("%.1f %s\n", rates[rates.size() / 2], digest.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "digest-speed: %s\n", error.what());
        return 1;
    }
    return 0;
}
