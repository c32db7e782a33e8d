#include "AdvancedFilterWidget.h"
#include "ConditionRowDriver.h"
#include "Settings.h"
#include "../config/TestHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

Q_DECLARE_METATYPE(QList<FilterCondition>)

namespace {

FilterCondition textCondition(Target target, Operator operation, const QString& text, const QString& header = {})
{
    const bool matching = operation == Operator::Matching;
    return { target, operation, header, matching ? QString() : text, 0, 0, 0, QRegularExpression(matching ? text : QString()) };
}

struct Editor {
    Settings settings;
    AdvancedFilterWidget widget { settings };
    QSignalSpy applied { &widget, &AdvancedFilterWidget::filterUpdated };

    bool open(const QList<FilterCondition>& conditions)
    {
        widget.setFilter({ 3, QStringLiteral("orders"), conditions });
        widget.setAnimationDuration(0);
        widget.expand();
        widget.show();
        widget.activateWindow();
        widget.setFocus();
        return QTest::qWaitForWindowActive(&widget);
    }
};

} // namespace

class AdvancedFilterWidgetTest : public QObject {
    Q_OBJECT

    TestHome m_home;

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }

    // Newest first, each once, at most 10; kept in the settings file.
    void recentLists_data()
    {
        QTest::addColumn<QStringList>("headersBefore");
        QTest::addColumn<QStringList>("expectedBefore");
        QTest::addColumn<QList<FilterCondition>>("conditions");
        QTest::addColumn<QStringList>("headers");
        QTest::addColumn<QStringList>("expected");

        QStringList ten;
        for (int i = 1; i <= 10; ++i)
            ten.append(QString("e%1").arg(i));
        QTest::newRow("two headers") << QStringList { "B", "C" } << QStringList()
                                     << QList<FilterCondition> { textCondition(Target::Header, Operator::EqualTo, "1", "A"),
                                            textCondition(Target::Header, Operator::Containing, "2", "B") }
                                     << QStringList { "B", "A", "C" } << QStringList { "2", "1" };
        QTest::newRow("eleventh dropped") << QStringList() << ten
                                          << QList<FilterCondition> { textCondition(Target::Key, Operator::Containing, "new") }
                                          << QStringList() << QStringList { "new" } + ten.mid(0, 9);
        QTest::newRow("pattern moves up") << QStringList() << QStringList { "x", "^a.*" }
                                          << QList<FilterCondition> { textCondition(Target::Body, Operator::Matching, "^a.*") }
                                          << QStringList() << QStringList { "^a.*", "x" };
    }

    void recentLists()
    {
        QFETCH(QStringList, headersBefore);
        QFETCH(QStringList, expectedBefore);
        QFETCH(QList<FilterCondition>, conditions);
        QFETCH(QStringList, headers);
        QFETCH(QStringList, expected);

        Editor editor;
        editor.settings = { headersBefore, expectedBefore };
        QVERIFY(editor.open(conditions));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(editor.applied.size(), 1);
        QCOMPARE(editor.settings.recentHeaders, headers);
        QCOMPARE(editor.settings.recentExpectedStrings, expected);
        QCOMPARE(Settings::parseFromFile().value(), editor.settings);
    }

    // Return in a row or on the editor applies and leaves it closed; Shift+Return does neither.
    void returnApplies_data()
    {
        QTest::addColumn<bool>("inRow");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("applies");
        QTest::newRow("return in row") << true << Qt::KeyboardModifiers() << true;
        QTest::newRow("return on editor") << false << Qt::KeyboardModifiers() << true;
        QTest::newRow("shift return") << true << Qt::KeyboardModifiers(Qt::ShiftModifier) << false;
    }

    void returnApplies()
    {
        QFETCH(bool, inRow);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, applies);

        Editor editor;
        QVERIFY(editor.open({ textCondition(Target::Key, Operator::Containing, "") }));
        QLineEdit* text = ConditionRowDriver(editor.widget.findChild<ConditionWidget*>()).textBox()->lineEdit();
        text->setFocus();
        QTest::keyClicks(text, QStringLiteral("order-7"));
        if (!inRow)
            editor.widget.setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, modifiers);
        QCOMPARE(editor.applied.size(), applies ? 1 : 0);
        QCOMPARE(editor.widget.isExpanded(), !applies);
        if (applies)
            QCOMPARE(editor.applied.first().first().value<Filter>().conditions.first().expectedString, "order-7");
    }
};

QTEST_MAIN(AdvancedFilterWidgetTest)
#include "AdvancedFilterWidgetTest.moc"
