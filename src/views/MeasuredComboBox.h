#pragma once

#include <QComboBox>

// A combo box that adjusts to its contents without measuring every item when
// asked for its size: its owner, which filled it, tells it the width of its
// widest item text, measured away from the GUI thread (hundreds of thousands
// of texts take the best part of a second to measure). The size hint is then
// what QComboBox computes for items without icons; until told, or once the
// items, the font or the size policy change, it is QComboBox's own. GUI
// thread only.
class MeasuredComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit MeasuredComboBox(QWidget* parent = nullptr);

    // The widest advance of the texts, as `metrics` (this box's font) measure them; any thread.
    static int widestText(const QStringList& texts, const QFontMetrics& metrics);
    // The width of the widest item text as this box's font measures it, for
    // the items it holds now, none of them with an icon.
    void setWidestItemText(int width);

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void forgetWidestItemText();

    int widestItemText = -1;
};
