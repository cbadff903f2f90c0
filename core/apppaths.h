#pragma once

#include <QString>

// Where kvddt.txt and kvdcoef.txt live. By default the directory of the
// executable, as operators expect; when that directory is not writable (an
// installed copy), a per-user data directory instead. Tests and the command
// line may set it outright.
class AppPaths {
public:
    // `executableDir` writable → it; otherwise `fallbackDir` (created if needed).
    static QString chooseDataDir(const QString& executableDir, const QString& fallbackDir);
    static QString defaultDataDir(); // uses the running application's directories

    explicit AppPaths(QString dataDir) : m_dataDir(std::move(dataDir)) { }
    QString dataDir() const { return m_dataDir; }
    QString recordingFile() const;
    QString coefficientDir() const { return m_dataDir; }

private:
    QString m_dataDir;
};
