#include "logger/reference.h"

#include "core/alarm.h"
#include "core/safefile.h"

#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>

#include <cmath>
#include <optional>

namespace reference {

namespace {
constexpr qint64 MaxBytes = qint64(64) * 1024;

std::optional<double> number(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale whatever the user's
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}
} // namespace

std::variant<Missing, Reference, QString> read(const QString& path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return Missing {};
    const auto content = safefile::read(path, MaxBytes);
    if (const QString* error = std::get_if<QString>(&content))
        return QStringLiteral("--reference: %1: %2").arg(path, *error);
    const QStringList lines = QString::fromUtf8(std::get<QByteArray>(content)).split(QLatin1Char('\n'));
    std::optional<double> pitch, roll;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("--reference: %1 line %2: ").arg(path).arg(i + 1);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = line.left(eq).trimmed(), value = line.mid(eq + 1).trimmed();
        if (eq <= 0)
            return where + QStringLiteral("expected key=value, got '%1'").arg(line);
        if (key == QLatin1String("pitch") || key == QLatin1String("roll")) {
            std::optional<double>& target = key == QLatin1String("pitch") ? pitch : roll;
            if (target)
                return where + QStringLiteral("'%1' given twice").arg(key);
            if (!(target = number(value)))
                return where + QStringLiteral("expected a number for %1, got '%2'").arg(key, value);
        } else if (key != QLatin1String("time") && key != QLatin1String("model")) {
            return where + QStringLiteral("unknown key '%1'").arg(key);
        }
    }
    if (!pitch || !roll)
        return QStringLiteral("--reference: %1 line %2: no %3= line")
            .arg(path)
            .arg(lines.size())
            .arg(pitch ? QStringLiteral("roll") : QStringLiteral("pitch"));
    return Reference {*pitch, *roll};
}

std::variant<std::monostate, QString> write(
    const QString& path, const Reference& reference, qint64 wallMsUtc, const QString& model)
{
    const QByteArray text
        = QStringLiteral("# The reference zero of veltrak-logger: the mean pitch and roll of its first\n"
                         "# interval. Remove this file and restart the logger to take a new one.\n"
                         "time=%1\nmodel=%2\npitch=%3\nroll=%4\n")
              .arg(alarmcsv::isoUtc(wallMsUtc), model,
                  QString::number(reference.pitch, 'g', QLocale::FloatingPointShortest),
                  QString::number(reference.roll, 'g', QLocale::FloatingPointShortest))
              .toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return std::monostate {};
}

} // namespace reference
