// The floor of the start-up benchmark: the least a GTK 3 program does to put a
// window of the updater's size and title on the screen. With --text it also
// shows a Chinese label and a button, which is what loading fonts adds.
#include <gtk/gtk.h>

#include <string_view>

int main(int argc, char** argv) {
    const bool withText = argc > 1 && std::string_view(argv[1]) == "--text";
    gtk_init(nullptr, nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Tessmoor更新程序_Halvani专版");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_move(GTK_WINDOW(window), 50, 50);
    gtk_widget_set_size_request(window, 316, 219);
    if (withText) {
        GtkWidget* fixed = gtk_fixed_new();
        gtk_container_add(GTK_CONTAINER(window), fixed);
        gtk_fixed_put(GTK_FIXED(fixed), gtk_label_new("当前最新版本：7.14"), 32, 32);
        gtk_fixed_put(GTK_FIXED(fixed), gtk_button_new_with_label("下载1"), 72, 96);
    }
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
