#include "QCollapsibleGroupBox.h"

#include <QChildEvent>
#include <QHash>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimeLine>

#include <algorithm>

namespace {

// The least size of a title: its minimum size hint's width (never more than
// its size hint's), its size hint's height.
QSize narrowestSize(const QWidget* title)
{
    const QSize hint = title->sizeHint();
    return QSize(std::min(title->minimumSizeHint().width(), hint.width()), hint.height());
}

} // namespace

class QCollapsibleGroupBoxPrivate {
public:
    QTimeLine* timeLine = nullptr;
    int animationDuration = -1;
    QPointer<QWidget> titleWidget;
    bool expanded = false;
    bool headerHovered = false;
    QSize headerSize {-1, -1};
    // The focus policy each direct child had when it was added; keyed by the
    // child as an object, since an entry is dropped when its child goes away.
    QHash<const QObject*, Qt::FocusPolicy> savedFocusPolicies;
};

QCollapsibleGroupBox::QCollapsibleGroupBox(QWidget* parent)
    : QWidget(parent)
    , d(std::make_unique<QCollapsibleGroupBoxPrivate>())
{
    d->timeLine = new QTimeLine(200, this);
    updateHeaderSize();
    connect(d->timeLine, &QTimeLine::valueChanged, this, &QCollapsibleGroupBox::onAnimationValueChanged);
    connect(d->timeLine, &QTimeLine::stateChanged, this, [this](QTimeLine::State state) {
        if (state == QTimeLine::NotRunning) {
            applyFocusPolicies();
        }
    });
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
}

QCollapsibleGroupBox::~QCollapsibleGroupBox()
{
    d->timeLine->disconnect(this);
    d->timeLine->stop();
}

QWidget* QCollapsibleGroupBox::titleWidget() const
{
    return d->titleWidget;
}

void QCollapsibleGroupBox::setTitleWidget(QWidget* widget)
{
    if (d->titleWidget != nullptr && d->titleWidget != widget) {
        d->titleWidget->deleteLater();
    }
    d->titleWidget = widget;
    if (widget != nullptr) {
        widget->setParent(this);
        widget->show();
        widget->move(style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this), 0);
        layoutTitle();
    }
    updateHeaderSize();
    update();
    updateGeometry();
    setAccessibleName(widget != nullptr ? widget->accessibleName() : QString());
    emit titleChanged();
}

bool QCollapsibleGroupBox::isExpanded() const
{
    return d->expanded;
}

void QCollapsibleGroupBox::setExpanded(bool expanded)
{
    if (expanded) {
        expand();
    } else {
        collapse();
    }
}

int QCollapsibleGroupBox::animationDuration() const
{
    return d->animationDuration;
}

void QCollapsibleGroupBox::setAnimationDuration(int milliseconds)
{
    d->animationDuration = milliseconds;
}

void QCollapsibleGroupBox::toggle()
{
    setExpanded(!d->expanded);
}

void QCollapsibleGroupBox::expand()
{
    if (d->expanded) {
        return;
    }
    d->expanded = true;
    emit expandedChanged();
    applyFocusPolicies();
    startAnimation();
}

void QCollapsibleGroupBox::collapse()
{
    if (!d->expanded) {
        return;
    }
    d->expanded = false;
    emit expandedChanged();
    applyFocusPolicies();
    startAnimation();
}

void QCollapsibleGroupBox::overrideFocusPolicyOf(QWidget* widget)
{
    d->savedFocusPolicies.insert(widget, widget->focusPolicy());
    if (!d->expanded) {
        widget->setFocusPolicy(Qt::NoFocus);
    }
}

QSize QCollapsibleGroupBox::sizeHint() const
{
    const int headerHeight = d->headerSize.height();
    if (layout() == nullptr) {
        return {0, headerHeight};
    }
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right() + layout()->sizeHint().width(),
        headerHeight + (d->expanded ? contentHeight() : 0)};
}

QSize QCollapsibleGroupBox::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int contentWidth = layout() != nullptr ? layout()->sizeHint().width() : 0;
    return {std::max(d->headerSize.width(), margins.left() + margins.right() + contentWidth), d->headerSize.height()};
}

bool QCollapsibleGroupBox::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) {
            // Read the policy once the child is fully constructed. By then it
            // may be gone, or belong elsewhere, or the focus rule may already
            // have recorded it (and changed its policy since).
            QPointer<QWidget> widget(static_cast<QWidget*>(child));
            QMetaObject::invokeMethod(
                this,
                [this, widget] {
                    if (widget != nullptr && widget->parentWidget() == this
                        && !d->savedFocusPolicies.contains(widget.data())) {
                        overrideFocusPolicyOf(widget);
                    }
                },
                Qt::QueuedConnection);
        }
        break;
    }
    case QEvent::ChildRemoved:
        d->savedFocusPolicies.remove(static_cast<QChildEvent*>(event)->child());
        break;
    case QEvent::FontChange:
    case QEvent::StyleChange:
        updateHeaderSize();
        break;
    case QEvent::LayoutRequest:
        if (d->timeLine->state() != QTimeLine::Running) {
            setFixedHeight(sizeHint().height());
        }
        // The layout has just placed the content in the visible height.
        layoutContent();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void QCollapsibleGroupBox::mousePressEvent(QMouseEvent* event)
{
    if (headerRect().contains(event->position().toPoint())) {
        toggle();
    }
    event->accept();
}

void QCollapsibleGroupBox::mouseMoveEvent(QMouseEvent* event)
{
    const bool hovered = headerRect().contains(event->position().toPoint());
    if (hovered != d->headerHovered) {
        d->headerHovered = hovered;
        update();
    }
}

void QCollapsibleGroupBox::keyPressEvent(QKeyEvent* event)
{
    if (!hasFocus()) {
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        toggle();
        event->accept();
        break;
    default:
        break;
    }
}

void QCollapsibleGroupBox::leaveEvent(QEvent*)
{
    d->headerHovered = false;
    update();
}

void QCollapsibleGroupBox::paintEvent(QPaintEvent*)
{
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = headerRect();
    if (d->headerHovered) {
        option.state |= QStyle::State_MouseOver;
    }
    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    QStyle::PrimitiveElement arrow = QStyle::PE_IndicatorArrowDown;
    if (!d->expanded) {
        arrow = layoutDirection() == Qt::RightToLeft ? QStyle::PE_IndicatorArrowLeft : QStyle::PE_IndicatorArrowRight;
    }
    QPainter painter(this);
    style()->drawPrimitive(arrow, &indicator, &painter, this);
}

void QCollapsibleGroupBox::resizeEvent(QResizeEvent*)
{
    layoutTitle();
    layoutContent();
}

// The title is as wide as its size hint where the box leaves room for it, and
// may be narrowed down to its minimum size hint (a label that elides its text
// fits any width), so that a long title does not hold the box wide.
void QCollapsibleGroupBox::layoutTitle()
{
    QWidget* title = d->titleWidget;
    if (title == nullptr) {
        return;
    }
    const QSize hint = title->sizeHint();
    title->setFixedSize(std::clamp(width() - title->x(), narrowestSize(title).width(), hint.width()), hint.height());
}

// The header is as wide as the narrowest title: that is the box's least width.
void QCollapsibleGroupBox::updateHeaderSize()
{
    const QSize titleSize = d->titleWidget != nullptr ? narrowestSize(d->titleWidget) : QSize(-1, -1);
    QStyleOptionButton option;
    option.initFrom(this);
    d->headerSize = style()->sizeFromContents(QStyle::CT_CheckBox, &option, titleSize, this);
    setContentsMargins(style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this), d->headerSize.height(), 0, 0);
}

int QCollapsibleGroupBox::contentHeight() const
{
    return layout() != nullptr ? layout()->sizeHint().height() : 0;
}

// The content keeps its full height whatever the box's height; what lies
// below the box is clipped.
void QCollapsibleGroupBox::layoutContent()
{
    if (layout() == nullptr) {
        return;
    }
    const QMargins margins = contentsMargins();
    layout()->setGeometry(
        QRect(margins.left(), margins.top(), width() - margins.left() - margins.right(), contentHeight()));
}

// Collapsed, no child takes focus; expanded, each gets back the policy it had
// when it was added. A child not recorded yet (its queued bookkeeping is still
// pending) is recorded here, before its policy is changed.
void QCollapsibleGroupBox::applyFocusPolicies()
{
    for (QObject* child : children()) {
        if (!child->isWidgetType()) {
            continue;
        }
        auto* widget = static_cast<QWidget*>(child);
        if (!d->savedFocusPolicies.contains(widget)) {
            d->savedFocusPolicies.insert(widget, widget->focusPolicy());
        }
        widget->setFocusPolicy(d->expanded ? d->savedFocusPolicies.value(widget) : Qt::NoFocus);
    }
}

void QCollapsibleGroupBox::startAnimation()
{
    int duration = d->animationDuration;
    if (duration < 0) {
        duration = std::max(1, style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, this));
    }
    const int headerHeight = d->headerSize.height();
    d->timeLine->stop();
    if (duration == 0) {
        setFixedHeight(headerHeight + (d->expanded ? contentHeight() : 0));
        return;
    }
    d->timeLine->setDirection(d->expanded ? QTimeLine::Forward : QTimeLine::Backward);
    d->timeLine->setDuration(duration);
    if (d->expanded) {
        setFixedHeight(headerHeight);
    }
    d->timeLine->start();
}

void QCollapsibleGroupBox::onAnimationValueChanged(qreal value)
{
    setFixedHeight(d->headerSize.height() + static_cast<int>(value * contentHeight()));
}

QRect QCollapsibleGroupBox::headerRect() const
{
    return {0, 0, width(), d->headerSize.height()};
}
