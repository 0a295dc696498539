// The desktop on macOS: AppKit alerts and the running applications from
// NSWorkspace. Written with manual retain and release, explicit autorelease
// pools and no Objective-C literals, so that GCC builds it against GNUstep
// too and the alerts can be tried on Linux.

#import <AppKit/AppKit.h>
#if !defined(GNUSTEP)
#import <CoreGraphics/CoreGraphics.h>  // CGSessionCopyCurrentDictionary
#endif

#include "platform/desktop.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

// The message that makes an application an ordinary one with a Dock icon and
// windows in front; GNUstep's NSApplication neither declares nor answers it.
@protocol KBActivationPolicy
- (BOOL)setActivationPolicy:(NSInteger)policy;
@end

namespace kb {

namespace {

#if defined(GNUSTEP)
constexpr NSAlertStyle informationalStyle = NSInformationalAlertStyle;
#else
constexpr NSAlertStyle informationalStyle = NSAlertStyleInformational;
#endif

// Autoreleased objects made in a scope are released at its end.
class AutoreleasePool {
public:
    AutoreleasePool() : pool_([[NSAutoreleasePool alloc] init]) {}
    ~AutoreleasePool() { [pool_ drain]; }
    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;

private:
    NSAutoreleasePool* pool_;
};

NSString* toText(const std::string& text)
{
    return [NSString stringWithUTF8String:text.c_str()];
}

std::optional<std::string> fromText(NSString* text)
{
    const char* bytes = text ? [text UTF8String] : nullptr;
    if (!bytes) return std::nullopt;
    return std::string(bytes);
}

// Whether there is a window server to show dialogs on: on a Mac a login
// session (none over ssh or for a daemon), with GNUstep an X display.
bool displayAvailable()
{
#if defined(GNUSTEP)
    const char* display = std::getenv("DISPLAY");
    return display && *display;
#else
    CFDictionaryRef session = CGSessionCopyCurrentDictionary();
    if (!session) return false;
    CFRelease(session);
    return true;
#endif
}

// The application object, made on first use. Checked before, because
// AppKit's own complaint is an Objective-C exception, which GCC's
// Objective-C++ cannot carry through C++ frames.
NSApplication* application()
{
    if (!displayAvailable()) throw DisplayUnavailable();
    return [NSApplication sharedApplication];
}

void bringToFront(NSApplication* app)
{
    if ([app respondsToSelector:@selector(setActivationPolicy:)])
        [(id<KBActivationPolicy>)app setActivationPolicy:NSApplicationActivationPolicyRegular];
    [app activateIgnoringOtherApps:YES];
}

// With KESTRELBAY_DIALOG_LOG set, every alert appends the texts it shows,
// read back from the alert just before it opens, in the record the GTK
// desktop writes, so an end-to-end test can check what the user was shown.
void logShownTexts(NSAlert* alert)
{
    const char* logPath = std::getenv("KESTRELBAY_DIALOG_LOG");
    if (!logPath || !*logPath) return;
    const std::string title = fromText([alert messageText]).value_or("");
    std::string record = "dialog\ntitle: " + title + "\nlabel: " + title + "\nlabel: "
                         + fromText([alert informativeText]).value_or("") + "\n";
    NSArray* buttons = [alert buttons];
    for (NSUInteger index = 0; index < [buttons count]; ++index)
        record += "button: " + fromText([[buttons objectAtIndex:index] title]).value_or("") + "\n";
    record += "end\n";
    if (FILE* log = std::fopen(logPath, "a")) {
        std::fwrite(record.data(), 1, record.size(), log);
        std::fclose(log);
    }
}

class AppKitDesktop final : public Desktop {
public:
    void activate() override;
    bool alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override;
};

void AppKitDesktop::activate()
{
    AutoreleasePool pool;
    bringToFront(application());
}

bool AppKitDesktop::alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    AutoreleasePool pool;
    NSApplication* app = application();
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setAlertStyle:informationalStyle];
    [alert setMessageText:toText(title)];
    [alert setInformativeText:toText(body)];
    // The first button added is the default one and answers Return; the
    // second of two is the way out and answers Escape, whatever its title.
    for (const std::string& button : buttons) [alert addButtonWithTitle:toText(button)];
    if (buttons.size() == 2) [[[alert buttons] objectAtIndex:1] setKeyEquivalent:toText("\033")];
    logShownTexts(alert);
    [app activateIgnoringOtherApps:YES];
    NSInteger response = [alert runModal];
    [alert release];
    return response == NSAlertFirstButtonReturn;
}

std::vector<RunningApplication> AppKitDesktop::runningApplications()
{
    AutoreleasePool pool;
    NSArray* running = [[NSWorkspace sharedWorkspace] runningApplications];
    std::vector<RunningApplication> result;
    result.reserve([running count]);
    for (NSUInteger index = 0; index < [running count]; ++index) {
        NSRunningApplication* found = [running objectAtIndex:index];
        result.push_back({fromText([found bundleIdentifier]), fromText([found localizedName])});
    }
    return result;
}

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop()
{
    return std::make_unique<AppKitDesktop>();
}

}  // namespace kb
