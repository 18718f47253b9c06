#include "acx/CAcxTagTree.h"

#include <gtest/gtest.h>

TEST(AcxTagTree, ChildrenKeepDocumentOrderUnderTheirParent) {
    CAcxTagTree tree;
    CAcxCompoundTag* root = tree.newCompound(0, nullptr);
    CAcxCompoundTag* section = tree.newCompound(2144, root);
    CAcxDataTag* value = tree.newData(2088, 1, section);
    CAcxStringTag* text = tree.newString(150, 5, section);
    EXPECT_EQ(tree.root(), root);
    EXPECT_EQ(section->parent(), root);
    EXPECT_EQ(section->firstChild(), value);
    EXPECT_EQ(value->next(), text);
    EXPECT_EQ(section->lastChild(), text);
    EXPECT_EQ(section->childCount(), 2u);
    EXPECT_EQ(text->capacity(), 5u);
    EXPECT_STREQ(text->text(), "");
}

TEST(AcxTagTree, RewindReusesTheMemoryOfForgottenTags) {
    CAcxTagTree tree;
    CAcxCompoundTag* root = tree.newCompound(0, nullptr);
    CAcxTagTree::Mark mark = tree.mark();
    CAcxDataTag* first = tree.newData(1, 1, root);
    root->clearChildren();
    tree.rewind(mark);
    CAcxDataTag* again = tree.newData(2, 1, root);
    EXPECT_EQ(static_cast<void*>(first), static_cast<void*>(again));
    // A string larger than a block gets its own, and later tags still fit.
    CAcxStringTag* big = tree.newString(3, 1 << 20, root);
    big->buffer()[1 << 20] = 0;
    EXPECT_NE(tree.newData(4, 1, root), nullptr);
    EXPECT_EQ(root->childCount(), 3u);
}
