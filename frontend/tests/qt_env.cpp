#include "qt_env.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

int g_argc = 1;
char g_name[] = "tollmark_test";
char *g_argv[] = {g_name, nullptr};

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { TestApp(); }
};

// Created before any test runs, so that every test has its application object.
[[maybe_unused]] ::testing::Environment *const g_env =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

QApplication &TestApp()
{
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(g_argc, g_argv);
    }();
    return *app;
}
