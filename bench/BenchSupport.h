#pragma once

// What every benchmark shares: its numeric arguments, best-of timing and
// record values of mixed text.

#include <QByteArray>
#include <QElapsedTimer>

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

} // namespace Bench
