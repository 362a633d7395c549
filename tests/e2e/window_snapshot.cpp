#include "tests/e2e/window_snapshot.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Reads a value the module escaped: \" \\ \n and \xNN; the result holds the
// original bytes (UTF-8 as the toolkit had it).
std::optional<std::string> read_quoted(const std::string& line, size_t& position) {
    std::string value;
    ++position; // the opening quote
    while (position < line.size()) {
        const char c = line[position++];
        if (c == '"') {
            return value;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (position >= line.size()) {
            return std::nullopt;
        }
        const char escaped = line[position++];
        if (escaped == 'n') {
            value += '\n';
        } else if (escaped == 'x') {
            if (position + 2 > line.size()) {
                return std::nullopt;
            }
            value += static_cast<char>(std::strtol(line.substr(position, 2).c_str(), nullptr, 16));
            position += 2;
        } else {
            value += escaped;
        }
    }
    return std::nullopt;
}

// "<depth> <type> key=value key=\"text\" ..."
bool parse_widget_line(const std::string& line, int& depth, WidgetState& widget) {
    std::istringstream head(line);
    if (!(head >> depth >> widget.type) || depth < 0) {
        return false;
    }
    size_t position = line.find(widget.type) + widget.type.size();
    while (position < line.size()) {
        if (line[position] == ' ') {
            ++position;
            continue;
        }
        const size_t equals = line.find('=', position);
        if (equals == std::string::npos) {
            return false;
        }
        const std::string key = line.substr(position, equals - position);
        position = equals + 1;
        if (position < line.size() && line[position] == '"') {
            auto value = read_quoted(line, position);
            if (!value) {
                return false;
            }
            widget.values[key] = *value;
        } else {
            const size_t end = line.find(' ', position);
            const size_t stop = end == std::string::npos ? line.size() : end;
            widget.values[key] = line.substr(position, stop - position);
            position = stop;
        }
    }
    return true;
}

void collect(const WidgetState& widget, const std::string& type,
             std::vector<const WidgetState*>& found) {
    if (widget.type == type) {
        found.push_back(&widget);
    }
    for (const auto& child : widget.children) {
        collect(child, type, found);
    }
}

} // namespace

std::string WidgetState::text(const std::string& key) const {
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

long WidgetState::number(const std::string& key, long fallback) const {
    auto found = values.find(key);
    return found == values.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
}

double WidgetState::real(const std::string& key, double fallback) const {
    auto found = values.find(key);
    return found == values.end() ? fallback : std::strtod(found->second.c_str(), nullptr);
}

std::vector<const WidgetState*> WidgetState::find_all(const std::string& widget_type) const {
    std::vector<const WidgetState*> found;
    collect(*this, widget_type, found);
    return found;
}

const WidgetState* WidgetState::find(const std::string& widget_type) const {
    auto found = find_all(widget_type);
    return found.empty() ? nullptr : found.front();
}

std::vector<std::string> WidgetState::combo_items() const {
    std::vector<std::string> items;
    for (long index = 0; index < number("items", 0); ++index) {
        items.push_back(text("item" + std::to_string(index)));
    }
    return items;
}

const WidgetState* WindowSnapshot::window(const std::string& title) const {
    for (const auto& toplevel : toplevels) {
        if (toplevel.text("title") == title && toplevel.number("visible") == 1 &&
            toplevel.number("popup") == 0) {
            return &toplevel;
        }
    }
    return nullptr;
}

bool WindowSnapshot::has_any_window(const std::string& title) const {
    for (const auto& toplevel : toplevels) {
        if (toplevel.text("title") == title) {
            return true;
        }
    }
    return false;
}

std::vector<const WidgetState*> WindowSnapshot::shown_popups() const {
    std::vector<const WidgetState*> popups;
    for (const auto& toplevel : toplevels) {
        if (toplevel.number("popup") == 1 && toplevel.number("mapped") == 1) {
            popups.push_back(&toplevel);
        }
    }
    return popups;
}

std::optional<WindowSnapshot> parse_window_snapshot(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    WindowSnapshot snapshot;
    if (!std::getline(lines, line) || line.rfind("snapshot tick=", 0) != 0) {
        return std::nullopt;
    }
    snapshot.tick = std::strtoul(line.c_str() + 14, nullptr, 10);
    // The open path from the toplevel down to the latest widget.
    std::vector<WidgetState*> path;
    while (std::getline(lines, line)) {
        if (line == "end") {
            return snapshot;
        }
        int depth = 0;
        WidgetState widget;
        if (!parse_widget_line(line, depth, widget) || depth > static_cast<int>(path.size())) {
            return std::nullopt;
        }
        path.resize(depth);
        if (depth == 0) {
            snapshot.toplevels.push_back(std::move(widget));
            path.push_back(&snapshot.toplevels.back());
        } else {
            path.back()->children.push_back(std::move(widget));
            path.push_back(&path.back()->children.back());
        }
    }
    return std::nullopt;
}

std::optional<WindowSnapshot> read_window_snapshot(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse_window_snapshot(text.str());
}

std::string describe(const WidgetState& widget, int depth) {
    std::string out = std::string(2 * depth, ' ') + widget.type;
    for (const auto& [key, value] : widget.values) {
        out += ' ' + key + "=\"" + value + '"';
    }
    out += '\n';
    for (const auto& child : widget.children) {
        out += describe(child, depth + 1);
    }
    return out;
}

std::string describe(const WindowSnapshot& snapshot) {
    std::string out = "snapshot " + std::to_string(snapshot.tick) + "\n";
    for (const auto& toplevel : snapshot.toplevels) {
        if (toplevel.number("visible") == 1) {
            out += describe(toplevel, 1);
        }
    }
    return out;
}
