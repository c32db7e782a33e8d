#pragma once

#include <QString>

// An operating-system error: the error number and its text.
struct SystemError {
    int number = 0;
    QString text;

    // The C library's text for `errorNumber`, obtained thread-safely.
    static SystemError fromErrno(int errorNumber);
};
