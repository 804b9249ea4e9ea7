#include <gtest/gtest.h>
TEST(MenuParts, Placeholder) {}
