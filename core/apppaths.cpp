// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/apppaths.h"

#include "core/recorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
bool isWritableDir(const QString& dir)
{
    // QFileInfo::isWritable checks permission bits only; a read-only mount
    // or ACL would fool it, so try to create a file.
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".veltrak-probe-XXXXXX")));
    return probe.open();
}
} // namespace

QString AppPaths::chooseDataDir(const QString& executableDir, const QString& fallbackDir)
{
    if (isWritableDir(executableDir))
        return executableDir;
    QDir().mkpath(fallbackDir);
    return fallbackDir;
}

QString AppPaths::defaultDataDir()
{
    return chooseDataDir(
        QCoreApplication::applicationDirPath(), QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

QString AppPaths::recordingFile() const
{
    return QDir(m_dataDir).filePath(Recorder::FileName);
}

QString AppPaths::alarmFile() const
{
    return QDir(m_dataDir).filePath(QStringLiteral("alarms.csv"));
}

QStringList AppPaths::coefficientDirs() const
{
    if (m_programDir.isEmpty() || QFileInfo(m_programDir) == QFileInfo(m_dataDir))
        return {m_dataDir};
    return {m_programDir, m_dataDir};
}
