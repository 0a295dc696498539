// The system desktop's progress window on an X server of the test's own, around the fake work of
// test-programs/progress_watch: none for work that ends within half a second, else one with its title that logs the
// lines it showed and how it ended, answers its button, the keyboard and Escape only while the work can be cancelled,
// and is gone when watch() returns.

#include "tests/support/kit.h"

#include <gtest/gtest.h>

#include <regex>

namespace kb::test {
namespace {

// What the window leaves in KESTRELBAY_DIALOG_LOG: its lines, the bar as it last showed it, how it ended.
std::string shown(const std::vector<std::string>& lines, const std::string& bar, const std::string& ended)
{
    std::string record = "progress\ntitle: Installieren\n";
    for (const std::string& line : lines) record += "line: " + line + "\n";
    return record + (bar.empty() ? "" : "bar: " + bar + "\n") + "button: Abbrechen\nended: " + ended + "\nend\n";
}

TEST(ProgressWindow, ShownAfterHalfASecondAndAnsweredWhileTheWorkCanBeCancelled)
{
    struct Row {
        std::string actions;  // once the window is shown: click (its button), key <keys>, sleep <seconds>
        std::vector<std::string> steps;
        std::string out, log;
    };
    const std::vector<Row> rows{
        {"", {"300 - c Schnell"}, "", ""},
        {"", {"200 - c Eins", "900 0.25 c Zwei", "900 - c Drei"}, "shown\ngone\n", shown({"Zwei", "Drei"}, "25%", "done")},
        {"click; key Escape", {"20000 0.5 c Kopieren"}, "shown\ncancel\ngone\n", shown({"Kopieren"}, "50%", "button")},
        {"key Escape", {"20000 - c Prüfen"}, "shown\ncancel\ngone\n", shown({"Prüfen"}, "", "closed")},
        {"key Escape; click; sleep 2.5; key Tab space", {"2500 - n Aufräumen", "20000 - c Weiter"},
         "shown\ncancel\ngone\n", shown({"Aufräumen", "Weiter"}, "", "button")},
        {"close", {"20000 - c Entpacken"}, "shown\ncancel\ngone\n", shown({"Entpacken"}, "", "closed")},
        {"gone", {"20000 - c Kopieren"}, "shown\nabandoned\n", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.steps[0]);
        TempDir dir;
        std::vector<std::string> arguments{"-c", windowFinder + std::string(R"sh(f=$KESTRELBAY_DIALOG_LOG.x; Xvfb -displayfd 3 3>"$f" 2>/dev/null &
            x=$!; for i in $(seq 100); do [ -s "$f" ] && break; sleep 0.1; done; export DISPLAY=:$(cat "$f"); rm "$f"
            t=$2; timeout 30 "$0" "$@" & p=$!; key() { xdotool windowfocus --sync $w key "$@"; }
            click() { eval "$(xdotool getwindowgeometry --shell $w)"; xdotool mousemove $((X + WIDTH - 40)) \
                $((Y + HEIGHT - 30)) click 1; }
            close() { xdotool windowclose $w; }; gone() { kill $x; wait $p; exit $?; }
            # A second look, as xdotool fails when a window goes away while it searches.
            visible() { window "$t" 0 >/dev/null; }
            w=$(window "$t" 2); [ -z "$w" ] || eval "echo shown; $ACT"
            while visible || visible; do sleep 0.05; done; kill -0 $p 2>/dev/null && echo gone
            wait $p; status=$?; kill $x; exit $status)sh"), buildDir() / "test-programs/progress_watch", "--", "Installieren",
            "Abbrechen"};
        arguments.insert(arguments.end(), row.steps.begin(), row.steps.end());
        const auto ran = run("/bin/sh", arguments, {.env = {{"KESTRELBAY_DIALOG_LOG", (dir / "log").native()},
            {"KESTRELBAY_EVENT_GAP_LOG", (dir / "gaps").native()}, {"ACT", row.actions}}});
        EXPECT_EQ(std::to_string(ran.status) + ran.out + ran.err, (row.actions == "gone" ? "3" : "0") + row.out);
        EXPECT_EQ(fs::exists(dir / "log") ? readText(dir / "log") : "(none)", row.log.empty() ? "(none)" : row.log);
        // Without a window only the wait of a few milliseconds lies between serving the events and serving them again.
        if (row.actions == "gone") continue;  // a program whose display went away writes no gaps
        std::smatch gap;
        const std::string gaps = readText(dir / "gaps");
        ASSERT_TRUE(std::regex_match(gaps, gap, std::regex("longest gap: ([0-9]+) ms\n"))) << gaps;
        EXPECT_LE(row.log.empty() ? std::stoi(gap[1]) : 0, 100);
    }
}

}  // namespace
}  // namespace kb::test
