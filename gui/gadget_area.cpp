#include "gui/gadget_area.h"

#include "gui/gadget_state.h"

#include <algorithm>
#include <iterator>

namespace {

// A widget's copy of the gadget-container part of the gadget state, kept under
// wg_gadgetstack while another widget's gadget area is current.
struct SavedGadgetState {
    GtkWidget* widget;
    GtkWidget* container;
    int depth;
    GtkWidget* stack[GADGET_CONTAINER_STACK_SIZE];
};

SavedGadgetState* saved_state_of(GtkWidget* widget) {
    return static_cast<SavedGadgetState*>(g_object_get_data(G_OBJECT(widget), "wg_gadgetstack"));
}

// The calling thread's gadget state stops naming a widget that goes away.
void forget_gadget_owner(GtkWidget* widget) {
    GadgetState* state = gadget_state();
    if (state->owner == widget) {
        state->owner = nullptr;
        state->container = nullptr;
        state->depth = 0;
    }
}

void forget_owner_on_destroy(GtkWidget* widget, gpointer) {
    forget_gadget_owner(widget);
}

void free_saved_state(gpointer data) {
    auto* saved = static_cast<SavedGadgetState*>(data);
    forget_gadget_owner(saved->widget);
    delete saved;
}

// The window's gadget area; for a window made elsewhere one is added at the
// start of its box. None when there is no box to put it in.
GtkWidget* find_gadget_area(GtkWidget* widget) {
    if (!GTK_IS_WINDOW(widget)) {
        return widget;
    }
    auto* area = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), "wg_gadgetlist"));
    if (area != nullptr) {
        return area;
    }
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GList* last = g_list_last(children);
    GtkWidget* box = last != nullptr ? static_cast<GtkWidget*>(last->data) : nullptr;
    g_list_free(children);
    if (box == nullptr || !GTK_IS_BOX(box)) {
        return nullptr;
    }
    area = gadget_area_new();
    gtk_widget_show(area);
    gtk_box_pack_start(GTK_BOX(box), area, TRUE, TRUE, 0);
    g_object_set_data(G_OBJECT(widget), "wg_gadgetlist", area);
    return area;
}

void save_gadget_state(GtkWidget* owner, const GadgetState* state) {
    SavedGadgetState* saved = saved_state_of(owner);
    if (saved == nullptr) {
        return;
    }
    saved->container = state->container;
    saved->depth = state->depth;
    std::copy(std::begin(state->stack), std::end(state->stack), std::begin(saved->stack));
}

void restore_gadget_state(GadgetState* state, const SavedGadgetState* saved) {
    state->container = saved->container;
    state->depth = saved->depth;
    std::copy(std::begin(saved->stack), std::end(saved->stack), std::begin(state->stack));
}

// A widget's first turn: its area is the container, and a saved copy goes with
// the widget from now on.
void start_gadget_state(GadgetState* state, GtkWidget* widget, GtkWidget* area) {
    state->container = area;
    state->depth = 0;
    auto* saved = new SavedGadgetState{};
    saved->widget = widget;
    g_object_set_data_full(G_OBJECT(widget), "wg_gadgetstack", saved, free_saved_state);
    // Object data goes only when the widget is finalized, which a reference
    // held elsewhere can delay; the state must not name a destroyed widget.
    g_signal_connect(widget, "destroy", G_CALLBACK(forget_owner_on_destroy), nullptr);
}

} // namespace

GtkWidget* gadget_area_new() {
    GtkWidget* area = gtk_fixed_new();
    gtk_fixed_set_has_window(GTK_FIXED(area), TRUE);
    return area;
}

GtkWidget* window_use_gadget_area(GtkWidget* widget) {
    GadgetState* state = gadget_state();
    GtkWidget* previous = state->owner;
    if (widget == nullptr) {
        return previous;
    }
    GtkWidget* area = find_gadget_area(widget);
    if (area == nullptr) {
        return previous;
    }
    if (previous != nullptr) {
        save_gadget_state(previous, state);
    }
    if (const SavedGadgetState* saved = saved_state_of(widget); saved != nullptr) {
        restore_gadget_state(state, saved);
    } else {
        start_gadget_state(state, widget, area);
    }
    state->owner = widget;
    return previous;
}
