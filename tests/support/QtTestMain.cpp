// GoogleTest entry for tests that need a Qt application object: a
// QApplication on the offscreen platform (test discovery runs the binary
// without the tests' environment), or a QCoreApplication where no widget is
// used (BRASKON_CORE_TEST_MAIN).
#include "tests/support/CallerEnvironment.h"

#include <gtest/gtest.h>

#ifdef BRASKON_CORE_TEST_MAIN
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

int main(int argc, char **argv)
{
    ForgetCallersEnvironment();
#ifndef BRASKON_CORE_TEST_MAIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
