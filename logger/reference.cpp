// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/reference.h"

#include "core/conversion.h"
#include "core/numberformat.h"
#include "core/safefile.h"
#include "core/timeformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <QTemporaryFile>

#include <cmath>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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

std::variant<Missing, Reference, QString> read(
    const QString& path, const QString& model, const Calibration& calibration)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return Missing {};
    const auto content = safefile::read(path, MaxBytes);
    if (const QString* error = std::get_if<QString>(&content))
        return QStringLiteral("--reference: %1: %2").arg(path, *error);
    const QStringList lines = QString::fromUtf8(std::get<QByteArray>(content)).split(QLatin1Char('\n'));
    std::optional<double> pitch, roll;
    bool modelSeen = false;
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
            const bool isPitch = key == QLatin1String("pitch");
            std::optional<double>& target = isPitch ? pitch : roll;
            if (target)
                return where + QStringLiteral("'%1' given twice").arg(key);
            if (!(target = number(value)))
                return where + QStringLiteral("expected a number for %1, got '%2'").arg(key, value);
            const Coefficients& k = calibration.coefficients;
            const auto range = conversion::rangeOverCounts(
                k.x1, k.x2, k.x3, isPitch ? calibration.pitchOffset : calibration.rollOffset);
            if (!range || *target < range->low || *target > range->high)
                return where
                    + QStringLiteral("%1 %2 is outside what model %3 gives over the counts 0 to 4095 (%4 to %5)")
                          .arg(key, value, model, numfmt::angle(range ? range->low : 0.0),
                              numfmt::angle(range ? range->high : 0.0));
        } else if (key == QLatin1String("model")) {
            if (value != model)
                return where + QStringLiteral("taken with model %1, not this logger's model %2").arg(value, model);
            modelSeen = true;
        } else if (key != QLatin1String("time")) {
            return where + QStringLiteral("unknown key '%1'").arg(key);
        }
    }
    if (!pitch || !roll || !modelSeen)
        return QStringLiteral("--reference: %1 line %2: no %3= line")
            .arg(path)
            .arg(lines.size())
            .arg(!modelSeen ? QStringLiteral("model")
                    : pitch ? QStringLiteral("roll")
                            : QStringLiteral("pitch"));
    return Reference {*pitch, *roll};
}

std::optional<QString> checkPlace(const QString& path, const QList<std::pair<QString, QString>>& outputs)
{
    const QFileInfo reference(path);
    for (const auto& [option, output] : outputs) {
        const QFileInfo other(output);
        const bool same = reference.absoluteFilePath() == other.absoluteFilePath()
            || (reference.exists() && other.exists() && reference.canonicalFilePath() == other.canonicalFilePath());
        if (same)
            return QStringLiteral("--reference: %1 is also the file of %2").arg(path, option);
    }
    if (reference.exists() || reference.isSymLink())
        return std::nullopt;
    // Found now, not at the end of the first interval with the row lost.
    const QString folder = reference.absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("--reference: cannot write the reference into %1: %2")
            .arg(folder, safefile::reason(errno));
    return std::nullopt;
}

std::variant<Stored, Reference, QString> create(const QString& path, const Reference& reference, qint64 wallMsUtc,
    const QString& model, const Calibration& calibration)
{
    const QByteArray text
        = QStringLiteral("# The reference zero of veltrak-logger: the mean pitch and roll of its first\n"
                         "# interval. Remove this file and restart the logger to take a new one.\n"
                         "time=%1\nmodel=%2\npitch=%3\nroll=%4\n")
              .arg(timefmt::isoUtc(wallMsUtc), model,
                  QString::number(reference.pitch, 'g', QLocale::FloatingPointShortest),
                  QString::number(reference.roll, 'g', QLocale::FloatingPointShortest))
              .toUtf8();
    const QFileInfo info(path);
    QTemporaryFile file(info.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    auto failed = [&path](const QString& reason) { return QStringLiteral("%1: %2").arg(path, reason); };
    if (!file.open())
        return failed(file.errorString());
    // Nothing is visible at `path` before all of it is on the disk.
    if (file.write(text) != text.size() || !file.flush())
        return failed(file.errorString());
    if (::fsync(file.handle()) != 0)
        return failed(safefile::reason(errno));
    file.setPermissions(
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // link() makes the name only where none is: of two loggers taking a
    // reference at one path, the first keeps it and the second reads it.
    if (::link(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        if (errno != EEXIST)
            return failed(safefile::reason(errno));
        auto theirs = read(path, model, calibration);
        if (const Reference* found = std::get_if<Reference>(&theirs))
            return *found;
        if (const QString* error = std::get_if<QString>(&theirs))
            return *error;
        return failed(QStringLiteral("removed while it was being taken"));
    }
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the new name itself survives a power cut
        ::close(dir);
    }
    return Stored {};
}

} // namespace reference
