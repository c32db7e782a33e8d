#include "CompositeDeserializer.h"
#include "PinnedLocale.h"
#include "QHexView.h"
#include "RecordDetailView.h"
#include "Screenshot.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// Narrow and wide characters, digits and the blank.
const QString samples = QStringLiteral("il1.:|_ 0WMm@");
constexpr int RunLength = 10;

// A font setup that resolves "monospace" to the proportional "sans-serif",
// ahead of everything the system's own configuration says.
constexpr char proportionalMonospace[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <match target="pattern">
    <test name="family"><string>monospace</string></test>
    <edit name="family" mode="prepend" binding="strong"><string>sans-serif</string></edit>
  </match>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
</fontconfig>
)";

// The widths of runs of each sample character in a font.
QList<qreal> runWidths(const QFont& font)
{
    const QFontMetricsF metrics(font);
    QList<qreal> widths;
    for (const QChar character : samples)
        widths.append(metrics.horizontalAdvance(QString(RunLength, character)));
    return widths;
}

} // namespace

// On a machine whose "monospace" is a proportional family, the views that line
// text up in columns still show every character at the same width.
class FixedPitchFontTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QList<qreal> widths = runWidths(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        QVERIFY2(widths.count(widths.front()) < widths.size(), "the system's fixed font should be proportional here");
    }

    void equalWidths_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::newRow("record value") << false;
        QTest::newRow("hex view") << true;
    }

    void equalWidths()
    {
        QFETCH(bool, hex);
        RecordDetailView view;
        view.resize(520, 420);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QList<qreal> widths;
        if (hex) {
            view.showHexRecord(samples.toLatin1());
            widths = runWidths(view.findChild<QHexView*>()->font());
        } else {
            QStringList lines;
            for (const QChar character : samples)
                lines.append(QString(RunLength, character));
            const QByteArray value = lines.join('\n').toLatin1();
            view.showRecord(KafkaRecord {0, 0, QStringLiteral("orders"), 0, 0, QByteArray(), value, {}},
                CompositeDeserializer());
            // Where each line ends as laid out on the screen, one line per character.
            auto* text = view.findChild<QPlainTextEdit*>();
            for (QTextBlock block = text->document()->firstBlock(); block.isValid(); block = block.next())
                widths.append(block.layout()->lineAt(0).cursorToX(RunLength));
        }
        QVERIFY(saveScreenshot(view, QStringLiteral("fixed-pitch-") + QTest::currentDataTag()));
        QCOMPARE(widths.size(), samples.size());
        QCOMPARE(widths.count(widths.front()), widths.size());
    }
};

int main(int argc, char** argv)
{
    pinTimeZoneAndLocale();
    // Read by fontconfig when the application first asks it for fonts.
    const QTemporaryDir directory;
    QFile configuration(directory.filePath(QStringLiteral("fonts.conf")));
    if (!directory.isValid() || !configuration.open(QIODevice::WriteOnly)
        || configuration.write(proportionalMonospace) < 0 || !configuration.flush())
        return 1;
    qputenv("FONTCONFIG_FILE", configuration.fileName().toLocal8Bit());
    QApplication application(argc, argv);
    FixedPitchFontTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FixedPitchFontTest.moc"
