#pragma once

// What every benchmark shares: its numeric arguments, best-of timing,
// record values of mixed text and the process's resident memory.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <functional>
#include <limits>

namespace Bench {

// The whole number given as argument `index`, or `fallback` without one.
inline int argument(int argc, char** argv, int index, int fallback)
{
    return argc > index ? QByteArray(argv[index]).toInt() : fallback;
}

// Best of `rounds` timings, in nanoseconds.
inline qint64 bestOf(int rounds, const std::function<void()>& work)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed());
    }
    return best;
}

// A JSON value of `size` bytes for record `id`: text of mixed letters, as
// typical payloads are.
inline QByteArray textValue(qint64 id, int size)
{
    QByteArray value = "{\"id\":" + QByteArray::number(id) + ",\"data\":\"";
    while (value.size() < size - 2)
        value += char('a' + (value.size() * 7 + id) % 26);
    return value + "\"}";
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when unread.
inline qint64 statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Starts a new peak of the resident memory (VmHWM) at the present size.
inline void resetResidentPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

} // namespace Bench
