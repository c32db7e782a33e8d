// Highlighting a large JSON value (pretty printed, two spaces per level) in a
// QPlainTextEdit on the offscreen platform, in slices from the event loop
// ("sliced", the highlighter of the program), beside two peers: the same text
// in an edit without highlighting ("plain") and highlighted with the same
// definition and theme by QSyntaxHighlighter's pass over every block of a
// change ("whole"). Each step runs from the event loop, watched by a zero
// timer: "call" is the step itself, "done" the time until the last line has
// its final formats, "worst stall" the longest gap between two ticks of the
// timer (the longest the window could not answer).
//
//   bench_highlighter [kilobytes] [rounds]
#include "BenchSupport.h"
#include "Repository.h"
#include "SyntaxHighlighter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <limits>
#include <utility>

using namespace Bench;
using namespace Highlighting;

namespace {

// A pretty-printed JSON array of orders of about `bytes` characters.
QString prettyJson(int bytes, int seed)
{
    QString json = QStringLiteral("[\n");
    for (int i = 0; json.size() < bytes; ++i) {
        if (i > 0) {
            json += QStringLiteral(",\n");
        }
        const QString id = QString::number(seed + i);
        json += QStringLiteral("  {\n    \"id\": ") + id + QStringLiteral(",\n    \"customer\": \"customer-") + id
            + QStringLiteral("\",\n    \"amount\": ") + QString::number((seed + i) % 1000 / 8.0)
            + QStringLiteral(",\n    \"paid\": ") + (i % 2 ? QStringLiteral("true") : QStringLiteral("false"))
            + QStringLiteral(",\n    \"note\": null,\n    \"comment\": \"said \\\"hello\\\"\\n\",\n    \"items\": [\n"
                             "      {\n        \"sku\": \"A-")
            + QString::number(i % 97) + QStringLiteral("\",\n        \"qty\": 2\n      }\n    ]\n  }");
    }
    return json + QStringLiteral("\n]");
}

// The peer: every block of a change highlighted at once.
class WholeDocumentHighlighter : public QSyntaxHighlighter {
public:
    WholeDocumentHighlighter(QTextDocument* document, Theme theme)
        : QSyntaxHighlighter(document)
        , m_theme(std::move(theme))
    {
    }

    void setDefinition(const Definition& definition)
    {
        m_definition = definition;
        rehighlight();
    }

protected:
    void highlightBlock(const QString& text) override
    {
        const auto format = [this](int start, int length, TextStyle style) {
            setFormat(start, length, m_theme.format(style));
        };
        setCurrentBlockState(m_definition.highlightLine(text, previousBlockState(), format));
    }

private:
    Definition m_definition;
    Theme m_theme;
};

bool lastLineFormatted(const QPlainTextEdit& edit)
{
    return !edit.document()->lastBlock().layout()->formats().isEmpty();
}

struct Watch {
    qint64 callNs = 0;
    qint64 doneNs = 0;
    qint64 worstStallNs = 0;
};

// Runs `step` from the event loop and turns the loop until `done` holds (or
// a minute has passed).
Watch watch(const std::function<void()>& step, const std::function<bool()>& done)
{
    Watch result;
    QElapsedTimer clock;
    QEventLoop loop;
    bool stepped = false;
    qint64 lastTick = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.worstStallNs = std::max(result.worstStallNs, now - lastTick);
        lastTick = now;
        if (stepped && (done() || now > 60'000'000'000)) {
            result.doneNs = now;
            loop.quit();
        }
    });
    QTimer::singleShot(0, &loop, [&] {
        QElapsedTimer call;
        call.start();
        step();
        result.callNs = call.nsecsElapsed();
        stepped = true;
    });
    clock.start();
    probe.start();
    loop.exec();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int kilobytes = argument(argc, argv, 1, 1024);
    const int rounds = argument(argc, argv, 2, 3);

    const QString first = prettyJson(kilobytes * 1024, 0);
    const QString second = prettyJson(kilobytes * 1024, 1'000'000);
    const Repository repository;
    const Definition json = repository.definitionForName(QStringLiteral("JSON"));
    const Definition none = repository.definitionForName(QStringLiteral("None"));
    const Theme theme = repository.theme(QStringLiteral("ayu Mirage"));

    QPlainTextEdit plain;
    QPlainTextEdit whole;
    QPlainTextEdit sliced;
    for (QPlainTextEdit* edit : { &plain, &whole, &sliced }) {
        edit->setReadOnly(true);
        edit->resize(800, 600);
        edit->show();
    }
    auto* wholeHighlighter = new WholeDocumentHighlighter(whole.document(), theme);
    auto* slicedHighlighter = new SyntaxHighlighter(sliced.document());
    slicedHighlighter->setTheme(theme);
    QCoreApplication::processEvents();

    struct Variant {
        const char* name;
        QPlainTextEdit* edit;
        std::function<void(const Definition&)> setDefinition;
    };
    const Variant variants[] = {
        { "plain", &plain, {} },
        { "whole", &whole, [&](const Definition& d) { wholeHighlighter->setDefinition(d); } },
        { "sliced", &sliced, [&](const Definition& d) { slicedHighlighter->setDefinition(d); } },
    };
    struct Step {
        const char* name;
        std::function<void(const Variant&)> step;
        bool formatted; // the last line at the end
        bool switchesDefinition;
    };
    // A cycle: each round runs all of them in order.
    const Step steps[] = {
        { "set text", [&](const Variant& v) { v.edit->setPlainText(first); }, true, false },
        { "replace text", [&](const Variant& v) { v.edit->setPlainText(second); }, true, false },
        { "definition to None", [&](const Variant& v) { v.setDefinition(none); }, false, true },
        { "definition to JSON", [&](const Variant& v) { v.setDefinition(json); }, true, true },
        { "clear", [&](const Variant& v) { v.edit->clear(); }, false, false },
    };

    std::printf("%d characters, %d lines of pretty-printed JSON; best times and worst stall of %d rounds, in ms "
                "(slices of %lld ms)\n",
        int(first.size()), int(first.count(u'\n')) + 1, rounds, SyntaxHighlighter::SliceBudgetMs);
    std::printf("%-8s %-20s %10s %10s %12s\n", "edit", "step", "call", "done", "worst stall");
    for (const Variant& v : variants) {
        if (v.setDefinition) {
            v.setDefinition(json);
        }
        std::array<Watch, std::size(steps)> results;
        for (Watch& r : results) {
            r.callNs = r.doneNs = std::numeric_limits<qint64>::max();
        }
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < std::size(steps); ++i) {
                const Step& s = steps[i];
                if (s.switchesDefinition && !v.setDefinition) {
                    continue;
                }
                const bool formatted = v.setDefinition && s.formatted;
                const Watch w = watch([&] { s.step(v); }, [&] { return lastLineFormatted(*v.edit) == formatted; });
                results[i].callNs = std::min(results[i].callNs, w.callNs);
                results[i].doneNs = std::min(results[i].doneNs, w.doneNs);
                results[i].worstStallNs = std::max(results[i].worstStallNs, w.worstStallNs);
            }
        }
        for (std::size_t i = 0; i < std::size(steps); ++i) {
            if (results[i].worstStallNs > 0) {
                std::printf("%-8s %-20s %10.1f %10.1f %12.1f\n", v.name, steps[i].name, results[i].callNs / 1e6,
                    results[i].doneNs / 1e6, results[i].worstStallNs / 1e6);
            }
        }
    }
    return 0;
}
