#include "core/install_error.h"
#include "payload/sha256.h"
#include "platform/posix_file_manager.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

namespace kb {
namespace {

using test::TempDir;
using test::writeFile;

class Sha256 : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager useReal{real};
    TempDir temp;
};

TEST_F(Sha256, EmptyFile)
{
    writeFile(temp / "empty", "");
    EXPECT_EQ(sha256(temp / "empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(Sha256, KnownVectors)
{
    writeFile(temp / "abc", "abc");
    EXPECT_EQ(sha256(temp / "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    writeFile(temp / "two-blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    EXPECT_EQ(sha256(temp / "two-blocks"), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // One million "a": FIPS 180-2, appendix B.3; just below one piece.
    writeFile(temp / "million", std::string(1000000, 'a'));
    EXPECT_EQ(sha256(temp / "million"), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(Sha256, ByteBelowSixteenKeepsItsLeadingZero)
{
    // The digest of "286" begins with the byte 0x00, then 0x32.
    writeFile(temp / "286", "286");
    EXPECT_EQ(sha256(temp / "286"), "00328ce57bbc14b33bd6695bc8eb32cdf2fb5f3a7d89ec14a42825e15d39df60");
    // The digest of "8" holds the bytes 0x00 and 0x0a in its middle.
    writeFile(temp / "eight", "8");
    const std::string digest = sha256(temp / "eight");
    EXPECT_EQ(digest, "2c624232cdd221771294dfbb310aca000a0df6ac8b66b696d90ef06fdefb64a3");
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST_F(Sha256, ExactlyOneMebibyteAndMore)
{
    std::string bytes(0x100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    writeFile(temp / "one-piece", bytes);
    EXPECT_EQ(sha256(temp / "one-piece"), test::sha256Hex(bytes));

    bytes += "tail";
    writeFile(temp / "two-pieces", bytes);
    EXPECT_EQ(sha256(temp / "two-pieces"), test::sha256Hex(bytes));
}

TEST_F(Sha256, ReadsInPiecesOfOneMebibyteThroughTheFileManager)
{
    writeFile(temp / "one-piece", std::string(0x100000, 'x'));
    writeFile(temp / "three-pieces", std::string(0x200001, 'y'));
    writeFile(temp / "empty", "");
    test::FaultInjectingFileManager counting(real);
    ScopedFileManager useCounting(counting);

    auto reads = [&](const char* name) {
        const std::size_t before = counting.log().size();
        sha256(temp / name);
        std::size_t count = 0;
        for (std::size_t i = before; i < counting.log().size(); ++i) {
            if (counting.log()[i].name == "read") ++count;
        }
        return count;
    };
    EXPECT_EQ(reads("empty"), 1u);           // one read that returns nothing
    EXPECT_EQ(reads("one-piece"), 2u);       // one full piece, then an empty read
    EXPECT_EQ(reads("three-pieces"), 4u);    // 1 MiB, 1 MiB, 1 byte, end
}

TEST_F(Sha256, MissingFileGivesThePlatformErrorNotAnInstallError)
{
    try {
        sha256(temp / "missing");
        FAIL() << "no error";
    } catch (const InstallError&) {
        FAIL() << "an InstallError";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(error.what()).find((temp / "missing").native()), std::string::npos);
    }
}

TEST_F(Sha256, AFolderCannotBeDigested)
{
    EXPECT_THROW(sha256(temp.path()), std::system_error);
}

TEST_F(Sha256, ReadErrorIsPassedOnUnchanged)
{
    writeFile(temp / "file", std::string(3 * 0x100000, 'z'));
    test::FaultInjectingFileManager faulty(real);
    ScopedFileManager useFaulty(faulty);
    // Call 1 opens, call 2 is the first read, call 3 the second read.
    faulty.failCall(3, EIO);
    try {
        sha256(temp / "file");
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EIO);
    }
}

}  // namespace
}  // namespace kb
