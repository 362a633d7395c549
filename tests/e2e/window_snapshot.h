// What the program's windows showed at one moment, as written by the snapshot
// module (window_snapshot_module.cpp) that the end-to-end tests load into the
// program under test.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// One widget with what the module recorded about it: positions and sizes in
// the client coordinates of its toplevel ("x", "y", "width", "height"),
// "sensitive", "focus", label "text", "xalign", frame "shadow", combo "items"
// and "item<N>", button "label", "modifier_bg" as "rrrr,gggg,bbbb", and so on.
struct WidgetState {
    std::string type;
    std::map<std::string, std::string> values;
    std::vector<WidgetState> children;

    bool has(const std::string& key) const { return values.count(key) != 0; }
    // The value as recorded, or the empty text when it was not recorded.
    std::string text(const std::string& key) const;
    // The value as a number, or fallback when it was not recorded.
    long number(const std::string& key, long fallback = -1) const;
    double real(const std::string& key, double fallback = -1) const;

    // This widget and all widgets below it of exactly that type, depth first.
    std::vector<const WidgetState*> find_all(const std::string& widget_type) const;
    // The first of find_all, or null.
    const WidgetState* find(const std::string& widget_type) const;
    // The texts of a combo box's items, in order.
    std::vector<std::string> combo_items() const;
};

struct WindowSnapshot {
    unsigned long tick = 0;
    std::vector<WidgetState> toplevels;

    // The shown, ordinary (not pop-up) toplevel with exactly this title, or null.
    const WidgetState* window(const std::string& title) const;
    // Whether any toplevel, shown or not, has this title.
    bool has_any_window(const std::string& title) const;
    // Shown pop-up windows (a combo box's open menu, for example).
    std::vector<const WidgetState*> shown_popups() const;
};

// Parses a snapshot file's text; nothing when it is incomplete or malformed.
std::optional<WindowSnapshot> parse_window_snapshot(const std::string& text);

// Reads and parses the snapshot file; nothing when it is missing or incomplete.
std::optional<WindowSnapshot> read_window_snapshot(const std::string& path);

// The widget tree in the module's own line format, for failure messages.
std::string describe(const WidgetState& widget, int depth = 0);
std::string describe(const WindowSnapshot& snapshot);
