#include "core/recorder.h"

#include "core/numberformat.h"

std::optional<QString> Recorder::open(const QString& path)
{
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return m_file.errorString();
    return std::nullopt;
}

void Recorder::close()
{
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

QString Recorder::recordLine(qint64 elapsedMs, const QString& pitch, const QString& roll)
{
    // Milliseconds are summed as integers and divided once, so 300 ms reads
    // 0.3 and never 0.30000000000000004.
    const QString time = numfmt::plainDecimal(double(elapsedMs) / 1000.0);
    return time + QLatin1String("\tPitch\t") + pitch + QLatin1String("\tRoll\t") + roll + QLatin1String("\r\n");
}

std::optional<QString> Recorder::writeRecord(int intervalMs, const QString& pitch, const QString& roll)
{
    if (!m_file.isOpen())
        return QStringLiteral("the file is not open");
    ++RecCount;
    m_recordedMs += intervalMs;
    const QByteArray line = recordLine(m_recordedMs, pitch, roll).toUtf8();
    if (m_file.write(line) != line.size() || !m_file.flush())
        return m_file.errorString();
    return std::nullopt;
}
