// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/recorder.h"

#include "core/numberformat.h"

namespace {
const QString Gone = QStringLiteral("the file was removed or replaced");
const QString NotOpen = QStringLiteral("the file is not open");
} // namespace

Recorder::~Recorder()
{
    close();
}

QString Recorder::recordLine(qint64 elapsedMs, const QString& pitch, const QString& roll)
{
    // Milliseconds are summed as integers and divided once, so 300 ms reads
    // 0.3 and never 0.30000000000000004.
    const QString time = numfmt::plainDecimal(double(elapsedMs) / 1000.0);
    return time + QLatin1String("\tPitch\t") + pitch + QLatin1String("\tRoll\t") + roll + QLatin1String("\r\n");
}

std::optional<QString> Recorder::open(const QString& path)
{
    m_path = path;
    return m_file.open(path, true);
}

std::optional<QString> Recorder::reopen()
{
    return m_file.open(m_path);
}

void Recorder::close()
{
    m_file.close();
}

bool Recorder::isOpen() const
{
    return m_file.isOpen();
}

std::optional<QString> Recorder::writeRecord(int intervalMs, const QString& pitch, const QString& roll)
{
    if (!m_file.isOpen())
        return NotOpen;
    // Records written into a file nobody can reach any more would be lost
    // without a word: the name must still lead to the open file.
    if (!m_file.stillThere())
        return Gone;
    if (auto error = m_file.write(recordLine(m_recordedMs + intervalMs, pitch, roll).toUtf8()))
        return error;
    ++recordCount;
    m_recordedMs += intervalMs;
    return std::nullopt;
}
