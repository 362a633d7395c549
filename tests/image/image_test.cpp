#include "image/image.h"

#include <gtest/gtest.h>

namespace {

void note_finalized(gpointer flag, GObject*) {
    *static_cast<bool*>(flag) = true;
}

TEST(ImageLayer, KeepsImagesUntilShutdownAndReleasesEverything) {
    image_init();
    ASSERT_NE(image_drawing_surface(), nullptr);

    GdkPixbuf* explicit_pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
    GdkPixbuf* automatic_pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 2, 2);
    bool explicit_gone = false;
    bool automatic_gone = false;
    g_object_weak_ref(G_OBJECT(explicit_pixbuf), note_finalized, &explicit_gone);
    g_object_weak_ref(G_OBJECT(automatic_pixbuf), note_finalized, &automatic_gone);

    EXPECT_EQ(image_register(3, explicit_pixbuf), 1);
    object_number automatic = image_register(OBJECT_ANY, automatic_pixbuf);
    EXPECT_LT(automatic, -1);
    EXPECT_EQ(image_pixbuf(3), explicit_pixbuf);
    EXPECT_EQ(image_pixbuf(automatic), automatic_pixbuf);
    EXPECT_EQ(image_pixbuf(4), nullptr);

    image_finish();
    EXPECT_TRUE(explicit_gone);
    EXPECT_TRUE(automatic_gone);
    EXPECT_EQ(image_pixbuf(3), nullptr);
    EXPECT_EQ(image_pixbuf(automatic), nullptr);
    EXPECT_EQ(image_drawing_surface(), nullptr);
}

TEST(ImageLayer, ReusingANumberReleasesTheOldImage) {
    image_init();
    GdkPixbuf* first = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1);
    bool first_gone = false;
    g_object_weak_ref(G_OBJECT(first), note_finalized, &first_gone);
    image_register(0, first);
    image_register(0, gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1));
    EXPECT_TRUE(first_gone);
    image_free(0);
    EXPECT_EQ(image_pixbuf(0), nullptr);
    image_finish();
}

} // namespace
