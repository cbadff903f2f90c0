// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <functional>
#include <vector>

// The logger's event log on standard error: one line per event, beginning
// with the UTC time, and with the priority in front ("<4>") when standard
// error is the systemd journal's stream, which reads it from there. One
// object, handed to everyone who has something to tell, so every line of
// the process (Qt's own warnings too, once installed as its message handler)
// looks the same.
class EventLog {
public:
    // How much an event needs a person, as syslog numbers it.
    enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

    // Lines go to `stream`; the priority only when `journal` says the
    // stream is the journal's.
    explicit EventLog(std::FILE* stream = stderr, bool journal = standardErrorIsJournal());
    // Hands Qt's messages back to whoever had them before.
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void report(Priority priority, const QString& text) const;
    void report(const QString& text) const { report(Priority::Info, text); }

    // The status line (SIGUSR1) is the texts of these sources, in the order
    // added, joined by ", ": each asked at the time of the line.
    void addStatusSource(std::function<QString()> source);
    void reportStatus() const;

    // From now on qDebug(), qWarning() and the like, also from Qt's own
    // modules, become event lines of this log: warnings with the warning
    // priority, critical and fatal messages as errors, the rest as
    // information or debug.
    void takeQtMessages();

    // "<iso time> <text>\n", with "<N>" in front for the journal. Line
    // breaks inside the text become blanks, so one event stays one line for
    // whoever reads the log.
    static QString line(qint64 wallMsUtc, const QString& text, Priority priority, bool journal);

    // Standard error is the systemd journal's stream (JOURNAL_STREAM names
    // its device and inode), not a terminal or file it was redirected to
    // since.
    static bool standardErrorIsJournal();

private:
    static void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    std::FILE* m_stream;
    bool m_journal;
    std::vector<std::function<QString()>> m_statusSources;
    bool m_takesQtMessages = false;
    QtMessageHandler m_previousHandler = nullptr;
    const EventLog* m_previousLog = nullptr;
};
