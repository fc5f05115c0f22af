// GTK 3 backend of gui.h: a GtkWindow holding a GtkFixed, GtkLabels for the
// transparent labels (GtkLabel draws no background of its own) and GtkButtons.
#include <gtk/gtk.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/gui.h"

namespace platform {
namespace {

// Faces tried after the one a control asks for, so that Chinese captions
// render on a Linux desktop that lacks it (setup-deps installs WenQuanYi).
constexpr const char* CJK_FALLBACK_FACES =
    "WenQuanYi Micro Hei,Noto Sans CJK SC,Source Han Sans SC,Droid Sans Fallback,AR PL UMing CN,sans-serif";

// The platform-default button look pads so much that a two-character caption
// no longer fits a 48-pixel button; keep the frame, drop most of the padding.
constexpr const char* BUTTON_CSS = "button { padding: 2px 4px; min-width: 0; min-height: 0; }";

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GObjectDeleter {
    void operator()(void* p) const { g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct AttrListDeleter {
    void operator()(PangoAttrList* p) const { pango_attr_list_unref(p); }
};
struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* p) const { pango_font_description_free(p); }
};
struct WidgetDestroyer {
    void operator()(GtkWidget* p) const { gtk_widget_destroy(p); }
};
struct SourceDestroyer {
    void operator()(GSource* p) const {
        g_source_destroy(p);
        g_source_unref(p);
    }
};

struct Control {
    std::string name;  // GB18030, as the caller knows it
    ControlKind kind;
    Rect place;
    GtkWidget* widget;  // owned by the window
};

struct Window {
    const WindowEvents* events = nullptr;
    std::unique_ptr<GtkWidget, WidgetDestroyer> toplevel;
    std::vector<Control> controls;
};

// The interface has no window handle, so these are the backend's own.
// g_window is touched on the interface thread only; the atomics are all that
// other threads touch, and they are trivially destructible, so a fade thread
// still running while the process exits never meets a destroyed object.
Window* g_window = nullptr;
std::atomic<int> g_newestAlpha{255};
std::atomic<bool> g_alphaPending{false};
std::atomic<bool> g_endClaimed{false};  // the first endProgram decides the exit code
std::atomic<int> g_exitCode{0};
std::atomic<bool> g_ending{false};  // set after g_exitCode holds the code

std::string utf8(std::string_view gb18030) { return gb18030ToUtf8(gb18030); }

Control* findControl(std::string_view name) {
    if (!g_window) return nullptr;
    for (Control& control : g_window->controls)
        if (control.name == name) return &control;
    return nullptr;
}

struct PixbufListDeleter {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

// The program's name (WM_CLASS) and its icon come from the executable's file
// name, like its .desktop file. Call before gtk_init (the name) and after it (the icon).
struct ProgramFile {
    GCharPtr name;
    GCharPtr dir;
};

ProgramFile programFile() {
    const GCharPtr exe{g_file_read_link("/proc/self/exe", nullptr)};
    if (!exe) return {};
    return {GCharPtr{g_path_get_basename(exe.get())}, GCharPtr{g_path_get_dirname(exe.get())}};
}

// The sizes window managers show; larger ones only cost memory here.
constexpr int ICON_SIZES[] = {16, 24, 32, 48, 64, 128};

// The icon files are read straight from ../share/icons/hicolor beside the
// executable, where both the build tree and an installed prefix keep them.
// Going through GtkIconTheme instead parses every theme's index at start,
// which costs 3 MiB for one picture; it remains the fallback.
void useIcon(const ProgramFile& program) {
    if (!program.name) return;
    std::unique_ptr<GList, PixbufListDeleter> icons;
    for (const int size : ICON_SIZES) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const std::string file = std::string(program.name.get()) + ".png";
        const GCharPtr path{g_build_filename(program.dir.get(), "..", "share", "icons", "hicolor", folder.c_str(),
                                             "apps", file.c_str(), nullptr)};
        if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.get(), nullptr))
            icons.reset(g_list_append(icons.release(), pixbuf));
    }
    if (icons)
        gtk_window_set_default_icon_list(icons.get());
    else
        gtk_window_set_default_icon_name(program.name.get());
}

void styleLabel(GtkWidget* label, const ControlSpec& spec) {
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    const std::unique_ptr<PangoAttrList, AttrListDeleter> attributes{pango_attr_list_new()};
    if (spec.font) {
        const std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> font{pango_font_description_new()};
        const std::string faces = utf8(spec.font->face) + "," + CJK_FALLBACK_FACES;
        pango_font_description_set_family(font.get(), faces.c_str());
        // Absolute size is the em height in device pixels: the character height.
        pango_font_description_set_absolute_size(font.get(), spec.font->pixelHeight * PANGO_SCALE);
        pango_font_description_set_weight(font.get(), static_cast<PangoWeight>(spec.font->weight));
        pango_attr_list_insert(attributes.get(), pango_attr_font_desc_new(font.get()));
    }
    if (spec.textColour) {
        const auto channel = [](std::uint8_t value) { return static_cast<guint16>(value * 257); };
        pango_attr_list_insert(attributes.get(),
                               pango_attr_foreground_new(channel(spec.textColour->red), channel(spec.textColour->green),
                                                         channel(spec.textColour->blue)));
    }
    gtk_label_set_attributes(GTK_LABEL(label), attributes.get());
}

GtkWidget* makeControl(const ControlSpec& spec, GtkCssProvider* buttonStyle) {
    const std::string caption = utf8(spec.caption);
    GtkWidget* widget = nullptr;
    switch (spec.kind) {
        case ControlKind::TransparentLabel:
            widget = gtk_label_new(caption.c_str());
            styleLabel(widget, spec);
            break;
        case ControlKind::PushButton:
            widget = gtk_button_new_with_label(caption.c_str());
            gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(buttonStyle),
                                           GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
            break;
    }
    // The widget name carries the control's name, for CSS and for accessibility tools.
    gtk_widget_set_name(widget, utf8(spec.name).c_str());
    gtk_widget_set_size_request(widget, spec.place.width, spec.place.height);
    return widget;
}

// GtkFixed grows a child to its minimum size; a caption a pixel or two wider
// than its label would move the layout. Every control gets exactly its place,
// as on the other platforms, and a caption too wide simply runs over.
void placeControlsExactly(GtkWidget*, GdkRectangle* area, gpointer data) {
    for (const Control& control : static_cast<Window*>(data)->controls) {
        GtkAllocation allocation{area->x + control.place.left, area->y + control.place.top, control.place.width,
                                 control.place.height};
        gtk_widget_size_allocate(control.widget, &allocation);
    }
}

void onClicked(GtkButton*, gpointer data) {
    const auto* control = static_cast<const Control*>(data);
    if (g_window && g_window->events->clicked) g_window->events->clicked(control->name);
}

gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    const auto* window = static_cast<const Window*>(data);
    const bool accept = !window->events->closeRequested || window->events->closeRequested();
    if (accept) endProgram(0);
    return TRUE;  // the window goes when the loop ends, not before
}

// Other threads reach the interface thread through one main-loop source that
// the window owns: they store into the atomics and wake the loop, which
// allocates nothing. (A GSource made on a fade thread and freed on this one
// would be synchronised only inside GLib, where ThreadSanitizer cannot see it.)
bool crossThreadWork() { return g_alphaPending.load() || g_ending.load(); }

gboolean prepareCrossThreadWork(GSource*, gint* timeout) {
    *timeout = -1;
    return crossThreadWork();
}

gboolean checkCrossThreadWork(GSource*) { return crossThreadWork(); }

gboolean doCrossThreadWork(GSource*, GSourceFunc, gpointer) {
    // Clear the flag before reading: a value stored after the read sets it
    // again, so the newest value is always applied.
    if (g_alphaPending.exchange(false) && g_window)
        gtk_widget_set_opacity(g_window->toplevel.get(), g_newestAlpha.load() / 255.0);
    if (g_ending.load()) gtk_main_quit();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs crossThreadWorkFuncs = {prepareCrossThreadWork, checkCrossThreadWork, doCrossThreadWork, nullptr,
                                     nullptr, nullptr};

}  // namespace

int runWindow(const WindowSpec& spec, const WindowEvents& events) {
    const ProgramFile program = programFile();
    if (program.name) g_set_prgname(program.name.get());
    if (!gtk_init_check(nullptr, nullptr)) {
        g_printerr("cannot open the display\n");
        return 1;
    }
    useIcon(program);
    const GObjectPtr<GtkCssProvider> buttonStyle{gtk_css_provider_new()};
    gtk_css_provider_load_from_data(buttonStyle.get(), BUTTON_CSS, -1, nullptr);

    Window window;
    window.events = &events;
    window.toplevel.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWindow* toplevel = GTK_WINDOW(window.toplevel.get());
    gtk_window_set_title(toplevel, utf8(spec.caption).c_str());
    gtk_window_set_resizable(toplevel, FALSE);
    gtk_window_move(toplevel, spec.place.left, spec.place.top);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, spec.place.width, spec.place.height);
    gtk_container_add(GTK_CONTAINER(toplevel), fixed);
    window.controls.reserve(spec.controls.size());
    for (const ControlSpec& control : spec.controls) {
        GtkWidget* widget = makeControl(control, buttonStyle.get());
        gtk_fixed_put(GTK_FIXED(fixed), widget, control.place.left, control.place.top);
        window.controls.push_back({std::string(control.name), control.kind, control.place, widget});
    }
    for (Control& control : window.controls)
        if (control.kind == ControlKind::PushButton)
            g_signal_connect(control.widget, "clicked", G_CALLBACK(onClicked), &control);
    g_signal_connect(fixed, "size-allocate", G_CALLBACK(placeControlsExactly), &window);
    g_signal_connect(toplevel, "delete-event", G_CALLBACK(onDeleteEvent), &window);
    gtk_widget_show_all(fixed);
    gtk_widget_realize(window.toplevel.get());
    // Transparent until the caller's fade says otherwise. Set after realizing:
    // GTK does not carry an opacity set earlier over to the new X window.
    gtk_widget_set_opacity(window.toplevel.get(), 0.0);
    gdk_display_flush(gdk_display_get_default());  // the window exists before `created` runs

    const std::unique_ptr<GSource, SourceDestroyer> crossThread{g_source_new(&crossThreadWorkFuncs, sizeof(GSource))};
    g_source_attach(crossThread.get(), nullptr);

    g_window = &window;
    if (events.created) events.created();
    gtk_widget_show(window.toplevel.get());
    gtk_main();
    g_window = nullptr;
    // Off the screen now, after the last opacity was applied, rather than
    // whenever the X connection happens to close.
    window.toplevel.reset();
    gdk_display_flush(gdk_display_get_default());
    return g_exitCode.load();
}

void setCaption(std::string_view controlName, std::string_view caption) {
    Control* control = findControl(controlName);
    if (!control) return;
    const std::string text = utf8(caption);
    if (control->kind == ControlKind::PushButton)
        gtk_button_set_label(GTK_BUTTON(control->widget), text.c_str());
    else
        gtk_label_set_text(GTK_LABEL(control->widget), text.c_str());
}

// The fades call this up to a thousand times a second from their own threads.
// Only the newest value matters, so it is stored and the interface thread is
// woken once to apply whatever is newest by then, rather than queueing stale ones.
void setWindowOpacity(int alpha) {
    g_newestAlpha.store(alpha < 0 || alpha > 255 ? 255 : alpha);
    if (!g_alphaPending.exchange(true)) g_main_context_wakeup(nullptr);
}

void endProgram(int exitCode) {
    if (g_endClaimed.exchange(true)) return;
    g_exitCode.store(exitCode);
    g_ending.store(true);
    g_main_context_wakeup(nullptr);
}

}  // namespace platform
