#pragma once

#include <QList>
#include <QObject>
#include <QTest>
#include <QVariant>

// Records the emissions of a signal that another thread emits (a connection's
// on its network thread) on the thread that creates the spy. QSignalSpy
// appends on the emitting thread while the test thread reads its list; here
// each emission arrives queued and is appended on the spy's own thread, so
// only that thread touches the list. Read like a QSignalSpy: one list of
// arguments per emission. Emissions arrive while the test thread runs its
// event loop (wait, QTRY_*, QTest::qWait).
class QueuedSignalSpy : public QObject {
public:
    template <typename Sender, typename SignalClass, typename... Args>
    QueuedSignalSpy(const Sender* sender, void (SignalClass::*signal)(Args...))
    {
        connect(
            sender, signal, this,
            [this](Args... arguments) { m_emissions.append(QVariantList { QVariant::fromValue(arguments)... }); },
            Qt::QueuedConnection);
    }

    // Whether the signal arrives (again) within `timeoutMs`.
    bool wait(int timeoutMs = 5000)
    {
        const qsizetype before = m_emissions.size();
        return QTest::qWaitFor([&] { return m_emissions.size() > before; }, timeoutMs);
    }

    qsizetype size() const { return m_emissions.size(); }
    qsizetype count() const { return m_emissions.size(); }
    bool isEmpty() const { return m_emissions.isEmpty(); }
    const QVariantList& at(qsizetype index) const { return m_emissions.at(index); }
    const QVariantList& operator[](qsizetype index) const { return m_emissions.at(index); }

private:
    QList<QVariantList> m_emissions;
};
