#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A private home for a test: the configuration and data directories of
// "skelvane" lie in a temporary directory, so nothing touches the real home.
class TestHome {
public:
    // Points XDG_CONFIG_HOME at path()/config and XDG_DATA_HOME at
    // path()/data; call before anything asks QStandardPaths.
    bool setUp()
    {
        if (!m_dir.isValid())
            return false;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/data"));
        QCoreApplication::setApplicationName("skelvane");
        return true;
    }

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};
