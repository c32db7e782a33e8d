#pragma once

// The main function of the shell's widget tests: time zone and locale
// pinned, a private home, and the program's resources, style and palette.

#include "../config/TestHome.h"
#include "Application.h"
#include "PinnedLocale.h"

#include <QApplication>
#include <QLocale>
#include <QTest>

#define SKELVANE_SHELL_TEST_MAIN(TestClass)                  \
    int main(int argc, char** argv)                          \
    {                                                        \
        pinTimeZoneAndLocale();                              \
        TestHome home;                                       \
        if (!home.setUp())                                   \
            return 1;                                        \
        QApplication application(argc, argv);                \
        setupApplicationLook(application);                   \
        TestClass test;                                      \
        return QTest::qExec(&test, argc, argv);              \
    }
