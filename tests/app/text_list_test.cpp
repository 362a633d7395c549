#include "app/text_list.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> walk(TextList& list) {
    std::vector<std::string> texts;
    list.reset();
    while (list.next()) {
        texts.push_back(list.current());
    }
    return texts;
}

using Texts = std::vector<std::string>;

TEST(TextListTest, RepeatedAddingKeepsTheOrderOfAdding) {
    TextList list;
    list.add("/dev/ttyUSB0");
    list.add("/dev/ttyUSB10");
    list.add("/dev/ttyUSB2");
    EXPECT_EQ(list.current(), "/dev/ttyUSB2");
    EXPECT_EQ(walk(list), (Texts{"/dev/ttyUSB0", "/dev/ttyUSB10", "/dev/ttyUSB2"}));
    EXPECT_EQ(Texts(list.begin(), list.end()), walk(list));
    EXPECT_EQ(list.size(), 3u);
}

TEST(TextListTest, WalkStartsBeforeTheFirstAndStopsAtTheLast) {
    TextList list;
    EXPECT_FALSE(list.next());
    EXPECT_EQ(list.current(), "");
    list.add("a");
    list.add("b");
    list.reset();
    EXPECT_EQ(list.current(), "");
    ASSERT_TRUE(list.next());
    EXPECT_EQ(list.current(), "a");
    ASSERT_TRUE(list.next());
    EXPECT_EQ(list.current(), "b");
    EXPECT_FALSE(list.next());
    EXPECT_EQ(list.current(), "b");
    // Past the end the last element stays current, so adding appends.
    list.add("c");
    EXPECT_EQ(walk(list), (Texts{"a", "b", "c"}));
}

TEST(TextListTest, AddingInsertsAfterTheCurrentElementOrAtTheFront) {
    TextList list;
    list.add("b");
    list.add("d");
    list.reset();
    list.add("a");
    ASSERT_TRUE(list.next());
    EXPECT_EQ(list.current(), "b");
    list.add("c");
    EXPECT_EQ(list.current(), "c");
    ASSERT_TRUE(list.next());
    EXPECT_EQ(list.current(), "d");
    EXPECT_EQ(walk(list), (Texts{"a", "b", "c", "d"}));
}

TEST(TextListTest, TextEndsAtItsFirstZeroByte) {
    TextList list;
    list.add(std::string_view("/dev/ttyUSB0\0junk", 17));
    list.add("");
    EXPECT_EQ(walk(list), (Texts{"/dev/ttyUSB0", ""}));
}

TEST(TextListTest, ClearingFreesEveryElementAndTheCursor) {
    TextList list;
    list.add("x");
    list.add("y");
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.current(), "");
    EXPECT_FALSE(list.next());
    list.add("z");
    EXPECT_EQ(walk(list), Texts{"z"});
}

} // namespace
