#pragma once
// What the tests share: scratch folders, files, pictures of trees, and the
// real programs run as a user would run them.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kb::test {

namespace fs = std::filesystem;

// A fresh folder below TMPDIR, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& rest) const { return path_ / rest; }

private:
    fs::path path_;
};

// Files on the real disk, never through `fm`. Parents are created.
void writeFile(const fs::path& path, std::string_view content, unsigned mode = 0644);
std::string readText(const fs::path& path);
void makeLink(const std::string& target, const fs::path& link);
unsigned modeOf(const fs::path& path);  // permission bits, a final link not followed
std::string sha256Hex(std::string_view bytes);

// Every entry below `root` by relative path: "f <octal mode> <digest>",
// "d <mode>", "l <target>" or "o <mode>". Equal pictures: nothing changed.
using Tree = std::map<std::string, std::string>;
Tree picture(const fs::path& root);
// One item in that form ("" when there is none), a final link not followed; with everything below a folder.
std::string describe(const fs::path& item);
std::string snapshot(const fs::path& item);

// Sets (or, with nothing, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

struct Run {
    int status = -1;  // exit status, 128 + signal for a program ended by a signal
    std::string out, err;
};
struct RunOptions {
    fs::path cwd{};                                           // empty: the test's own
    std::map<std::string, std::optional<std::string>> env{};  // nothing removes a variable
    bool unprivileged = false;                              // as nobody:nogroup, without groups
};
// Runs `program` with no standard input and waits for it.
Run run(const fs::path& program, const std::vector<std::string>& arguments, const RunOptions& options = {});

// For the shell scripts that drive windows: `window TITLE SECONDS` prints the id of a visible window titled exactly
// TITLE as soon as one shows, looking every 0.1 s for at most about SECONDS (0: once), and fails when none does. It
// looks again when xdotool fails, as xdotool does when another window goes away while it searches.
inline constexpr const char* windowFinder = R"(window() { i=$(($2 * 10)); while
    ! xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .; do
        [ $i -gt 0 ] || return 1; i=$((i - 1)); sleep 0.1; done; }
)";

// Runs `program` on an X server of its own (Xvfb) with `options` (in its environment ARGS gives the arguments, AS a
// command to run it by, as another user or under strace, and KESTRELBAY_DIALOG_LOG must name a file) and answers its
// dialogs in order: each is waited for by its exact title, given a moment to settle, focused and given its keys (or,
// for CLOSE, destroyed as another program would, or, for KILLX, its display ended); one that does not come ends the
// run, one still shown when the next comes is reported on standard error. A run that outlives 90 seconds is ended.
Run runOnDisplay(const fs::path& program, std::vector<std::string> titlesAndKeys, RunOptions options);

// The build: the empty installer bundle, the bundle tool, the test programs.
fs::path buildDir();
fs::path sourceDir();
fs::path emptyBundle();
fs::path bundleTool();
inline fs::path programOf(const fs::path& bundle) { return bundle / "Contents/MacOS/Installer"; }
inline fs::path resourcesOf(const fs::path& bundle) { return bundle / "Contents/Resources"; }

// A product installer made by the vendor's tool from the payload root folder
// `payload`; returns the bundle's path (`output`).
fs::path makeProduct(const fs::path& payload, const fs::path& output, const std::string& id,
                     const std::string& name = "Produkt", const std::string& version = "1.0",
                     const std::string& message = "Nachricht.", const std::vector<std::string>& extra = {});

// Hands `path` and everything below it to nobody:nogroup and lets anyone
// search the folders from `top` down to it.
void giveToNobody(const fs::path& path, const fs::path& top);

}  // namespace kb::test
