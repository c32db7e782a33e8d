#pragma once

// What a painter draws as text: a paint device that draws nothing and keeps
// every text item with the point where the painter placed it, read back as
// lines of text in the order they appear on screen.

#include <QList>
#include <QMap>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QTextItem>
#include <QWidget>

#include <algorithm>
#include <cmath>

class DrawnText : public QPaintDevice {
public:
    struct Item {
        QPointF position;
        QString text;
    };

    DrawnText() = default;
    ~DrawnText() override = default;
    DrawnText(const DrawnText&) = delete;
    DrawnText& operator=(const DrawnText&) = delete;

    QPaintEngine* paintEngine() const override { return &m_engine; }

    // The texts drawn on each baseline, from top to bottom, each line's items
    // joined from left to right.
    QStringList lines() const
    {
        QMap<int, QList<Item>> byBaseline;
        for (const Item& item : m_engine.items)
            byBaseline[int(std::lround(item.position.y()))].append(item);
        QStringList result;
        for (QList<Item>& line : byBaseline) {
            std::stable_sort(line.begin(), line.end(),
                [](const Item& left, const Item& right) { return left.position.x() < right.position.x(); });
            QString text;
            for (const Item& item : line)
                text += item.text;
            result.append(text);
        }
        return result;
    }

    // The lines of what `widget` draws of itself and its children.
    static QStringList linesOf(QWidget& widget)
    {
        DrawnText drawn;
        widget.render(&drawn);
        return drawn.lines();
    }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 4000;
        case PdmWidthMM:
        case PdmHeightMM:
            return 1058;
        case PdmNumColors:
            return 0x7fffffff;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 0;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        Engine()
            : QPaintEngine(QPaintEngine::AllFeatures)
        {
        }
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override { }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { }
        void drawPath(const QPainterPath&) override { }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { }
        void drawTextItem(const QPointF& position, const QTextItem& item) override
        {
            items.append({painter()->transform().map(position), item.text()});
        }
        Type type() const override { return QPaintEngine::User; }

        QList<Item> items;
    };

    mutable Engine m_engine;
};
