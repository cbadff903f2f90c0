// Number formats, hex reading and the conversions. Each table row covers a
// path or boundary that no other row covers.
#include "core/conversion.h"
#include "core/hexreading.h"
#include "core/numberformat.h"
#include "core/presets.h"

#include <QLocale>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    void textForms();
    void hexReading();
    void conversions();
};

void TestNumbers::textForms()
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    // Exponent form below 1E-4 and from 1E+15 on, 15 significant digits.
    static const std::pair<double, const char*> decimals[]
        = {{0.0129, "0.0129"}, {-3E-10, "-3E-10"}, {-2E-9, "-2E-09"}, {-0.0, "0"}, {-130.0, "-130"}, {0.1 + 0.2, "0.3"},
            {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {0.0001, "0.0001"}, {0.00005, "5E-05"},
            {1.0 / 3.0, "0.333333333333333"}, {std::nan(""), "NaN"}, {inf, "Inf"}, {-inf, "-Inf"}};
    for (const auto& [value, text] : decimals)
        QCOMPARE(numfmt::plainDecimal(value), QString::fromLatin1(text));

    static const std::tuple<double, int, int, const char*> patterns[] = {{0.0, 2, 2, "00.00"}, {-1.0, 2, 2, "-01.00"},
        {123.4, 2, 2, "123.40"}, {-0.001, 2, 2, "00.00"}, {0.7855, 1, 2, "0.79"}, {-1.5708, 1, 2, "-1.57"},
        {0.031768, 1, 4, "0.0318"}, {-0.0636, 1, 4, "-0.0636"}, {-inf, 1, 2, "-Inf"}};
    for (const auto& [value, minInt, places, text] : patterns)
        QCOMPARE(numfmt::pattern(value, minInt, places), QString::fromLatin1(text));

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; harmless then
    QCOMPARE(numfmt::plainDecimal(0.25), QStringLiteral("0.25"));
    QCOMPARE(numfmt::pattern00_00(-1.5), QStringLiteral("-01.50"));
    QCOMPARE(numfmt::pattern0_0000(0.031768), QStringLiteral("0.0318"));
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(before);
}

void TestNumbers::hexReading()
{
    // Line feeds are dropped, so replies run together; any other character
    // ends the digits; too many digits saturate rather than wrap.
    constexpr quint64 max = std::numeric_limits<quint64>::max();
    static const std::pair<const char*, quint64> rows[] = {{"800\n7FF\n", 0x8007FF}, {"09E\n", 158}, {"7fag", 0x7FA},
        {"80\r0", 0x80}, {"R\n", 0}, {"FFFFFFFFFFFFFFFA", max - 5}, {"10000000000000000", max}};
    for (const auto& [hex, count] : rows) {
        QString text = QString::fromLatin1(hex);
        HexToDecimal(text);
        QCOMPARE(text, QString::number(count));
    }
}

void TestNumbers::conversions()
{
    // Ties go to the even neighbour, also those made by the scaling by 100
    // (0.005); a negative value that rounds to zero leaves no "-0".
    static const std::pair<double, double> ties[] = {{0.125, 0.12}, {0.375, 0.38}, {2.625, 2.62}, {-0.125, -0.12},
        {0.005, 0.0}, {12.6049, 12.6}, {12.6051, 12.61}, {-0.001, 0.0}};
    for (const auto& [value, rounded] : ties)
        QCOMPARE(numfmt::roundHalfEven2(value), rounded);
    QVERIFY(!std::signbit(numfmt::roundHalfEven2(-0.001)));

    static const std::tuple<Model, double, double> presets[]
        = {{Model::Z1, 12.6, -23.84}, {Model::Z2, 29.25, -46.82}, {Model::Z3, 42.8, -61.49}, {Model::Raw, 1000, -2048}};
    for (const auto& [model, at1000, atMinus2048] : presets) {
        const Coefficients c = presetFor(model);
        QCOMPARE(conversion::polynomial(1000, c.x1, c.x2, c.x3), at1000);
        QCOMPARE(conversion::polynomial(-2048, c.x1, c.x2, c.x3), atMinus2048);
    }
    QCOMPARE(conversion::polynomial(10, 1, 2, 3), 3210.0); // no preset has a square term

    using U = conversion::ThicknessUnit;
    static const std::tuple<double, double, U, const char*> thickness[]
        = {{251, 130, U::Millimetres, "0.79"}, {251, 130, U::Inches, "0.0318"}, {251, 130, U::Degrees, "1.00"},
            {-112, 130, U::Millimetres, "-1.57"}, {251, 251, U::Inches, "0.0000"}};
    for (const auto& [centred, zero, unit, text] : thickness)
        QCOMPARE(conversion::thicknessText(centred, zero, unit), QString::fromLatin1(text));
    QCOMPARE(conversion::temperature(158), 25.0);
}

QTEST_APPLESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
