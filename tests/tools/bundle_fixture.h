#pragma once
// Shared pieces of the bundle tool's tests.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace kb::test {

inline std::filesystem::path bundleTool()
{
    return builtBinaryDir() / "kestrelbay-bundle";
}

// The usual arguments for bundling `payload` into `output`.
inline std::vector<std::string> bundleArguments(const std::filesystem::path& payload,
                                                const std::filesystem::path& output)
{
    return {"--payload", payload.native(), "--id",      "huecraft",      "--name",   "Huecraft Vireo",
            "--version", "1.2.0b2",        "--message", "Grüße aus dem Test.", "--output", output.native()};
}

struct ZipMember {
    std::string name;
    unsigned mode = 0;         // st_mode from the external attributes
    unsigned method = 0;       // 0 stored, 8 deflated
    bool utf8Flag = false;
    bool operator==(const ZipMember&) const = default;
};

// The members of a ZIP archive in their stored order, read with Python's zipfile.
inline std::vector<ZipMember> zipMembers(const std::filesystem::path& archive)
{
    ProgramRun run = runProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, sys, zipfile\n"
         "print(json.dumps([[i.filename, i.external_attr >> 16, i.compress_type, bool(i.flag_bits & 0x800)]\n"
         "                  for i in zipfile.ZipFile(sys.argv[1]).infolist()]))\n",
         archive.native()});
    if (run.status != 0) throw std::runtime_error("zipfile failed: " + run.err);
    std::vector<ZipMember> members;
    for (const auto& item : nlohmann::json::parse(run.out)) {
        members.push_back({item[0].get<std::string>(), item[1].get<unsigned>(), item[2].get<unsigned>(),
                           item[3].get<bool>()});
    }
    return members;
}

inline nlohmann::json readJson(const std::filesystem::path& path)
{
    return nlohmann::json::parse(readText(path));
}

}  // namespace kb::test
