// The run ended from outside, as its user meets it: a signal while a helper of the real Installer waits (so the
// run is reliably mid-way), a closed output pipe; and the lock that keeps one run per home.

#include "core/messages.h"
#include "platform/file_manager.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

std::string line(std::string_view failure) { return std::string(messages::failurePrefix).append(failure) + "\n"; }

// Starts "$0 $A" with every signal handled by default (a shell's job would ignore SIGINT), on an X server of its
// own that confirms the dialog titled X when X is set; once the waiting helper wrote its id to W, sends signal S.
// Exits with the run's status, after saying so when the run waited for the helper or the helper outlived it.
const std::string interrupt = windowFinder + std::string(R"(if [ -n "$X" ]; then Xvfb -displayfd 3 3>"$W.x" 2>/dev/null & x=$!
    for i in $(seq 100); do [ -s "$W.x" ] && break; sleep 0.1; done; export DISPLAY=:$(cat "$W.x"); fi
    env --default-signal "$0" $A & p=$!; [ -z "$X" ] || xdotool windowfocus --sync $(window "$X" 20) key Return 2>/dev/null
    for i in $(seq 400); do [ -s "$W" ] && break; sleep 0.05; done
    t=$(date +%s); kill -$S $p; wait $p; s=$?; [ -z "$X" ] || kill $x
    [ $(($(date +%s) - t)) -lt 20 ] || echo "the run waited for its helper" >&2
    kill -0 $(cat "$W") 2>/dev/null && echo "a helper outlived the run" >&2; exit $s)");

TEST(Interruption, EndsTheRunAsAFailureWithEverythingPutBackAndNoHelperLeft)
{
    // The helper that waits (ditto as it unpacks, launchctl as it sets the search path) and the signal: any that ends a
    // process by default (40 is a real-time one; SEGV and PIPE count when another process sends them). launchctl's
    // run has no arguments: it confirms its dialog, replaces the old plug-in and loads its agent into launchd first.
    for (const auto& [helper, signal] : std::vector<std::pair<std::string, std::string>>{
             {"ditto", "TERM"}, {"ditto", "INT"}, {"ditto", "HUP"}, {"ditto", "QUIT"}, {"ditto", "USR2"},
             {"ditto", "SEGV"}, {"ditto", "PIPE"}, {"ditto", "40"}, {"launchctl", "TERM"}, {"launchctl", "ALRM"}}) {
        SCOPED_TRACE(helper + " " + signal);
        TempDir dir;
        const fs::path bundle = makeProduct(sourceDir() / "demo/geoweave/Geoweave-Payload", dir / "P.app", "geoweave");
        const fs::path home = dir / "home", tool = bundle / "Contents/Helpers" / helper;
        const bool dialog = helper == "launchctl";
        const RunOptions options{.env = {{"HOME", home.native()}, {"TMPDIR", (dir / "tmp").native()},
            {"OFX_PLUGIN_PATH", std::nullopt}, {"XDG_RUNTIME_DIR", std::nullopt}, {"W", (dir / "w").native()},
            {"S", signal}, {"X", dialog ? messages::confirmationTitle("Produkt", "1.0") : ""},
            {"A", dialog ? "" : "--verify-payload"}}};
        writeFile(home / "OFX/Geoweave.ofx.bundle/old.txt", "old");
        for (const char* folder : {"tmp", "home/Library/LaunchAgents", "home/Library/Application Support"})
            fs::create_directories(dir / folder);
        run(bundle / "Contents/Helpers/launchctl", {"setenv", "OFX_PLUGIN_PATH", "/old"}, options);
        fs::rename(tool, tool.native() + ".real");
        const std::string wait = R"(case $1 in --norsrc|setenv) [ -e "$W" ] || { echo $$ >"$W"; exec sleep 30;}; esac)";
        writeFile(tool, "#!/bin/sh\n" + wait + "\nexec \"$0.real\" \"$@\"\n", 0755);
        const Tree before = picture(home);
        const auto ran = run("/bin/sh", {"-c", interrupt, programOf(bundle)}, options);
        EXPECT_EQ(std::make_tuple(ran.status, ran.out, ran.err), std::make_tuple(1, "", line(messages::interrupted)));
        Tree after = picture(home);  // but the backup folder a failed run leaves
        std::erase_if(after, [](const auto& entry) { return entry.first.starts_with("Library/Application Support/"); });
        EXPECT_EQ(after, before);
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    }
}

TEST(Interruption, AClosedOutputPipeIsAnOrdinaryWriteError)
{
    TempDir dir;
    const fs::path bundle = makeProduct(sourceDir() / "demo/geoweave/Geoweave-Payload", dir / "P.app", "geoweave");
    fs::create_directories(dir / "tmp");
    const char* const closed = R"({ sleep 0.2; exec "$0" --verify-payload; } | true; exit ${PIPESTATUS[0]})";
    const auto ran = run("/bin/bash", {"-c", closed, programOf(bundle)}, {.env = {{"TMPDIR", (dir / "tmp").native()}}});
    const std::string failure = messages::systemFailure("", "cannot write standard output: " + std::generic_category().message(EPIPE));
    EXPECT_EQ(std::make_tuple(ran.status, ran.out, ran.err), std::make_tuple(1, "", line(failure)));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

// A run killed while its unpack tool still writes (a slow one here, as the system's ditto may outlive the installer on
// a Mac): the tool holds the run folder's lock, so the next run leaves the folder alone, and a run after the tool is
// done sweeps it.
TEST(RunFolders, AToolStillWritingKeepsItsFolderFromTheSweep)
{
    TempDir dir;
    const fs::path bundle = makeProduct(sourceDir() / "demo/geoweave/Geoweave-Payload", dir / "P.app", "geoweave");
    const fs::path tool = bundle / "Contents/Helpers/ditto";
    fs::rename(tool, tool.native() + ".real");
    writeFile(tool, "#!/bin/sh\n[ -e \"$W\" ] || { touch \"$W\"; sleep 2; }\nexec \"$0.real\" \"$@\"\n", 0755);
    fs::create_directories(dir / "tmp");
    const char* const script = R"("$0" --verify-payload >/dev/null & p=$!; while [ ! -e "$W" ]; do sleep 0.05; done
        kill -9 $p; "$0" --verify-payload >/dev/null && ls "$TMPDIR" | wc -l; sleep 3; "$0" --verify-payload >/dev/null && ls "$TMPDIR" | wc -l)";
    const test::Run ran = run("/bin/sh", {"-c", script, programOf(bundle)},
                        {.env = {{"TMPDIR", (dir / "tmp").native()}, {"W", (dir / "w").native()}}});
    EXPECT_EQ(ran.out, "1\n0\n");
}

TEST(HomeLock, OneHolderAtATimeWithNothingMade)
{
    TempDir dir;
    const std::unique_ptr<FileManager> files = makeSystemFileManager();
    std::unique_ptr<FileLock> held = files->lockExclusively(dir.path());
    EXPECT_TRUE(held && !files->lockExclusively(dir.path()));
    held.reset();
    EXPECT_TRUE(files->lockExclusively(dir.path()));
    EXPECT_THROW(files->lockExclusively(dir / "missing"), std::system_error);
    EXPECT_TRUE(files->contentsOfDirectory(dir.path()).empty());
}

}  // namespace
}  // namespace kb::test
