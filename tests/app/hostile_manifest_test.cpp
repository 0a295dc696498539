// Manifests written to point the check somewhere else or to break it: keys
// that climb, absolute keys, keys for the root itself, impossible sizes,
// values of the wrong shape and keys given twice. Through the real installer,
// on an honest archive.

#include "tests/app/hostile_fixture.h"

#include <cstdint>
#include <limits>

namespace kb::test {
namespace {

class HostileManifest : public HostileRun {
protected:
    HostileManifest()
    {
        writeMembers({folder("P/"), member("P/a.txt", "A")});
        manifest["files"]["a.txt"] = fileEntryFor("A");
    }
};

TEST_F(HostileManifest, KeysThatClimbOutOfTheRootAreNeverFound)
{
    manifest["files"]["../../../../outside/victim.txt"] = fileEntryFor("original\n");
    expectRefused(verify(), incomplete);
}

TEST_F(HostileManifest, AbsoluteKeysAreNeverFound)
{
    manifest["files"][(outside() / "victim.txt").native()] = fileEntryFor("original\n");
    expectRefused(verify(), incomplete);
}

TEST_F(HostileManifest, KeysNamingTheRootAreNeverFound)
{
    manifest["files"][""] = fileEntryFor("");
    expectRefused(verify(), incomplete);
    manifest["files"].erase("");
    manifest["symlinks"]["."] = ".";
    expectRefused(verify(), incomplete);
}

TEST_F(HostileManifest, KeysSpelledWithDotSlashOrDoubledSlashesAreNeverFound)
{
    manifest["files"]["./a.txt"] = fileEntryFor("A");
    expectRefused(verify(), incomplete);
}

TEST_F(HostileManifest, TheLargestSizeIsAMismatch)
{
    manifest["files"]["a.txt"]["size"] = std::numeric_limits<std::uint64_t>::max();
    expectRefused(verify(), checkFailed + "a.txt");
}

TEST_F(HostileManifest, ASizeBeyondSixtyFourBitsIsRefusedByTheDecoder)
{
    manifestText = R"({"files": {"a.txt": {"sha256": "x", "size": 18446744073709551616}}, "symlinks": {}})";
    expectRefused(verify(), "[json.exception.out_of_range.406] (/files/a.txt/size) size must be a whole number from "
                            "0 to 18446744073709551615, but is 1.8446744073709552e+19");
}

TEST_F(HostileManifest, ValuesOfTheWrongShape)
{
    manifest["files"] = nlohmann::json::array();
    expectRefused(verify(), "[json.exception.type_error.302] (/files) type must be object, but is array");

    manifest["files"] = {{"a.txt", "not an object"}};
    expectRefused(verify(), "[json.exception.type_error.304] (/files/a.txt) cannot use at() with string");

    manifest["files"] = {{"a.txt", fileEntryFor("A")}};
    manifest["symlinks"] = {{"l", 1}};
    expectRefused(verify(), "[json.exception.type_error.302] (/symlinks/l) type must be string, but is number");
}

TEST_F(HostileManifest, AKeyGivenTwiceKeepsItsLastValue)
{
    const std::string good = fileEntryFor("A").dump();
    const std::string bad = fileEntryFor("B").dump();
    manifestText = R"({"files": {"a.txt": )" + good + R"(, "a.txt": )" + bad + R"(}, "symlinks": {}})";
    expectRefused(verify(), checkFailed + "a.txt");
    manifestText = R"({"files": {"a.txt": )" + bad + R"(, "a.txt": )" + good + R"(}, "symlinks": {}})";
    expectVerified(verify());
}

}  // namespace
}  // namespace kb::test
