#include "ui/gtk/gtk_backend.h"

#include "process/process.h"
#include "ui/icon.h"

#include <condition_variable>
#include <gtk/gtk.h>
#include <mutex>
#include <string>

namespace ui {
namespace {

// Gives the bar the window's full 24 pixels of height; the theme keeps its
// colours.
constexpr char kStyle[] =
    "progressbar trough { min-height: 22px; }"
    "progressbar progress { min-height: 20px; }";

GList *iconList() {
  GList *list = nullptr;
  for (int size : kIconSizes) {
    auto *pixels = new std::vector<std::uint8_t>(renderIcon(size));
    GdkPixbuf *pixbuf = gdk_pixbuf_new_from_data(
        pixels->data(), GDK_COLORSPACE_RGB, TRUE, 8, size, size, size * 4,
        [](guchar *, gpointer data) {
          delete static_cast<std::vector<std::uint8_t> *>(data);
        },
        pixels);
    list = g_list_append(list, pixbuf);
  }
  return list;
}

gboolean onKeyPress(GtkWidget *window, GdkEventKey *event, gpointer) {
  const guint modifiers = event->state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK |
                                          GDK_MOD1_MASK);
  const bool esc = event->keyval == GDK_KEY_Escape && modifiers == 0;
  const bool altF4 = event->keyval == GDK_KEY_F4 && modifiers == GDK_MOD1_MASK;
  if (!esc && !altF4)
    return FALSE;
  gtk_window_close(GTK_WINDOW(window));
  return TRUE;
}

// A dialog with the title in a header bar of its own (as the update window
// has), the icon beside the text and one OK button, which Enter presses.
GtkWidget *newMessageDialog(std::string_view text, std::string_view title,
                            MessageIcon icon) {
  GtkWidget *dialog = gtk_dialog_new();
  GtkWindow *window = GTK_WINDOW(dialog);
  GtkWidget *header = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), ":close");
  gtk_window_set_titlebar(window, header);
  gtk_window_set_title(window, std::string(title).c_str());
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(window, TRUE);

  GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(row), 12);
  const char *iconName = icon == MessageIcon::information
                             ? "dialog-information-symbolic"
                             : "dialog-warning-symbolic";
  if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), iconName))
    gtk_box_pack_start(GTK_BOX(row),
                       gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG),
                       FALSE, FALSE, 0);
  GtkWidget *label = gtk_label_new(std::string(text).c_str());
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))),
                     row, TRUE, TRUE, 0);

  GtkWidget *ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
  gtk_widget_set_can_default(ok, TRUE);
  gtk_widget_grab_default(ok);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  return dialog;
}

} // namespace

GtkBackend::GtkBackend()
    : calls_([this] {
        g_idle_add_full(G_PRIORITY_HIGH, &GtkBackend::onCallsPending, this,
                        nullptr);
      }) {}

GtkBackend::~GtkBackend() = default;

std::unique_ptr<GtkBackend> GtkBackend::open() {
  if (!gtk_init_check(nullptr, nullptr))
    return nullptr;
  GtkCssProvider *css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
  gtk_style_context_add_provider_for_screen(
      gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  GList *icons = iconList();
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
  return std::unique_ptr<GtkBackend>(new GtkBackend());
}

int GtkBackend::onCallsPending(void *self) {
  static_cast<GtkBackend *>(self)->calls_.runPending();
  return G_SOURCE_REMOVE;
}

void GtkBackend::create(Events &events, std::string_view title) {
  events_ = &events;
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow *window = GTK_WINDOW(window_);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_skip_taskbar_hint(window, FALSE);

  // A header bar of our own, so that the caption holds the icon and a close
  // box only, whatever the window manager would add.
  GtkWidget *header = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), "icon:close");
  gtk_window_set_titlebar(window, header);
  // Set after the title bar, which would otherwise replace it with the
  // program's name.
  gtk_window_set_title(window, std::string(title).c_str());

  GtkWidget *content = gtk_fixed_new();
  gtk_widget_set_size_request(content, WindowLook::kClientWidth,
                              WindowLook::kClientHeight);
  bar_ = gtk_progress_bar_new();
  gtk_widget_set_size_request(bar_, WindowLook::kBarWidth,
                              WindowLook::kBarHeight);
  gtk_widget_set_can_focus(bar_, FALSE);
  gtk_fixed_put(GTK_FIXED(content), bar_, WindowLook::kBarLeft,
                WindowLook::kBarTop);
  gtk_container_add(GTK_CONTAINER(window_), content);

  g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), nullptr);
  g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](GtkBackend *self) {
                             self->windowDestroyed();
                           }),
                           this);
}

void GtkBackend::show() {
  if (!window_)
    return;
  gtk_widget_show_all(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void GtkBackend::windowDestroyed() {
  // Reached both when the user closed the window and from destroy().
  const bool byUser = window_ != nullptr;
  window_ = nullptr;
  bar_ = nullptr;
  stopTimer();
  if (byUser)
    events_->closed();
  if (looping_) {
    looping_ = false;
    gtk_main_quit();
  }
}

void GtkBackend::destroy() {
  if (!window_)
    return;
  GtkWidget *window = window_;
  window_ = nullptr;
  bar_ = nullptr;
  gtk_widget_destroy(window);
}

void GtkBackend::showTitle(std::string_view title) {
  if (window_)
    gtk_window_set_title(GTK_WINDOW(window_), std::string(title).c_str());
}

void GtkBackend::showPosition(int position) {
  if (bar_)
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), position / 100.0);
}

int GtkBackend::onTimer(void *data) {
  auto *self = static_cast<GtkBackend *>(data);
  const unsigned id = self->timerId_;
  self->events_->tick();
  // The handler may have stopped or restarted the timer.
  return self->timerId_ == id ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void GtkBackend::startTimer(int periodMs) {
  stopTimer();
  timerId_ = g_timeout_add(static_cast<guint>(periodMs), &GtkBackend::onTimer,
                           this);
}

void GtkBackend::stopTimer() {
  if (timerId_ == 0)
    return;
  const unsigned id = timerId_;
  timerId_ = 0;
  // Removing the source that is being dispatched is allowed; its callback's
  // result is then ignored.
  g_source_remove(id);
}

void GtkBackend::runLoop() {
  if (!window_)
    return;
  looping_ = true;
  gtk_main();
}

bool GtkBackend::invoke(std::function<void()> call) {
  return calls_.callAndWait(std::move(call));
}

void GtkBackend::messageBox(std::string_view text, std::string_view title,
                            MessageIcon icon) {
  if (process::onWindowThread()) {
    GtkWidget *dialog = newMessageDialog(text, title, icon);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return;
  }

  // Built on the window thread, which keeps serving the update window; this
  // thread waits until the box is closed.
  struct Box {
    std::mutex mutex;
    std::condition_variable closed;
    bool done = false;
  } box;
  const bool shown = invoke([&] {
    GtkWidget *dialog = newMessageDialog(text, title, icon);
    g_signal_connect(dialog, "response",
                     G_CALLBACK(+[](GtkWidget *widget, gint, gpointer data) {
                       auto *b = static_cast<Box *>(data);
                       gtk_widget_destroy(widget);
                       {
                         std::lock_guard lock(b->mutex);
                         b->done = true;
                       }
                       b->closed.notify_all();
                     }),
                     &box);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
  });
  if (!shown)
    return;
  std::unique_lock lock(box.mutex);
  box.closed.wait(lock, [&] { return box.done; });
}

void GtkBackend::release() { calls_.close(); }

} // namespace ui
