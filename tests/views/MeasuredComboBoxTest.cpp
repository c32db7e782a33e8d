#include "MeasuredComboBox.h"
#include "PinnedLocale.h"

#include <QApplication>
#include <QTest>

namespace {

// A combo box of the consumer groups tab's kind holding the texts.
template <typename Box>
void fill(Box& box, const QStringList& texts)
{
    box.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    box.setMinimumContentsLength(10);
    box.setPlaceholderText(QStringLiteral("..."));
    box.addItems(texts);
}

} // namespace

class MeasuredComboBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { pinTimeZoneAndLocale(); }

    // Told the widest text as measured away from it, the box asks for the size that QComboBox
    // finds by measuring every item; once its items change, it measures them again.
    void sizeAsQComboBoxMeasures_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("added");
        QTest::newRow("shorter than the least contents") << QStringList { "a", "bb" } << QString("c");
        QTest::newRow("narrow letters, then wide ones")
            << QStringList { QString(40, 'i'), "group" } << QString(30, QLatin1Char('W'));
        QTest::newRow("a long name among short ones")
            << QStringList { "g1", QStringLiteral("orders-consumers-of-the-eu-west-region-%1").arg(7), "g2" }
            << QString("g3");
    }

    void sizeAsQComboBoxMeasures()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, added);
        QComboBox plain;
        MeasuredComboBox measured;
        fill(plain, texts);
        fill(measured, texts);
        measured.setWidestItemText(MeasuredComboBox::widestText(texts, QFontMetrics(measured.font())));
        QCOMPARE(measured.sizeHint(), plain.sizeHint());

        plain.addItem(added);
        measured.addItem(added);
        QCOMPARE(measured.sizeHint(), plain.sizeHint());
    }
};

QTEST_MAIN(MeasuredComboBoxTest)
#include "MeasuredComboBoxTest.moc"
