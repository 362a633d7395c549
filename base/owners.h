// Owners for C resources: one deleter per way of giving a resource back, and
// std::unique_ptr aliases built on them, plus an owner for file descriptors.
// Toolkit-free; a toolkit resource gets its alias beside its one user, e.g.
//   using OwnedDescription = OwnedBy<PangoFontDescription, pango_font_description_free>;
#pragma once

#include <dirent.h>
#include <memory>
#include <unistd.h>

// Gives a pointer back with a C function (free, closedir, g_free, ...).
template <auto free_function> struct FreeWith {
    template <typename T> void operator()(T* resource) const { free_function(resource); }
};

template <typename T, auto free_function>
using OwnedBy = std::unique_ptr<T, FreeWith<free_function>>;

using OwnedDirectory = OwnedBy<DIR, closedir>;

// Ends an object built with placement new in memory that someone else owns (a
// registry record): runs its destructor, frees nothing.
struct DestroyInPlace {
    template <typename T> void operator()(T* object) const { std::destroy_at(object); }
};

template <typename T> using InPlace = std::unique_ptr<T, DestroyInPlace>;

// A file descriptor closed when the owner goes; -1 is none. release() hands the
// descriptor over without closing it.
class OwnedDescriptor {
  public:
    OwnedDescriptor() = default;
    explicit OwnedDescriptor(int descriptor) : descriptor_(descriptor) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : descriptor_(other.release()) {}
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~OwnedDescriptor() { reset(); }

    int get() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }

    int release() {
        int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }

    void reset(int descriptor = -1) {
        if (descriptor_ >= 0) {
            close(descriptor_);
        }
        descriptor_ = descriptor;
    }

  private:
    int descriptor_ = -1;
};
