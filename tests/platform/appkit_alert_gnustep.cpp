// The AppKit desktop built against GNUstep on an X server of the test's own: the alert shows its texts in the
// informational style (GNUstep titles it "Information") and answers the button clicked, clicked until the alert ends
// (GNUstep spends the first click on making the window key, and no xdotool key reaches it). Its buttons: one width of
// at least 72 pixels, 10 apart, 8 from the right edge, the first rightmost.

#include "tests/support/kit.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

TEST(AppKitAlert, ShowsItsTextsAndAnswersTheClickedButton)
{
    TempDir dir;  // also GNUstep's settings, which would otherwise go below the real home
    writeFile(dir / "conf", "GNUSTEP_USER_DEFAULTS_DIR=" + dir.path().native() + "\nGNUSTEP_USER_DIR_LIBRARY="
                                + dir.path().native() + "\n");
    const std::string title = "Größe prüfen?", body = "Zeile eins.\nZeile zwei: ½ € ✓";
    const auto ran = run("/bin/sh", {"-c", R"sh(f=$KESTRELBAY_DIALOG_LOG.x; Xvfb -displayfd 3 3>"$f" 2>/dev/null & x=$!
        for i in $(seq 100); do [ -s "$f" ] && break; sleep 0.1; done; export DISPLAY=:$(cat "$f"); rm "$f"
        for fromRight in 44 126; do timeout -s KILL 15 "$0" "$1" "$2" Ja Nein 2>/dev/null & a=$!
            w=$(timeout 10 xdotool search --sync --onlyvisible --name '^Information$' | head -n1)
            while kill -0 $a 2>/dev/null; do eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
                xdotool mousemove $((X + WIDTH - fromRight)) $((Y + HEIGHT - 20)) click 1; sleep 0.2; done
            wait $a; echo $?; done; kill $x)sh", buildDir() / "test-programs/appkit_alert", title, body},
        {.env = {{"KESTRELBAY_DIALOG_LOG", (dir / "log").native()}, {"GNUSTEP_CONFIG_FILE", (dir / "conf").native()}}});
    const std::string shown = "dialog\ntitle: " + title + "\nlabel: " + title + "\nlabel: " + body
                              + "\nbutton: Ja\nbutton: Nein\nend\n";
    EXPECT_EQ(ran.out + readText(dir / "log"), "0\n1\n" + shown + shown);  // the first button's answer, the second's
}

}  // namespace
}  // namespace kb::test
