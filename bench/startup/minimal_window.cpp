// The floor of the start-up benchmark: the least a GTK 3 program does to put a
// window of the updater's size and title on the screen with one Chinese label
// (the label is what loading fonts adds).
#include <gtk/gtk.h>

int main() {
    gtk_init(nullptr, nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Tessmoor更新程序_Halvani专版");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_move(GTK_WINDOW(window), 50, 50);
    gtk_widget_set_size_request(window, 316, 219);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window), fixed);
    gtk_fixed_put(GTK_FIXED(fixed), gtk_label_new("当前最新版本：7.14"), 32, 32);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
