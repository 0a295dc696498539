// The command runner with the real launcher, running real system programs.

#include "core/install_error.h"
#include "fileops/process.h"
#include "platform/launcher.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class Process : public ::testing::Test {
protected:
    std::string installErrorOf(const fs::path& executable, const std::vector<std::string>& arguments)
    {
        try {
            process(executable, arguments);
        } catch (const InstallError& error) {
            return error.message();
        }
        return "no InstallError";
    }

    // The launch error for a program that cannot be started; required or not.
    std::system_error launchErrorOf(const fs::path& executable, bool required)
    {
        try {
            process(executable, {}, required);
        } catch (const std::system_error& error) {
            return error;
        } catch (const std::exception& error) {
            ADD_FAILURE() << "not a std::system_error: " << error.what();
            return std::system_error(0, std::generic_category());
        }
        ADD_FAILURE() << executable << " was started";
        return std::system_error(0, std::generic_category());
    }

    PosixLauncher real;
    ScopedLauncher useReal{real};
    TempDir dir;
};

TEST_F(Process, ReturnsWhatTheToolWroteOnStandardErrorOnly)
{
    ProcessResult result = process("/bin/sh", {"-c", "echo 'nur Fehlerausgabe' >&2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "nur Fehlerausgabe\n");
}

TEST_F(Process, KeepsTheOrderInWhichBothStreamsWereWritten)
{
    ProcessResult result =
        process("/bin/sh", {"-c", "echo eins; echo zwei >&2; echo drei; echo vier >&2; printf fünf"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "eins\nzwei\ndrei\nvier\nfünf");
}

TEST_F(Process, CollectsSeveralHundredKilobytesWithoutBlocking)
{
    std::string numbers;
    for (int i = 1; i <= 100000; ++i) numbers += std::to_string(i) + "\n";
    ASSERT_GT(numbers.size(), 550000u);

    ProcessResult result = process("/usr/bin/seq", {"1", "100000"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.size(), numbers.size());
    EXPECT_TRUE(result.output == numbers);

    ProcessResult both = process("/bin/sh", {"-c", "seq 1 100000 >&2; seq 1 100000"});
    EXPECT_EQ(both.status, 0);
    EXPECT_TRUE(both.output == numbers + numbers);
}

TEST_F(Process, ARequiredToolThatFailsBecomesTheRollbackMessage)
{
    EXPECT_EQ(installErrorOf("/usr/bin/false", {}),
              "Ein Systemschritt ist fehlgeschlagen (false, Code 1). Die Installation wird zurückgesetzt.");
    EXPECT_EQ(installErrorOf("/bin/sh", {"-c", "echo dropped; exit 42"}),
              "Ein Systemschritt ist fehlgeschlagen (sh, Code 42). Die Installation wird zurückgesetzt.");
    fs::create_directories(dir / "tools with space");
    fs::copy_file("/usr/bin/false", dir / "tools with space" / "launch ctl");
    EXPECT_EQ(installErrorOf(dir / "tools with space" / "launch ctl", {}),
              "Ein Systemschritt ist fehlgeschlagen (launch ctl, Code 1). Die Installation wird zurückgesetzt.");
}

TEST_F(Process, AnOptionalToolThatFailsReturnsItsStatusAndOutput)
{
    ProcessResult plain = process("/usr/bin/false", {}, false);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.output, "");
    ProcessResult withOutput = process("/bin/sh", {"-c", "echo 'Could not find service' >&2; exit 113"}, false);
    EXPECT_EQ(withOutput.status, 113);
    EXPECT_EQ(withOutput.output, "Could not find service\n");
}

TEST_F(Process, AToolEndedByASignalNeverCountsAsSuccess)
{
    ProcessResult killed = process("/bin/sh", {"-c", "echo vorher; kill -KILL $$"}, false);
    EXPECT_NE(killed.status, 0);
    EXPECT_EQ(killed.status, 128 + 9);
    EXPECT_EQ(killed.output, "vorher\n");
    EXPECT_EQ(installErrorOf("/bin/sh", {"-c", "kill -TERM $$"}),
              "Ein Systemschritt ist fehlgeschlagen (sh, Code 143). Die Installation wird zurückgesetzt.");
}

TEST_F(Process, APathThatIsNoProgramFailsWithTheLaunchErrorRequiredOrNot)
{
    writeFile(dir / "plain-file", "kein Programm", 0644);
    writeFile(dir / "garbage", "\x7f" "ELF? no", 0755);
    fs::create_directories(dir / "folder");
    for (bool required : {true, false}) {
        std::system_error plain = launchErrorOf(dir / "plain-file", required);
        EXPECT_EQ(plain.code(), std::errc::permission_denied);
        EXPECT_STREQ(plain.what(), ("cannot start \"" + (dir / "plain-file").native() + "\": Permission denied").c_str());
        EXPECT_EQ(launchErrorOf(dir / "folder", required).code(), std::errc::permission_denied);
        EXPECT_EQ(launchErrorOf(dir / "garbage", required).code(), std::errc::executable_format_error);
        std::system_error missing = launchErrorOf(dir / "missing", required);
        EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
        EXPECT_STREQ(missing.what(),
                     ("cannot start \"" + (dir / "missing").native() + "\": No such file or directory").c_str());
    }
}

TEST_F(Process, TheToolIsNeverLookedUpAlongThePath)
{
    ScopedEnvironment path("PATH", "/usr/bin:/bin");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    std::system_error error = launchErrorOf("false", false);
    fs::current_path(previous);
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
}

TEST_F(Process, KeepsTrailingLineFeeds)
{
    EXPECT_EQ(process("/usr/bin/printf", {"zeile\\n\\n"}).output, "zeile\n\n");
    EXPECT_EQ(process("/usr/bin/printf", {"\\n"}).output, "\n");
    EXPECT_EQ(process("/usr/bin/true", {}).output, "");
}

TEST_F(Process, OutputThatIsNotUtf8BecomesEmpty)
{
    ProcessResult invalid = process("/usr/bin/printf", {"gut\\n\\377schlecht\\n"});
    EXPECT_EQ(invalid.status, 0);
    EXPECT_EQ(invalid.output, "");
    ProcessResult cut = process("/usr/bin/printf", {"abgeschnitten \\303"}, false);
    EXPECT_EQ(cut.output, "");
    ProcessResult valid = process("/usr/bin/printf", {"Gr\\303\\274\\303\\237e \\342\\206\\222"});
    EXPECT_EQ(valid.output, "Grüße →");
}

TEST_F(Process, HandsTheArgumentsOverUnchangedWithoutAShell)
{
    ScopedEnvironment variable("KB_PROCESS_TEST", "expanded");
    writeFile(dir / "a-file", "");
    ProcessResult result = process("/usr/bin/printf", {"[%s]\\n", "two words", "\"double\"", "'single'",
                                                       "$KB_PROCESS_TEST", "${HOME}", "*", (dir / "*").native(),
                                                       "", "a;b", "`id`", "$(id)", "back\\slash", "line\nbreak"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "[two words]\n[\"double\"]\n['single']\n[$KB_PROCESS_TEST]\n[${HOME}]\n[*]\n["
                                 + (dir / "*").native() + "]\n[]\n[a;b]\n[`id`]\n[$(id)]\n[back\\slash]\n[line\nbreak]\n");
}

TEST_F(Process, TheToolInheritsEnvironmentAndWorkingDirectory)
{
    ScopedEnvironment variable("KB_PROCESS_TEST", "geerbt");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    ProcessResult result = process("/bin/sh", {"-c", "printf '%s %s' \"$KB_PROCESS_TEST\" \"$(pwd)\""});
    fs::current_path(previous);
    EXPECT_EQ(result.output, "geerbt " + dir.path().native());
}

TEST_F(Process, WaitsUntilEveryHolderOfThePipeHasClosedIt)
{
    // The tool ends at once; a process it left behind still writes.
    ProcessResult result = process("/bin/sh", {"-c", "(sleep 1; echo später) & echo sofort"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "sofort\nspäter\n");
}

}  // namespace
}  // namespace kb::test
