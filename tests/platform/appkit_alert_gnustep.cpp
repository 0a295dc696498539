// The AppKit desktop built against GNUstep on an X server of the test's own, its windows clicked until the program
// ends (GNUstep spends the first click on making the window key, and no xdotool key reaches it). The alert shows its
// texts in the informational style (GNUstep titles it "Information") and answers the button clicked; its buttons: one
// width of at least 72 pixels, 10 apart, 8 from the right edge, the first rightmost. The progress window answers its
// button only while the work can be cancelled, and a Quit while the work runs stops the work and waits for its end.

#include "tests/support/kit.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

// Runs test-programs/<program> with `arguments`, clicking the window titled `window` (`fromRight` pixels left of its
// right edge, 20 above its bottom) every 0.2 s until the program ends; GNUstep's settings, which would otherwise go
// below the real home, and the dialog log lie in `dir`.
Run clickedThrough(const TempDir& dir, const std::string& program, const std::string& window, int fromRight,
                   const std::vector<std::string>& arguments)
{
    writeFile(dir / "conf", "GNUSTEP_USER_DEFAULTS_DIR=" + dir.path().native() + "\nGNUSTEP_USER_DIR_LIBRARY="
                                + dir.path().native() + "\n");
    std::vector<std::string> shell{"-c", windowFinder + std::string(R"sh(f=$KESTRELBAY_DIALOG_LOG.x; Xvfb -displayfd 3 3>"$f" 2>/dev/null & x=$!
        for i in $(seq 100); do [ -s "$f" ] && break; sleep 0.1; done; export DISPLAY=:$(cat "$f"); rm "$f"
        timeout -s KILL 15 "$0" "$@" 2>/dev/null & a=$!
        w=$(window "$WINDOW" 10)
        while kill -0 $a 2>/dev/null; do eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
            xdotool mousemove $((X + WIDTH - FROM_RIGHT)) $((Y + HEIGHT - 20)) click 1; sleep 0.2; done
        wait $a; status=$?; kill $x; exit $status)sh"), buildDir() / "test-programs" / program};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    return run("/bin/sh", shell, {.env = {{"KESTRELBAY_DIALOG_LOG", (dir / "log").native()},
        {"GNUSTEP_CONFIG_FILE", (dir / "conf").native()}, {"WINDOW", window}, {"FROM_RIGHT", std::to_string(fromRight)}}});
}

TEST(AppKitAlert, ShowsItsTextsAndAnswersTheClickedButton)
{
    TempDir dir;
    const std::string title = "Größe prüfen?", body = "Zeile eins.\nZeile zwei: ½ € ✓";
    // What is not UTF-8 shows as U+FFFD byte by byte: a stray byte, a cut, an overlong and a surrogate sequence.
    const std::string broken = R"(\xff|\xe2\x82|\xc0\xaf|\xed\xa0\x80)", shownBroken = "�|��|��|���";
    std::string answers;
    for (int fromRight : {44, 126})
        answers += std::to_string(clickedThrough(dir, "appkit_alert", "Information", fromRight,
                                                 {"--", title, body + broken, "Ja", "Nein"}).status);
    const std::string shown = "dialog\ntitle: " + title + "\nlabel: " + title + "\nlabel: " + body + shownBroken
                              + "\nbutton: Ja\nbutton: Nein\nend\n";
    EXPECT_EQ(answers + readText(dir / "log"), "01" + shown + shown);  // the first button's answer, the second's
}

TEST(AppKitProgress, ShowsItsLinesAndAnswersItsButtonOnlyWhileTheWorkCanBeCancelled)
{
    TempDir dir;
    const auto ran = clickedThrough(dir, "appkit_progress", "Installieren", 60,
                                    {"--", "Installieren", "Abbrechen", "2000 - n Gesperrt", "20000 0.5 c Kopieren"});
    EXPECT_EQ(std::to_string(ran.status) + ran.out + readText(dir / "log"), "0cancel\nprogress\ntitle: Installieren\n"
              "line: Gesperrt\nline: Kopieren\nbar: 50%\nbutton: Abbrechen\nended: button\nend\n");
    const auto quit = clickedThrough(dir, "appkit_quit", "Installieren", 400, {"--", "Installieren"});
    EXPECT_EQ(std::to_string(quit.status) + quit.out, "3cancel\nabandoned quit\n");
}

}  // namespace
}  // namespace kb::test
