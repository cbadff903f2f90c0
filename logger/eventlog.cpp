// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/eventlog.h"

#include "core/timeformat.h"

#include <QDateTime>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The log Qt's messages go to. Messages may come from any thread, and the
// handler has no object of its own to ask.
std::atomic<const EventLog*> qtMessageLog {nullptr};
} // namespace

EventLog::EventLog(std::FILE* stream, bool journal) : m_stream(stream), m_journal(journal)
{
}

EventLog::~EventLog()
{
    if (!m_takesQtMessages)
        return;
    // The log and handler from before take Qt's messages again, also when
    // logs end in another order than they began.
    const EventLog* self = this;
    if (qtMessageLog.compare_exchange_strong(self, m_previousLog))
        qInstallMessageHandler(m_previousHandler);
}

void EventLog::report(Priority priority, const QString& text) const
{
    // One write per line: lines from other threads never interleave.
    const QByteArray bytes = line(QDateTime::currentMSecsSinceEpoch(), text, priority, m_journal).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

void EventLog::addStatusSource(std::function<QString()> source)
{
    m_statusSources.push_back(std::move(source));
}

void EventLog::reportStatus() const
{
    QStringList texts;
    for (const auto& source : m_statusSources)
        texts << source();
    report(Priority::Info, texts.join(QLatin1String(", ")));
}

void EventLog::takeQtMessages()
{
    if (m_takesQtMessages)
        return;
    m_takesQtMessages = true;
    m_previousLog = qtMessageLog.exchange(this);
    m_previousHandler = qInstallMessageHandler(&EventLog::onQtMessage);
}

void EventLog::onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const EventLog* log = qtMessageLog;
    if (!log) {
        // Between logs: said plainly rather than lost.
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    const Priority priority = type == QtWarningMsg    ? Priority::Warning
        : type == QtCriticalMsg || type == QtFatalMsg ? Priority::Error
        : type == QtInfoMsg                           ? Priority::Info
                                                      : Priority::Debug;
    // Qt's modules name themselves ("qt.network.ssl"); the logger's own
    // lines never come this way.
    const bool named = context.category && std::strcmp(context.category, "default") != 0;
    log->report(priority, named ? QLatin1String(context.category) + QLatin1String(": ") + message : message);
}

QString EventLog::line(qint64 wallMsUtc, const QString& text, Priority priority, bool journal)
{
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString prefix = journal ? QStringLiteral("<%1>").arg(int(priority)) : QString();
    return prefix + timefmt::isoUtc(wallMsUtc) + QLatin1Char(' ') + flat + QLatin1Char('\n');
}

bool EventLog::standardErrorIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    struct stat status { };
    if (colon <= 0 || ::fstat(STDERR_FILENO, &status) != 0)
        return false;
    bool deviceOk = false, inodeOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == qulonglong(status.st_dev) && inode == qulonglong(status.st_ino);
}
