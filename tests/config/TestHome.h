#pragma once

#include "Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A private home for a test, set up before anything asks QStandardPaths:
// nothing touches the real home.
class TestHome {
public:
    bool setUp()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/data"));
        QCoreApplication::setApplicationName("skelvane");
        return m_dir.isValid();
    }

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// "code message", then " <- code message" for each cause.
inline QStringList describe(const QList<KafkaError>& errors)
{
    QStringList lines;
    for (const KafkaError& error : errors) {
        lines.append(QString("%1 %2").arg(QString::number(static_cast<int>(error.code)), error.message));
        for (const KafkaError& cause : error.causes)
            lines.append(QString(" <- %1 %2").arg(QString::number(static_cast<int>(cause.code)), cause.message));
    }
    return lines;
}
