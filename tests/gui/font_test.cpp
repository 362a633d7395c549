#include "gui/font.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

class FontTest : public testing::Test {
  protected:
    void SetUp() override { font_init(); }
    void TearDown() override { font_free_all(); }
};

std::string family(object_number number) {
    const char* name = pango_font_description_get_family(font_handle(number));
    return name != nullptr ? name : "";
}

// Under AddressSanitizer a freed description's family text stays poisoned,
// which shows that the description itself was freed.
void expect_freed([[maybe_unused]] const char* family_text) {
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_TRUE(__asan_address_is_poisoned(family_text)) << "description not freed";
#endif
}

TEST_F(FontTest, DescriptionHasTheFamilyTheSizeInPangoUnitsAndTheFace) {
    object_number loaded = font_load_plain(0, "Arial", 8);
    EXPECT_EQ(loaded, reinterpret_cast<object_number>(font_handle(0)));
    font_load(1, "Arial", 10, FONT_WEIGHT_BOLD | FONT_STYLE_ITALIC);
    font_load(2, "Arial", 10, FONT_STYLE_ITALIC);
    font_load_plain(3, "Liberation Sans Bold 20", 8);
    font_load_plain(4, "Arial 12", -3);          // Pango cannot take it: no warning,
    font_load_plain(5, "Arial 12", INT_MAX / 2); // the name's size stays
    EXPECT_EQ(family(0), "Arial");
    EXPECT_EQ(pango_font_description_get_size(font_handle(0)), 8192);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(0)), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_style(font_handle(0)), PANGO_STYLE_NORMAL);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(1)), 700);
    EXPECT_EQ(pango_font_description_get_style(font_handle(1)), PANGO_STYLE_ITALIC);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(2)), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_style(font_handle(2)), PANGO_STYLE_ITALIC);
    EXPECT_EQ(family(3), "Liberation Sans");
    EXPECT_EQ(pango_font_description_get_weight(font_handle(3)), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(pango_font_description_get_size(font_handle(3)), 8 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_size(font_handle(4)), 12 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_size(font_handle(5)), 12 * PANGO_SCALE);
    EXPECT_EQ(font_handle(6), nullptr);
    EXPECT_EQ(font_handle(-7), nullptr);
    EXPECT_EQ(font_load_plain(-5, "Arial", 8), 0);
}

TEST_F(FontTest, ReplacingAndFreeingFreeTheDescriptions) {
    font_load_plain(0, "Arial", 8);
    const char* replaced = pango_font_description_get_family(font_handle(0));
    object_number loaded = font_load(0, "Liberation Serif", 14, FONT_STYLE_ITALIC);
    EXPECT_EQ(loaded, reinterpret_cast<object_number>(font_handle(0)));
    expect_freed(replaced);
    EXPECT_EQ(family(0), "Liberation Serif");
    EXPECT_EQ(pango_font_description_get_size(font_handle(0)), 14 * PANGO_SCALE);

    object_number first = font_load_plain(OBJECT_ANY, "Arial", 9);
    object_number second = font_load_plain(OBJECT_ANY, "Arial", 11);
    ASSERT_LT(first, -1);
    ASSERT_LT(second, -1);
    ASSERT_NE(first, second);
    const char* freed = pango_font_description_get_family(font_handle(first));
    font_free(first);
    font_free(1000); // no such font: nothing
    expect_freed(freed);
    EXPECT_EQ(font_handle(first), nullptr);
    EXPECT_EQ(pango_font_description_get_size(font_handle(second)), 11 * PANGO_SCALE);

    const char* last = pango_font_description_get_family(font_handle(second));
    font_free_all();
    expect_freed(last);
    EXPECT_EQ(font_handle(0), nullptr);
    EXPECT_EQ(font_handle(second), nullptr);
    font_load_plain(2, "Arial", 8);
    font_free(-1);
    EXPECT_EQ(font_handle(2), nullptr);
}

} // namespace
