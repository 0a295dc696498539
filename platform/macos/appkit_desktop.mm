// The desktop on macOS: AppKit alerts, a progress window and the running
// applications from NSWorkspace. Written with manual retain and release,
// explicit autorelease pools and no Objective-C literals, so that GCC builds
// it against GNUstep too and the windows can be tried on Linux.

#import <AppKit/AppKit.h>
#if !defined(GNUSTEP)
#import <CoreGraphics/CoreGraphics.h>  // CGSessionCopyCurrentDictionary
#endif

#include "platform/desktop.h"
#include "platform/desktop_log.h"
#include "platform/macos/autorelease_pool.h"
#include "platform/watch_loop.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

// The message that makes an application an ordinary one with a Dock icon and
// windows in front; GNUstep's NSApplication neither declares nor answers it.
@protocol KBActivationPolicy
- (BOOL)setActivationPolicy:(NSInteger)policy;
@end

@class KBApplicationDelegate;

// The progress window. Its button, Escape and its close box ask the watch to
// stop the work; the window is closed by the watch once the work has ended.
@interface KBProgressWindow : NSWindow {
@public
    kb::WatchLoop* watch;
}
- (void)pressButton:(id)sender;
@end

@implementation KBProgressWindow
- (void)pressButton:(id)sender
{
    (void)sender;
    watch->stop(kb::WatchLoop::Request::button);
}

- (void)cancelOperation:(id)sender
{
    (void)sender;
    watch->stop(kb::WatchLoop::Request::close);
}

- (BOOL)windowShouldClose:(id)sender
{
    (void)sender;
    watch->stop(kb::WatchLoop::Request::close);
    return NO;
}
@end

namespace kb {

namespace {

#if defined(GNUSTEP)
constexpr NSAlertStyle informationalStyle = NSInformationalAlertStyle;
constexpr NSBezelStyle pushButtonStyle = NSRoundedBezelStyle;
#else
constexpr NSAlertStyle informationalStyle = NSAlertStyleInformational;
constexpr NSBezelStyle pushButtonStyle = NSBezelStyleRounded;
#endif

// The length of the well-formed UTF-8 sequence that starts at text[at]: no
// overlong forms, no surrogates, nothing above U+10FFFF; 0 if there is none.
std::size_t sequenceLength(const std::string& text, std::size_t at)
{
    auto byte = [&](std::size_t offset) -> unsigned {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0;
    };
    const unsigned first = byte(0);
    if (first < 0x80) return 1;
    std::size_t length = 2;
    unsigned low = 0x80, high = 0xBF;  // where the second byte may lie
    if (first >= 0xE0 && first <= 0xEF) {
        length = 3, low = first == 0xE0 ? 0xA0 : 0x80, high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4, low = first == 0xF0 ? 0x90 : 0x80, high = first == 0xF4 ? 0x8F : 0xBF;
    } else if (first < 0xC2 || first > 0xDF) {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t offset = 2; offset < length; ++offset)
        if (byte(offset) < 0x80 || byte(offset) > 0xBF) return 0;
    return length;
}

// AppKit takes no nil for a title or text, and NSString makes nil of bytes
// that are not UTF-8, so each byte that starts no well-formed sequence
// becomes U+FFFD first.
NSString* toText(const std::string& text)
{
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            valid += "\xEF\xBF\xBD";
            ++at;
        } else {
            valid.append(text, at, length);
            at += length;
        }
    }
    NSString* result = [[NSString alloc] initWithBytes:valid.data() length:valid.size() encoding:NSUTF8StringEncoding];
    return result ? [result autorelease] : [NSString string];
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

// Brings the application and its windows in front of the others. From macOS
// 14 on, activate is only a request, which the system declines for a program
// started from a terminal that stays in front; activateIgnoringOtherApps:
// (deprecated there) still brings it forward, from the Finder and from a
// terminal alike, on macOS 12 to 15.
void comeForward(NSApplication* app)
{
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
#endif
    [app activateIgnoringOtherApps:YES];
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
}

// An activity for as long as the object lives, so that App Nap does not slow
// an installation whose window is hidden behind others.
class UserActivity {
public:
    UserActivity()
    {
#if !defined(GNUSTEP)
        activity_ = [[[NSProcessInfo processInfo] beginActivityWithOptions:NSActivityUserInitiated
                                                                    reason:@"Installing"] retain];
#endif
    }
    ~UserActivity()
    {
#if !defined(GNUSTEP)
        [[NSProcessInfo processInfo] endActivity:activity_];
        [activity_ release];
#endif
    }
    UserActivity(const UserActivity&) = delete;
    UserActivity& operator=(const UserActivity&) = delete;

private:
    id activity_ = nil;
};

// With KESTRELBAY_DIALOG_LOG set, every alert appends the texts it shows,
// read back from the alert just before it opens, in the record the GTK
// desktop writes, so an end-to-end test can check what the user was shown.
void logShownTexts(NSAlert* alert)
{
    const std::string title = fromText([alert messageText]).value_or("");
    std::string record = "dialog\ntitle: " + title + "\nlabel: " + title + "\nlabel: "
                         + fromText([alert informativeText]).value_or("") + "\n";
    NSArray* buttons = [alert buttons];
    for (NSUInteger index = 0; index < [buttons count]; ++index)
        record += "button: " + fromText([[buttons objectAtIndex:index] title]).value_or("") + "\n";
    appendToLog("KESTRELBAY_DIALOG_LOG", record + "end\n");
}

// The progress window: the line, the bar and the button right-aligned below
// each other. The events are taken one at a time, so that the window is kept
// up to date between them.
class AppKitWatch final : public WatchLoop {
public:
    AppKitWatch(const WatchedWork& work, NSApplication* app) : WatchLoop(work), app_(app) {}

private:
    void serve(std::chrono::milliseconds wait) override;
    void open(const std::string& title, const std::string& button) override;
    void show(const ProgressReport& now) override;
    void close() override;
    NSEvent* nextEvent(NSDate* until);

    NSApplication* app_;
    KBProgressWindow* window_ = nil;  // owned; the views below belong to it
    NSTextField* line_ = nil;
    NSProgressIndicator* bar_ = nil;
    NSButton* button_ = nil;
};

NSEvent* AppKitWatch::nextEvent(NSDate* until)
{
    return [app_ nextEventMatchingMask:NSUIntegerMax untilDate:until inMode:NSDefaultRunLoopMode dequeue:YES];
}

void AppKitWatch::serve(std::chrono::milliseconds wait)
{
    AutoreleasePool pool;
    if (NSEvent* event = nextEvent([NSDate dateWithTimeIntervalSinceNow:double(wait.count()) / 1000]))
        [app_ sendEvent:event];
    [app_ updateWindows];
}

void AppKitWatch::open(const std::string& title, const std::string& button)
{
    AutoreleasePool pool;
    const CGFloat width = 440, height = 112, margin = 20;
    window_ = [[KBProgressWindow alloc] initWithContentRect:NSMakeRect(0, 0, width, height)
                                                  styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable
                                                    backing:NSBackingStoreBuffered
                                                      defer:NO];
    window_->watch = this;
    [window_ setReleasedWhenClosed:NO];
    [window_ setTitle:toText(title)];
    line_ = [[NSTextField alloc] initWithFrame:NSMakeRect(margin, height - margin - 20, width - 2 * margin, 20)];
    [line_ setEditable:NO];
    [line_ setSelectable:NO];
    [line_ setBezeled:NO];
    [line_ setDrawsBackground:NO];
    [[line_ cell] setLineBreakMode:NSLineBreakByTruncatingMiddle];
    bar_ = [[NSProgressIndicator alloc] initWithFrame:NSMakeRect(margin, height - margin - 46, width - 2 * margin, 20)];
    [bar_ setMinValue:0];
    [bar_ setMaxValue:1];
    [bar_ setIndeterminate:NO];
    button_ = [[NSButton alloc] initWithFrame:NSZeroRect];
    [button_ setBezelStyle:pushButtonStyle];
    [button_ setTitle:toText(button)];
    [button_ sizeToFit];
    const CGFloat buttonWidth = std::max<CGFloat>([button_ frame].size.width + 24, 96);
    [button_ setFrame:NSMakeRect(width - margin - buttonWidth, 12, buttonWidth, [button_ frame].size.height)];
    [button_ setTarget:window_];
    [button_ setAction:@selector(pressButton:)];
    NSView* views[] = {line_, bar_, button_};
    for (NSView* view : views) {
        [[window_ contentView] addSubview:view];
        [view release];
    }
    [window_ center];
    comeForward(app_);
    [window_ makeKeyAndOrderFront:nil];
}

void AppKitWatch::show(const ProgressReport& now)
{
    AutoreleasePool pool;
    NSString* line = toText(now.line);
    if (![[line_ stringValue] isEqualToString:line]) [line_ setStringValue:line];
    if (now.fraction) {
        if ([bar_ isIndeterminate]) {
            [bar_ stopAnimation:nil];
            [bar_ setIndeterminate:NO];
        }
        if ([bar_ doubleValue] != *now.fraction) [bar_ setDoubleValue:*now.fraction];
    } else if (![bar_ isIndeterminate]) {
        [bar_ setIndeterminate:YES];
        [bar_ startAnimation:nil];
    }
    if ([button_ isEnabled] != now.cancellable) [button_ setEnabled:now.cancellable];
}

void AppKitWatch::close()
{
    AutoreleasePool pool;
    [bar_ stopAnimation:nil];
    [window_ orderOut:nil];
    while (NSEvent* event = nextEvent([NSDate distantPast])) [app_ sendEvent:event];
    [window_ close];
    [window_ release];
    window_ = nil;
}

}  // namespace

class AppKitDesktop final : public Desktop {
public:
    AppKitDesktop();
    ~AppKitDesktop() override;
    AppKitDesktop(const AppKitDesktop&) = delete;
    AppKitDesktop& operator=(const AppKitDesktop&) = delete;

    void activate() override;
    std::size_t alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override;
    bool optionKeyHeld() override;
    void watch(const WatchedWork& work) override;

    NSApplicationTerminateReply shouldTerminate();
    void tick(NSTimer* timer);
    void willTerminate();

private:
    NSApplication* launchedApplication();

    KBApplicationDelegate* delegate_;
    bool launched_ = false;
    WatchLoop* watch_ = nullptr;  // the watch that runs, with its work
    bool quitting_ = false;       // a Quit waits for the work's end
};

}  // namespace kb

// The application's delegate: a Quit (the Dock's, a logout's, an AppleScript
// quit) while the work runs stops the work, and the program ends once its
// changes are put back; at any other time it ends at once.
@interface KBApplicationDelegate : NSObject {
@public
    // The kb::AppKitDesktop that made it (kept untyped: GCC cannot encode the
    // desktop's std::function members as Objective-C types).
    void* desktop;
}
- (void)tick:(NSTimer*)timer;
@end

namespace kb {

AppKitDesktop::AppKitDesktop() : delegate_([[KBApplicationDelegate alloc] init])
{
    delegate_->desktop = this;
}

AppKitDesktop::~AppKitDesktop()
{
    [delegate_ release];
}


// The application, told once that it has finished launching before it shows
// anything (which is what stops its Dock icon bouncing), with its delegate.
NSApplication* AppKitDesktop::launchedApplication()
{
    NSApplication* app = application();
    if (!launched_) {
        [app setDelegate:delegate_];
        [app finishLaunching];
        launched_ = true;
    }
    return app;
}

void AppKitDesktop::activate()
{
    AutoreleasePool pool;
    NSApplication* app = application();
    if ([app respondsToSelector:@selector(setActivationPolicy:)])
        [(id<KBActivationPolicy>)app setActivationPolicy:NSApplicationActivationPolicyRegular];
    comeForward(launchedApplication());
}

void AppKitDesktop::watch(const WatchedWork& work)
{
    AutoreleasePool pool;
    const UserActivity activity;
    AppKitWatch loop(work, launchedApplication());
    watch_ = &loop;
    try {
        loop.run();
    } catch (...) {
        watch_ = nullptr;
        throw;
    }
    watch_ = nullptr;
    // A Quit stopped the work: the program ends as the work says, whether or
    // not AppKit has had its answer yet.
    if (quitting_) work.abandon(DesktopGone::quit);
}

// A Quit while the work runs stops it and waits, answering AppKit later:
// a timer in every run-loop mode (AppKit waits for the answer in a modal one)
// keeps the window up to date and answers once the work has ended.
NSApplicationTerminateReply AppKitDesktop::shouldTerminate()
{
    if (!watch_) return NSTerminateNow;
    if (!quitting_) {
        quitting_ = true;
        watch_->stop(WatchLoop::Request::close);
        NSTimer* timer = [NSTimer timerWithTimeInterval:0.03 target:delegate_ selector:@selector(tick:) userInfo:nil
                                                repeats:YES];
        for (NSString* mode : {NSDefaultRunLoopMode, NSModalPanelRunLoopMode})
            [[NSRunLoop currentRunLoop] addTimer:timer forMode:mode];
    }
    return NSTerminateLater;
}

void AppKitDesktop::tick(NSTimer* timer)
{
    if (!watch_) return [timer invalidate];
    watch_->refresh();
    if (!watch_->work().finished()) return;
    [timer invalidate];
    [NSApp replyToApplicationShouldTerminate:YES];
}

// AppKit ends the program after this; a Quit that stopped the work ends it
// through the work instead, which reports how the run ended.
void AppKitDesktop::willTerminate()
{
    if (quitting_ && watch_) watch_->work().abandon(DesktopGone::quit);
}

bool AppKitDesktop::optionKeyHeld()
{
#if defined(GNUSTEP)
    return ([NSEvent modifierFlags] & NSAlternateKeyMask) != 0;
#else
    return ([NSEvent modifierFlags] & NSEventModifierFlagOption) != 0;
#endif
}

std::size_t AppKitDesktop::alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    AutoreleasePool pool;
    NSApplication* app = launchedApplication();
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setAlertStyle:informationalStyle];
    [alert setMessageText:toText(title)];
    [alert setInformativeText:toText(body)];
    // The first button added is the default one and answers Return; the last
    // of several is the way out and answers Escape, whatever its title.
    for (const std::string& button : buttons) [alert addButtonWithTitle:toText(button)];
    if (buttons.size() >= 2) [[[alert buttons] lastObject] setKeyEquivalent:toText("\033")];
    logShownTexts(alert);
    comeForward(app);
    const NSInteger response = [alert runModal] - NSAlertFirstButtonReturn;
    [alert release];
    if (response < 0 || response >= static_cast<NSInteger>(buttons.size())) return buttons.size() - 1;
    return static_cast<std::size_t>(response);
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

std::unique_ptr<Desktop> makeSystemDesktop()
{
    return std::make_unique<AppKitDesktop>();
}

}  // namespace kb

@implementation KBApplicationDelegate
- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender
{
    (void)sender;
    return static_cast<kb::AppKitDesktop*>(desktop)->shouldTerminate();
}

- (void)applicationWillTerminate:(NSNotification*)notification
{
    (void)notification;
    static_cast<kb::AppKitDesktop*>(desktop)->willTerminate();
}

- (void)tick:(NSTimer*)timer
{
    static_cast<kb::AppKitDesktop*>(desktop)->tick(timer);
}
@end
