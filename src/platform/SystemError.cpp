#include "SystemError.h"

#include <cstring>

namespace {

// strerror_r comes in two shapes: the XSI one fills the buffer and returns an
// int, the GNU one returns the text, which may or may not be the buffer.
[[maybe_unused]] QString messageFrom(int result, const char* buffer)
{
    return result == 0 ? QString::fromLocal8Bit(buffer) : QString();
}

[[maybe_unused]] QString messageFrom(const char* result, const char*)
{
    return result ? QString::fromLocal8Bit(result) : QString();
}

} // namespace

SystemError SystemError::fromErrno(int errorNumber)
{
    char buffer[256] = {};
    QString text = messageFrom(strerror_r(errorNumber, buffer, sizeof buffer), buffer);
    if (text.isEmpty())
        text = QString("Unknown error %1").arg(errorNumber);
    return SystemError { errorNumber, text };
}
