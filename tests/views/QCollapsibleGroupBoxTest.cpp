#include "PinnedLocale.h"
#include "QCollapsibleGroupBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A window with a titled box that holds one line edit.
struct Fixture {
    QWidget window;
    QCollapsibleGroupBox* box = new QCollapsibleGroupBox(&window);
    QLineEdit* edit = new QLineEdit(box);

    Fixture()
    {
        (new QVBoxLayout(&window))->addWidget(box, 0, Qt::AlignTop);
        box->setTitleWidget(new QLabel(QStringLiteral("Filter")));
        box->setAnimationDuration(0);
        (new QVBoxLayout(box))->addWidget(edit);
        window.resize(300, 200);
    }
};

} // namespace

class QCollapsibleGroupBoxTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    void toggledByTheUser_data()
    {
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<int>("key"); // 0: a click at `point`
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("toggles");
        QTest::newRow("click on the header") << false << 0 << QPoint(40, 5) << true;
        QTest::newRow("click on the content") << true << 0 << QPoint(40, 40) << false;
        QTest::newRow("Space") << false << int(Qt::Key_Space) << QPoint() << true;
        QTest::newRow("Return") << true << int(Qt::Key_Return) << QPoint() << true;
        QTest::newRow("another key") << false << int(Qt::Key_A) << QPoint() << false;
    }

    void toggledByTheUser()
    {
        QFETCH(bool, expanded);
        QFETCH(int, key);
        QFETCH(QPoint, point);
        QFETCH(bool, toggles);
        Fixture fixture;
        fixture.box->setExpanded(expanded);
        fixture.box->setAnimationDuration(-1); // the style's duration
        fixture.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&fixture.window));
        fixture.box->setFocus();
        QSignalSpy changed(fixture.box, &QCollapsibleGroupBox::expandedChanged);
        if (key == 0)
            QTest::mouseClick(fixture.box, Qt::LeftButton, {}, point);
        else
            QTest::keyClick(fixture.box, Qt::Key(key));
        QCOMPARE(fixture.box->isExpanded(), expanded != toggles);
        QCOMPARE(changed.count(), toggles ? 1 : 0);
        QTRY_COMPARE(fixture.box->rect().contains(fixture.edit->geometry()), expanded != toggles);
    }

    // Collapsed, the content leaves the focus chain; the policy is recorded
    // later, by when the child may be gone or elsewhere.
    void focusOfTheContent_data()
    {
        QTest::addColumn<QString>("before"); // steps before the recording runs
        QTest::newRow("nothing") << "";
        QTest::newRow("expanded and collapsed") << "expand collapse";
        QTest::newRow("child deleted") << "delete";
        QTest::newRow("child moved elsewhere") << "move";
    }

    void focusOfTheContent()
    {
        QFETCH(QString, before);
        Fixture fixture;
        QWidget elsewhere;
        QPointer<QLineEdit> added = new QLineEdit(fixture.box);
        for (const QString& step : before.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("delete"))
                delete added;
            else if (step == QLatin1String("move"))
                added->setParent(&elsewhere);
            else
                fixture.box->setExpanded(step == QLatin1String("expand"));
        }
        QCoreApplication::processEvents();
        for (int toggles = 0; added != nullptr && toggles < 3; ++toggles) {
            const bool reachable = fixture.box->isExpanded() || added->parentWidget() == &elsewhere;
            QCOMPARE(added->focusPolicy(), reachable ? Qt::StrongFocus : Qt::NoFocus);
            fixture.box->toggle();
        }
    }
};

QTEST_MAIN(QCollapsibleGroupBoxTest)

#include "QCollapsibleGroupBoxTest.moc"
