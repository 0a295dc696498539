// The desktop on Linux: GTK 3 dialogs and the running programs from /proc.

#include "platform/desktop.h"

#include "platform/linux/running_applications.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kb {

namespace {

constexpr int firstButton = 1;

void openToolkit()
{
    static bool ready = false;
    if (ready) return;
    if (!gtk_init_check(nullptr, nullptr)) throw DisplayUnavailable();
    ready = true;
}

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
    const char* logPath = std::getenv("KESTRELBAY_DIALOG_LOG");
    if (!logPath || !*logPath) return FALSE;
    std::string record = "dialog\ntitle: ";
    record += gtk_window_get_title(GTK_WINDOW(dialog)) ? gtk_window_get_title(GTK_WINDOW(dialog)) : "";
    record += '\n';
    collectTexts(dialog, record);
    record += "end\n";
    if (FILE* log = std::fopen(logPath, "a")) {
        std::fwrite(record.data(), 1, record.size(), log);
        std::fclose(log);
    }
    return FALSE;
}

class GtkDesktop final : public Desktop {
public:
    void activate() override { openToolkit(); }
    bool alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override { return linuxRunningApplications(); }
};

bool GtkDesktop::alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
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

    // Escape and closing the window answer GTK_RESPONSE_DELETE_EVENT, which
    // is not the first button.
    response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    return response == firstButton;
}

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop()
{
    return std::make_unique<GtkDesktop>();
}

}  // namespace kb
