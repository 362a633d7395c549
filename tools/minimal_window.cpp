// minimal_window: the smallest GTK+ 2 window program in C++, the yardstick
// tools/bench.sh measures Lantoric's start-up and memory against. Opens one
// 300 x 150 window titled "Minimal" with one line of text (so the fonts load,
// as in any window that says something) and runs until it is closed.
#include <gtk/gtk.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Minimal");
    gtk_window_set_default_size(GTK_WINDOW(window), 300, 150);
    gtk_container_add(GTK_CONTAINER(window), gtk_label_new("Minimal"));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
