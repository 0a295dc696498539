// The desktop on Linux: GTK 3 dialogs, a progress window and the running
// programs from /proc.

#include "platform/desktop.h"

#include "platform/desktop_log.h"
#include "platform/linux/running_applications.h"
#include "platform/watch_loop.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <unistd.h>

#include <mutex>
#include <string>

namespace kb {

namespace {

constexpr int firstButton = 1;

void collectTexts(GtkWidget* widget, std::string& out)
{
    if (GTK_IS_BUTTON(widget)) {
        if (const char* label = gtk_button_get_label(GTK_BUTTON(widget))) {
            out += "button: ";
            out += label;
            out += '\n';
        }
        return;
    }
    if (GTK_IS_LABEL(widget) && gtk_widget_get_visible(widget)) {
        const char* text = gtk_label_get_text(GTK_LABEL(widget));
        if (text && *text) {
            out += "label: ";
            out += text;
            out += '\n';
        }
        return;
    }
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* child = children; child; child = child->next) collectTexts(GTK_WIDGET(child->data), out);
        g_list_free(children);
    }
}

// With KESTRELBAY_DIALOG_LOG set, every dialog appends the texts of its
// visible labels and buttons, read back from the widgets once the window is
// on screen, so an end-to-end test can check what the user was shown.
gboolean logShownTexts(GtkWidget* dialog, GdkEvent*, gpointer)
{
    std::string record = "dialog\ntitle: ";
    record += gtk_window_get_title(GTK_WINDOW(dialog)) ? gtk_window_get_title(GTK_WINDOW(dialog)) : "";
    record += '\n';
    collectTexts(dialog, record);
    appendToLog("KESTRELBAY_DIALOG_LOG", record + "end\n");
    return FALSE;
}

// The progress window: a line, a bar and a button below each other. Escape,
// the close box and another program destroying the window ask to stop as the
// button does; the window otherwise stays until the work has ended.
class GtkWatch final : public WatchLoop {
public:
    explicit GtkWatch(const WatchedWork& work) : WatchLoop(work) {}
    ~GtkWatch()
    {
        if (window_) g_signal_handlers_disconnect_by_data(window_, this);
    }
    GtkWatch(const GtkWatch&) = delete;
    GtkWatch& operator=(const GtkWatch&) = delete;

private:
    void serve(std::chrono::milliseconds wait) override;
    void open(const std::string& title, const std::string& button) override;
    void show(const ProgressReport& now) override;
    void close() override;

    GtkWidget* window_ = nullptr;
    GtkWidget* line_ = nullptr;
    GtkWidget* bar_ = nullptr;
    GtkWidget* button_ = nullptr;
};

void GtkWatch::serve(std::chrono::milliseconds wait)
{
    // A timer wakes the main loop if no event does; one iteration then
    // dispatches whatever is ready.
    bool woken = false;
    auto wake = [](gpointer flag) -> gboolean { return *static_cast<bool*>(flag) = true, G_SOURCE_REMOVE; };
    const guint timer = g_timeout_add(guint(wait.count()), wake, &woken);
    g_main_context_iteration(nullptr, TRUE);
    if (!woken) g_source_remove(timer);
}

void GtkWatch::open(const std::string& title, const std::string& button)
{
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(window_), 16);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_add(GTK_CONTAINER(window_), column);

    // One line of a fixed width, shortened in the middle where it is longer.
    line_ = gtk_label_new(nullptr);
    gtk_label_set_single_line_mode(GTK_LABEL(line_), TRUE);
    gtk_label_set_ellipsize(GTK_LABEL(line_), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_width_chars(GTK_LABEL(line_), 56);
    gtk_label_set_max_width_chars(GTK_LABEL(line_), 56);
    gtk_label_set_xalign(GTK_LABEL(line_), 0);
    bar_ = gtk_progress_bar_new();
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(bar_), 0.03);
    button_ = gtk_button_new_with_label(button.c_str());
    gtk_widget_set_halign(button_, GTK_ALIGN_END);
    for (GtkWidget* child : {line_, bar_, button_}) gtk_box_pack_start(GTK_BOX(column), child, FALSE, FALSE, 0);

    auto clicked = [](GtkButton*, gpointer loop) { static_cast<GtkWatch*>(loop)->stop(Request::button); };
    auto deleted = [](GtkWidget*, GdkEvent*, gpointer loop) -> gboolean {
        return static_cast<GtkWatch*>(loop)->stop(Request::close), TRUE;
    };
    auto pressed = [](GtkWidget*, GdkEventKey* key, gpointer loop) -> gboolean {
        if (key->keyval != GDK_KEY_Escape) return FALSE;
        return static_cast<GtkWatch*>(loop)->stop(Request::close), TRUE;
    };
    // Destroyed by anyone but close() (another program closing it): the
    // window is gone, and that counts as asking to stop.
    auto destroyed = [](GtkWidget*, gpointer data) {
        auto* loop = static_cast<GtkWatch*>(data);
        loop->window_ = loop->line_ = loop->bar_ = loop->button_ = nullptr;
        loop->stop(Request::close);
    };
    g_signal_connect(button_, "clicked", G_CALLBACK(+clicked), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(+deleted), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(+pressed), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(+destroyed), this);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
}

void GtkWatch::show(const ProgressReport& now)
{
    if (!window_) return;
    const char* shown = gtk_label_get_text(GTK_LABEL(line_));
    if (!shown || now.line != shown) gtk_label_set_text(GTK_LABEL(line_), now.line.c_str());
    if (now.fraction) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), *now.fraction);
    else gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar_));
    gtk_widget_set_sensitive(button_, now.cancellable);
}

void GtkWatch::close()
{
    if (window_) {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
        window_ = nullptr;
    }
    while (gtk_events_pending()) gtk_main_iteration();
}

class GtkDesktop final : public Desktop {
public:
    void activate() override { openToolkit(); }
    std::size_t alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override { return linuxRunningApplications(); }
    bool optionKeyHeld() override
    {
        openToolkit();
        return (gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(gdk_display_get_default())) & GDK_MOD1_MASK) != 0;
    }
    void watch(const WatchedWork& work) override
    {
        openToolkit();
        watching_ = &work;
        try {
            GtkWatch(work).run();
        } catch (...) {
            watching_ = nullptr;
            throw;
        }
        watching_ = nullptr;
    }

private:
    // Opens the display, once. From then on the display's going away (the
    // connection closing, or failing under Xlib, whose own way out would end
    // the program in the middle of the work) is told to the watched work, or
    // to whenGone, before the program ends.
    void openToolkit();
    [[noreturn]] void lost();

    bool ready_ = false;
    const WatchedWork* watching_ = nullptr;
};

void GtkDesktop::openToolkit()
{
    if (ready_) return;
    // The toolkit's own warnings (a window another program destroyed leaves
    // several) are not the user's: standard error carries the installer's
    // one line. GLib takes a writer only once in a process.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
                              nullptr, nullptr);
    });
    if (!gtk_init_check(nullptr, nullptr)) throw DisplayUnavailable();
    ready_ = true;
    GdkDisplay* display = gdk_display_get_default();
    auto closed = [](GdkDisplay*, gboolean, gpointer desktop) { static_cast<GtkDesktop*>(desktop)->lost(); };
    g_signal_connect(display, "closed", G_CALLBACK(+closed), this);
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_DISPLAY(display)) {
        // Xlib calls its I/O error handler (GDK's, which ends the program at
        // once), then the display's exit handler: the first now returns, the
        // second does what lost() does.
        XSetIOErrorHandler([](Display*) { return 0; });
        auto exitHandler = [](Display*, void* desktop) { static_cast<GtkDesktop*>(desktop)->lost(); };
        XSetIOErrorExitHandler(gdk_x11_display_get_xdisplay(display), exitHandler, this);
    }
#endif
}

void GtkDesktop::lost()
{
    if (watching_) watching_->abandon(DesktopGone::display);
    if (whenGone) whenGone(DesktopGone::display);
    ::_exit(1);
}

std::size_t GtkDesktop::alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    openToolkit();
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s",
                                               title.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", body.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
    int response = firstButton;
    for (const std::string& button : buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), response++);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), firstButton);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_urgency_hint(GTK_WINDOW(dialog), TRUE);
    g_signal_connect(dialog, "map-event", G_CALLBACK(logShownTexts), nullptr);
    gtk_window_present(GTK_WINDOW(dialog));

    // Escape and closing the window answer GTK_RESPONSE_DELETE_EVENT: the last button.
    response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    if (response < firstButton || response >= firstButton + static_cast<int>(buttons.size())) return buttons.size() - 1;
    return static_cast<std::size_t>(response - firstButton);
}

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop()
{
    return std::make_unique<GtkDesktop>();
}

}  // namespace kb
