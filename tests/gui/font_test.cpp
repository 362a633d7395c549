#include "gui/font.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define FONT_TEST_ASAN 1
#endif

namespace {

class FontTest : public testing::Test {
  protected:
    void SetUp() override { font_init(); }
    void TearDown() override { font_free_all(); }
};

std::string family_of(object_number number) {
    PangoFontDescription* description = font_handle(number);
    const char* family =
        description != nullptr ? pango_font_description_get_family(description) : nullptr;
    return family != nullptr ? family : "";
}

// Under AddressSanitizer a freed description's family text stays poisoned, so
// the test sees that the description itself was freed.
void expect_freed(const char* family) {
#ifdef FONT_TEST_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(family)) << "description not freed";
#else
    (void)family;
#endif
}

TEST_F(FontTest, PlainFontHasTheFamilyTheSizeInPangoUnitsAndNormalFace) {
    object_number result = font_load_plain(0, "Arial", 8);
    PangoFontDescription* description = font_handle(0);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(result, reinterpret_cast<object_number>(description));
    EXPECT_EQ(family_of(0), "Arial");
    EXPECT_EQ(pango_font_description_get_size(description), 8192);
    EXPECT_FALSE(pango_font_description_get_size_is_absolute(description));
    EXPECT_EQ(pango_font_description_get_weight(description), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_style(description), PANGO_STYLE_NORMAL);
}

TEST_F(FontTest, FlagsGiveBoldAndItalicAloneAndTogether) {
    font_load(1, "Arial", 10, FONT_WEIGHT_BOLD | FONT_STYLE_ITALIC);
    font_load(2, "Arial", 10, FONT_WEIGHT_BOLD);
    font_load(3, "Arial", 10, FONT_STYLE_ITALIC);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(1)), 700);
    EXPECT_EQ(pango_font_description_get_style(font_handle(1)), PANGO_STYLE_ITALIC);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(2)), 700);
    EXPECT_EQ(pango_font_description_get_style(font_handle(2)), PANGO_STYLE_NORMAL);
    EXPECT_EQ(pango_font_description_get_weight(font_handle(3)), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_style(font_handle(3)), PANGO_STYLE_ITALIC);
    EXPECT_EQ(pango_font_description_get_size(font_handle(1)), 10 * PANGO_SCALE);
}

TEST_F(FontTest, NameGivesTheFaceButTheSizeArgumentWins) {
    font_load_plain(0, "Liberation Sans Bold 20", 8);
    PangoFontDescription* description = font_handle(0);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(family_of(0), "Liberation Sans");
    EXPECT_EQ(pango_font_description_get_weight(description), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(pango_font_description_get_size(description), 8 * PANGO_SCALE);
}

TEST_F(FontTest, SizesPangoCannotTakeKeepTheNamesSizeWithoutAWarning) {
    font_load_plain(0, "Arial 12", -3);
    font_load_plain(1, "Arial 12", INT_MAX / 2);
    font_load_plain(2, "Arial", -3);
    EXPECT_EQ(pango_font_description_get_size(font_handle(0)), 12 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_size(font_handle(1)), 12 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_set_fields(font_handle(2)) & PANGO_FONT_MASK_SIZE, 0);
}

TEST_F(FontTest, AutomaticNumbersNameTheirOwnFonts) {
    object_number first = font_load_plain(OBJECT_ANY, "Arial", 9);
    object_number second = font_load(OBJECT_ANY, "Arial", 11, FONT_WEIGHT_BOLD);
    ASSERT_LT(first, -1);
    ASSERT_LT(second, -1);
    ASSERT_NE(first, second);
    EXPECT_EQ(pango_font_description_get_size(font_handle(first)), 9 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_size(font_handle(second)), 11 * PANGO_SCALE);
    const char* family = pango_font_description_get_family(font_handle(first));
    font_free(first);
    expect_freed(family);
    EXPECT_EQ(font_handle(first), nullptr);
    EXPECT_NE(font_handle(second), nullptr);
}

TEST_F(FontTest, ReloadingANumberFreesTheOldDescriptionAndKeepsTheNewOne) {
    font_load_plain(0, "Arial", 8);
    const char* old_family = pango_font_description_get_family(font_handle(0));
    object_number result = font_load(0, "Liberation Serif", 14, FONT_STYLE_ITALIC);
    expect_freed(old_family);
    PangoFontDescription* description = font_handle(0);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(result, reinterpret_cast<object_number>(description));
    EXPECT_EQ(family_of(0), "Liberation Serif");
    EXPECT_EQ(pango_font_description_get_size(description), 14 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_style(description), PANGO_STYLE_ITALIC);
}

TEST_F(FontTest, MissingNumbersHaveNoFontAndFreeingThemDoesNothing) {
    font_load_plain(0, "Arial", 8);
    EXPECT_EQ(font_handle(5), nullptr);
    EXPECT_EQ(font_handle(-7), nullptr);
    font_free(5);
    font_free(1000);
    EXPECT_NE(font_handle(0), nullptr);
    EXPECT_EQ(font_load_plain(-5, "Arial", 8), 0);
}

TEST_F(FontTest, FreeAllAndFreeMinusOneFreeEveryFont) {
    font_load_plain(0, "Arial", 8);
    font_load_plain(3, "Arial", 9);
    object_number automatic = font_load_plain(OBJECT_ANY, "Arial", 10);
    const char* family = pango_font_description_get_family(font_handle(3));
    font_free_all();
    expect_freed(family);
    EXPECT_EQ(font_handle(0), nullptr);
    EXPECT_EQ(font_handle(3), nullptr);
    EXPECT_EQ(font_handle(automatic), nullptr);

    font_load_plain(0, "Arial", 8);
    automatic = font_load_plain(OBJECT_ANY, "Arial", 10);
    font_free(-1);
    EXPECT_EQ(font_handle(0), nullptr);
    EXPECT_EQ(font_handle(automatic), nullptr);
    font_load_plain(0, "Arial", 12);
    EXPECT_EQ(pango_font_description_get_size(font_handle(0)), 12 * PANGO_SCALE);
}

} // namespace
