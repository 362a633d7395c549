#include "app/text_list.h"

namespace {

const std::string no_text;

} // namespace

void TextList::add(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    auto position = current_ == elements_.end() ? elements_.begin() : std::next(current_);
    current_ = elements_.emplace(position, text);
}

void TextList::reset() {
    current_ = elements_.end();
}

bool TextList::next() {
    auto following = current_ == elements_.end() ? elements_.begin() : std::next(current_);
    if (following == elements_.end()) {
        return false;
    }
    current_ = following;
    return true;
}

const std::string& TextList::current() const {
    return current_ == elements_.end() ? no_text : *current_;
}

void TextList::clear() {
    elements_.clear();
    current_ = elements_.end();
}
