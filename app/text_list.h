// An ordered list of texts with one cursor, the current element.
//
// Adding inserts directly after the current element (at the front when there
// is none) and makes the new element current, so adding repeatedly keeps the
// order of adding. A walk starts before the first element (reset) and moves one
// element forward per step (next) until it passes the last; after that the
// last element stays current, so a later add appends.
//
// Not locked: a list belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>

class TextList {
  public:
    using const_iterator = std::list<std::string>::const_iterator;

    TextList() = default;
    // The cursor points into this very list.
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;

    // Inserts a copy of the text (up to its first zero byte) after the current
    // element and makes it current.
    void add(std::string_view text);

    // Moves before the first element: no element is current.
    void reset();

    // Makes the element after the current one (the first after reset) current
    // and returns true; returns false, changing nothing, when there is none.
    bool next();

    // The current element's text; the empty text when no element is current.
    const std::string& current() const;

    // Frees every element; no element is current afterwards.
    void clear();

    std::size_t size() const { return elements_.size(); }
    bool empty() const { return elements_.empty(); }

    // Every element in order, leaving the cursor alone.
    const_iterator begin() const { return elements_.begin(); }
    const_iterator end() const { return elements_.end(); }

  private:
    std::list<std::string> elements_;
    // end() stands for "before the first element".
    std::list<std::string>::iterator current_ = elements_.end();
};
