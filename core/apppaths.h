// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Where kvddt.txt and kvdcoef.txt live. By default the directory of the
// executable, as operators expect; when that directory is not writable (an
// installed copy), a per-user data directory instead. Tests and the command
// line may set it outright.
class AppPaths {
public:
    // `executableDir` writable → it; otherwise `fallbackDir` (created if needed).
    static QString chooseDataDir(const QString& executableDir, const QString& fallbackDir);
    static QString defaultDataDir(); // uses the running application's directories

    // `programDir`, when given and not the data directory, is searched for
    // kvdcoef.txt first: an installed copy may ship its calibration beside
    // the program although it writes elsewhere.
    explicit AppPaths(QString dataDir, QString programDir = QString())
        : m_dataDir(std::move(dataDir)), m_programDir(std::move(programDir))
    {
    }
    QString dataDir() const { return m_dataDir; }
    QString recordingFile() const;
    QString alarmFile() const;
    QStringList coefficientDirs() const;

private:
    QString m_dataDir;
    QString m_programDir;
};
