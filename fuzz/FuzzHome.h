#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>

// The file parsers read from disk: each fuzz process gets a private home
// (configuration and data directories) under the temporary directory, and the
// input is written to one file there before every run.
class FuzzHome {
public:
    static FuzzHome& instance()
    {
        static FuzzHome home;
        return home;
    }

    QString configDir() const { return m_root + "/config/skelvane"; }

    // Replaces the file's content with the input.
    void write(const QString& path, const std::uint8_t* data, std::size_t size) const
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

private:
    FuzzHome()
        : m_root(QDir::tempPath() + "/skelvane-fuzz-" + QString::number(getpid()))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root + "/data"));
        QCoreApplication::setApplicationName("skelvane");
        QDir().mkpath(configDir() + "/clusters");
    }

    QString m_root;
};
