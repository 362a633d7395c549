// Image layer: a table of numbered images and a hidden drawing surface, started
// at start-up and released at shutdown. Nothing in the adapter tester draws or
// decodes images, so the layer holds no decoder; it keeps the toolkit's RGB
// set-up and the surface ready for one.
#pragma once

#include "base/registry.h"

#include <gdk/gdk.h>

// Start-up, on the main thread after toolkit_start: the image table, the
// layer's thread area, the toolkit's RGB set-up and the hidden drawing surface.
void image_init();

// Shutdown, on the main thread before toolkit_stop: releases every image and
// the drawing surface. Safe to call when image_init never ran.
void image_finish();

// Registers a pixbuf under a number (OBJECT_ANY for an automatic one); the
// image takes over the caller's reference. Returns the automatic number for
// OBJECT_ANY, 1 for an explicit number, 0 on failure (pixbuf none).
object_number image_register(object_number number, GdkPixbuf* pixbuf);

// The image's pixbuf, or none.
GdkPixbuf* image_pixbuf(object_number number);

// Frees one image, or every image for -1. Nothing for a number without one.
void image_free(object_number number);

// The hidden drawing surface, or none before image_init and after image_finish.
GdkPixmap* image_drawing_surface();
