// Number formats, hex reading and the conversions.
#include "core/numberformat.h"
#include "core/conversion.h"
#include "core/hexreading.h"

#include <QLocale>
#include <QTest>

#include <clocale>
#include <limits>

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    void plainDecimal_data();
    void plainDecimal();
    void plainDecimalIgnoresLocale();
    void patterns_data();
    void patterns();
    void roundHalfEven_data();
    void roundHalfEven();
    void hexToDecimal_data();
    void hexToDecimal();
    void presetsAtReferenceCounts_data();
    void presetsAtReferenceCounts();
    void thickness_data();
    void thickness();
};

void TestNumbers::plainDecimal_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("Z1 linear") << 0.0129 << "0.0129";
    QTest::newRow("Z2 linear") << 0.03125 << "0.03125";
    QTest::newRow("Z1 cube") << -3E-10 << "-3E-10";
    QTest::newRow("Z2 cube") << -2E-9 << "-2E-09";
    QTest::newRow("Z3 cube") << -4E-9 << "-4E-09";
    QTest::newRow("tenth") << 0.1 << "0.1";
    QTest::newRow("quarter") << 0.25 << "0.25";
    QTest::newRow("sum of tenths") << 0.1 + 0.2 << "0.3";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("whole") << 2048.0 << "2048";
    QTest::newRow("negative whole") << -130.0 << "-130";
    QTest::newRow("1.50 from a file") << 1.50 << "1.5";
    QTest::newRow("largest plain") << 123456789012345.0 << "123456789012345";
    QTest::newRow("1E+15") << 1e15 << "1E+15";
    QTest::newRow("1E-4 stays plain") << 0.0001 << "0.0001";
    QTest::newRow("below 1E-4") << 0.00005 << "5E-05";
    QTest::newRow("15 digits") << 1.0 / 3.0 << "0.333333333333333";
}

void TestNumbers::plainDecimal()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numfmt::plainDecimal(value), text);
}

void TestNumbers::plainDecimalIgnoresLocale()
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; harmless then
    QCOMPARE(numfmt::plainDecimal(0.25), QStringLiteral("0.25"));
    QCOMPARE(numfmt::pattern00_00(-1.5), QStringLiteral("-01.50"));
    QCOMPARE(numfmt::pattern0_0000(0.031768), QStringLiteral("0.0318"));
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(before);
}

void TestNumbers::patterns_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("minInt");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("00.00 zero") << 0.0 << 2 << 2 << "00.00";
    QTest::newRow("00.00 minus one") << -1.0 << 2 << 2 << "-01.00";
    QTest::newRow("00.00 long") << 123.4 << 2 << 2 << "123.40";
    QTest::newRow("00.00 Z1 at 1000") << 12.6 << 2 << 2 << "12.60";
    QTest::newRow("00.00 -2048") << -2048.0 << 2 << 2 << "-2048.00";
    QTest::newRow("00.00 no negative zero") << -0.001 << 2 << 2 << "00.00";
    QTest::newRow("0.00 rounds") << 0.7855 << 1 << 2 << "0.79";
    QTest::newRow("0.00 negative") << -1.5708 << 1 << 2 << "-1.57";
    QTest::newRow("0.00 no negative zero") << -0.004 << 1 << 2 << "0.00";
    QTest::newRow("0.0000 inches") << 0.031768 << 1 << 4 << "0.0318";
    QTest::newRow("0.0000 negative") << -0.0636 << 1 << 4 << "-0.0636";
    QTest::newRow("0.0000 no negative zero") << -0.00001 << 1 << 4 << "0.0000";
}

void TestNumbers::patterns()
{
    QFETCH(double, value);
    QFETCH(int, minInt);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(numfmt::pattern(value, minInt, decimals), text);
}

void TestNumbers::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("half down to even") << 0.125 << 0.12;
    QTest::newRow("half up to even") << 0.375 << 0.38;
    QTest::newRow("negative half") << -0.125 << -0.12;
    QTest::newRow("0.005 is a tie after scaling") << 0.005 << 0.0;
    QTest::newRow("0.015 rounds to even") << 0.015 << 0.02;
    QTest::newRow("below half") << 12.6049 << 12.6;
    QTest::newRow("above half") << 12.6051 << 12.61;
    QTest::newRow("whole") << -2048.0 << -2048.0;
    QTest::newRow("no negative zero") << -0.001 << 0.0;
}

void TestNumbers::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(numfmt::roundHalfEven2(value), rounded);
    QVERIFY(!std::signbit(numfmt::roundHalfEven2(-0.001)));
}

void TestNumbers::hexToDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decimal");
    QTest::newRow("pitch centre") << "800\n"
                                  << "2048";
    QTest::newRow("lower case") << "7ff\n"
                                << "2047";
    QTest::newRow("temperature") << "09E\n"
                                 << "158";
    QTest::newRow("line feeds anywhere") << "8\n0\n0"
                                         << "2048";
    QTest::newRow("carriage return ends digits") << "80\r0"
                                                 << "128";
    QTest::newRow("blank ends digits") << "8 00"
                                       << "8";
    QTest::newRow("no digits") << "R\n"
                               << "0";
    QTest::newRow("empty") << ""
                           << "0";
    QTest::newRow("8000 reads unsigned") << "8000"
                                         << "32768";
    QTest::newRow("FFFF reads unsigned") << "FFFF"
                                         << "65535";
    QTest::newRow("two replies run together") << "800\n7FF\n"
                                              << "8390655";
    QTest::newRow("16 digits") << "FFFFFFFFFFFFFFFF"
                               << "18446744073709551615";
    QTest::newRow("too long saturates") << "123456789ABCDEF0123"
                                        << "18446744073709551615";
    QTest::newRow("far too long saturates") << QString(5000, QLatin1Char('F')) << "18446744073709551615";
}

void TestNumbers::hexToDecimal()
{
    QFETCH(QString, text);
    QFETCH(QString, decimal);
    QString t = text;
    HexToDecimal(t);
    QCOMPARE(t, decimal);
}

void TestNumbers::presetsAtReferenceCounts_data()
{
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("x3");
    QTest::addColumn<double>("at1000");
    QTest::addColumn<double>("atMinus2048");
    QTest::newRow("Z1") << 0.0129 << -3E-10 << 12.6 << -23.84;
    QTest::newRow("Z2") << 0.03125 << -2E-9 << 29.25 << -46.82;
    QTest::newRow("Z3") << 0.0468 << -4E-9 << 42.8 << -61.49;
    QTest::newRow("raw") << 1.0 << 0.0 << 1000.0 << -2048.0;
}

void TestNumbers::presetsAtReferenceCounts()
{
    QFETCH(double, x1);
    QFETCH(double, x3);
    QFETCH(double, at1000);
    QFETCH(double, atMinus2048);
    QCOMPARE(conversion::polynomial(1000, x1, 0, x3), at1000);
    QCOMPARE(conversion::polynomial(-2048, x1, 0, x3), atMinus2048);
}

void TestNumbers::thickness_data()
{
    using U = conversion::ThicknessUnit;
    QTest::addColumn<double>("centred");
    QTest::addColumn<double>("zero");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("text");
    QTest::newRow("at zero mm") << 130.0 << 130.0 << int(U::Millimetres) << "0.00";
    QTest::newRow("one degree mm") << 251.0 << 130.0 << int(U::Millimetres) << "0.79";
    QTest::newRow("one degree in") << 251.0 << 130.0 << int(U::Inches) << "0.0318";
    QTest::newRow("one degree deg") << 251.0 << 130.0 << int(U::Degrees) << "1.00";
    QTest::newRow("minus two degrees mm") << -112.0 << 130.0 << int(U::Millimetres) << "-1.57";
    QTest::newRow("minus two degrees in") << -112.0 << 130.0 << int(U::Inches) << "-0.0636";
    QTest::newRow("minus two degrees deg") << -112.0 << 130.0 << int(U::Degrees) << "-2.00";
    QTest::newRow("zeroed on reading") << 251.0 << 251.0 << int(U::Inches) << "0.0000";
}

void TestNumbers::thickness()
{
    QFETCH(double, centred);
    QFETCH(double, zero);
    QFETCH(int, unit);
    QFETCH(QString, text);
    QCOMPARE(conversion::thicknessText(centred, zero, conversion::ThicknessUnit(unit)), text);
    QCOMPARE(conversion::temperature(158), 25.0);
}

QTEST_APPLESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
