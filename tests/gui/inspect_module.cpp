// A GTK module for the window tests: loaded into the real updater through
// GTK_MODULES, it writes what GTK shows to the file named by
// TESSMOOR_INSPECT_REPORT, as JSON, whenever that changes. The updater itself
// knows nothing about it.
//
// {"windows": [{"title", "xid", "mapped", "resizable", "width", "height",
//               "controls": [{"kind": "label"|"button", "name", "caption", "x", "y", "width", "height",
//                             "sensitive", "visible", "font": {"family", "pixels", "weight"} | null,
//                             "colour": [r, g, b] | null, "unknown_glyphs", "faces": [...]}]}]}
// Controls are the named labels and buttons, in the order of their container;
// x and y are relative to the window's client area.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text ? text : ""; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* boolean(bool value) { return value ? "true" : "false"; }

// The faces Pango really picked for the caption, and how many characters no face had.
std::string labelRendering(GtkLabel* label) {
    PangoLayout* layout = gtk_label_get_layout(label);
    std::set<std::string> faces;
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
        if (!run || !run->item->analysis.font) continue;
        PangoFontDescription* described = pango_font_describe(run->item->analysis.font);
        faces.insert(pango_font_description_get_family(described));
        pango_font_description_free(described);
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    std::string list;
    for (const std::string& face : faces) list += (list.empty() ? "" : ", ") + quoted(face.c_str());
    return "\"unknown_glyphs\": " + std::to_string(pango_layout_get_unknown_glyphs_count(layout)) + ", \"faces\": [" +
           list + "]";
}

std::string labelLook(GtkLabel* label) {
    std::string font = "null", colour = "null";
    if (PangoAttrList* attributes = gtk_label_get_attributes(label)) {
        PangoAttrIterator* iter = pango_attr_list_get_iterator(attributes);
        if (auto* desc = reinterpret_cast<PangoAttrFontDesc*>(pango_attr_iterator_get(iter, PANGO_ATTR_FONT_DESC))) {
            const PangoFontDescription* f = desc->desc;
            const double pixels = pango_font_description_get_size(f) / double(PANGO_SCALE);
            font = "{\"family\": " + quoted(pango_font_description_get_family(f)) +
                   ", \"pixels\": " + std::to_string(pixels) +
                   ", \"absolute\": " + boolean(pango_font_description_get_size_is_absolute(f)) +
                   ", \"weight\": " + std::to_string(pango_font_description_get_weight(f)) + "}";
        }
        if (auto* fg = reinterpret_cast<PangoAttrColor*>(pango_attr_iterator_get(iter, PANGO_ATTR_FOREGROUND))) {
            colour = "[" + std::to_string(fg->color.red / 257) + ", " + std::to_string(fg->color.green / 257) + ", " +
                     std::to_string(fg->color.blue / 257) + "]";
        }
        pango_attr_iterator_destroy(iter);
    }
    return "\"font\": " + font + ", \"colour\": " + colour + ", " + labelRendering(label);
}

void describeControls(GtkWidget* widget, GtkWidget* toplevel, std::vector<std::string>& out) {
    const bool label = GTK_IS_LABEL(widget), button = GTK_IS_BUTTON(widget);
    const char* name = gtk_widget_get_name(widget);
    const bool named = name && g_strcmp0(name, G_OBJECT_TYPE_NAME(widget)) != 0;
    if ((label || button) && named) {
        int x = 0, y = 0;
        gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y);
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        const char* caption = label ? gtk_label_get_text(GTK_LABEL(widget)) : gtk_button_get_label(GTK_BUTTON(widget));
        std::string entry = std::string("{\"kind\": \"") + (label ? "label" : "button") + "\", \"name\": " + quoted(name) +
               ", \"caption\": " + quoted(caption) + ", \"x\": " + std::to_string(x) + ", \"y\": " + std::to_string(y) +
               ", \"width\": " + std::to_string(a.width) + ", \"height\": " + std::to_string(a.height) +
               ", \"sensitive\": " + boolean(gtk_widget_is_sensitive(widget)) +
               ", \"visible\": " + boolean(gtk_widget_is_visible(widget));
        if (label) entry += ", " + labelLook(GTK_LABEL(widget));
        out.push_back(entry + "}");
        return;
    }
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* child = children; child; child = child->next)
            describeControls(GTK_WIDGET(child->data), toplevel, out);
        g_list_free(children);
    }
}

std::string report() {
    std::string out = "{\"windows\": [";
    GList* toplevels = gtk_window_list_toplevels();
    bool first = true;
    for (GList* item = toplevels; item; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (!gtk_widget_get_visible(window)) continue;
        GdkWindow* native = gtk_widget_get_window(window);
        GtkAllocation a;
        gtk_widget_get_allocation(window, &a);
        if (!first) out += ", ";
        first = false;
        out += "{\"title\": " + quoted(gtk_window_get_title(GTK_WINDOW(window))) +
               ", \"xid\": " + std::to_string(native ? gdk_x11_window_get_xid(native) : 0) +
               ", \"mapped\": " + boolean(gtk_widget_get_mapped(window)) +
               ", \"resizable\": " + boolean(gtk_window_get_resizable(GTK_WINDOW(window))) +
               ", \"width\": " + std::to_string(a.width) + ", \"height\": " + std::to_string(a.height) +
               ", \"controls\": [";
        std::vector<std::string> controls;
        describeControls(window, window, controls);
        for (std::size_t i = 0; i < controls.size(); ++i) out += (i ? ", " : "") + controls[i];
        out += "]}";
    }
    g_list_free(toplevels);
    return out + "]}\n";
}

gboolean writeReport(gpointer path) {
    static std::string last;
    std::string now = report();
    if (now == last) return G_SOURCE_CONTINUE;
    const std::string file = static_cast<const char*>(path), tmp = file + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
        std::fwrite(now.data(), 1, now.size(), f);
        std::fclose(f);
        std::rename(tmp.c_str(), file.c_str());
        last = std::move(now);
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

extern "C" G_MODULE_EXPORT void gtk_module_init(gint*, gchar***) {
    if (const char* path = g_getenv("TESSMOOR_INSPECT_REPORT"))
        g_timeout_add(40, writeReport, g_strdup(path));
}
