#include <gtest/gtest.h>

#include <QCoreApplication>

TEST(LinksHarness, ApplicationExists) { EXPECT_NE(QCoreApplication::instance(), nullptr); }
