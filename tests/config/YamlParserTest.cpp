#include "YamlParser.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

enum class Level { Low, High };
const EnumeratedValue<Level> levelValues[] = { { Level::Low, "Low" }, { Level::High, "High" } };

// Loads a text and hands its root mapping's first key and value to a check.
class TestParser : public YamlParser {
public:
    using YamlParser::YamlParser;
    using Reader = std::function<void(TestParser&, yaml_document_t&, yaml_node_t* root)>;

    Result<int, KafkaError> run(const Reader& reader)
    {
        return load<int>([&](yaml_document_t& document, yaml_node_t* root) {
            reader(*this, document, root);
            return ParseResult<int>::present(1);
        }, "Failed");
    }
};

yaml_node_t* keyAt(yaml_document_t& document, yaml_node_t* mapping, int index = 0)
{
    return yaml_document_get_node(&document, mapping->data.mapping.pairs.start[index].key);
}

yaml_node_t* valueAt(yaml_document_t& document, yaml_node_t* mapping, int index = 0)
{
    return yaml_document_get_node(&document, mapping->data.mapping.pairs.start[index].value);
}

QStringList messages(const QList<KafkaError>& errors)
{
    QStringList list;
    for (const KafkaError& error : errors)
        list.append(QString("%1 %2").arg(QString::number(static_cast<int>(error.code)), error.message));
    return list;
}

} // namespace

class YamlParserTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeFile(const QByteArray& text)
    {
        const QString path = m_dir.filePath("file.yml");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
            qFatal("cannot write test file");
        return path;
    }

    // Runs `reader` on the text and returns the recorded errors as "code message".
    QStringList recorded(const QByteArray& text, const TestParser::Reader& reader)
    {
        TestParser parser(writeFile(text));
        const Result<int, KafkaError> result = parser.run(reader);
        if (result.isError())
            return { QString("load failed: %1").arg(result.error().message) };
        return messages(parser.errors);
    }

private slots:
    void loadFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << QByteArray() << 47 << "Failed to open file for reading: No such file or directory";
        QTest::newRow("empty") << QByteArray("") << 46 << "Empty file";
        QTest::newRow("comment only") << QByteArray("# nothing here\n") << 46 << "Empty file";
        QTest::newRow("scanner") << QByteArray("a: 'open\n") << 179
                                 << "Error at line 2: found unexpected end of stream (while scanning a quoted scalar at line 1)";
        QTest::newRow("parser") << QByteArray("a: b\n- c\n") << 180
                                << "Error at line 2: did not find expected key (while parsing a block mapping at line 1)";
    }

    void loadFailures()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QFETCH(QString, message);
        TestParser parser(text.isNull() ? m_dir.filePath("absent.yml") : writeFile(text));
        const Result<int, KafkaError> result = parser.run([](TestParser&, yaml_document_t&, yaml_node_t*) { });
        QVERIFY(result.isError());
        QCOMPARE(static_cast<int>(result.error().code), code);
        QCOMPARE(result.error().message, message);
        QVERIFY(parser.errors.isEmpty());
    }

    void onlyTheFirstDocumentIsRead()
    {
        const QStringList errors = recorded("a: 1\n---\nb: [broken\n", [](TestParser& parser, yaml_document_t& document, yaml_node_t* root) {
            QCOMPARE(root->data.mapping.pairs.top - root->data.mapping.pairs.start, 1);
            QVERIFY(parser.isScalarEqualTo(keyAt(document, root), "a"));
        });
        QCOMPARE(errors, QStringList());
    }

    void kindErrors_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("keyAsParent");
        QTest::addColumn<QString>("message");
        QTest::newRow("scalar for sequence") << QByteArray("\n\n\nbrokers: localhost:9092\n") << int(YAML_SEQUENCE_NODE) << true
                                             << "46 Expected a sequence node at line 4 in 'brokers', got a scalar (localhost:9092)";
        QTest::newRow("sequence for scalar") << QByteArray("cluster:\n  - a\n") << int(YAML_SCALAR_NODE) << true
                                             << "46 Expected a scalar node at line 2 in 'cluster', got a sequence";
        QTest::newRow("no parent") << QByteArray("k: {a: b}\n") << int(YAML_SCALAR_NODE) << false
                                   << "46 Expected a scalar node at line 1, got a mapping";
        QTest::newRow("matching kind") << QByteArray("k: [a]\n") << int(YAML_SEQUENCE_NODE) << true << QString();
    }

    void kindErrors()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        QFETCH(bool, keyAsParent);
        QFETCH(QString, message);
        const QStringList errors = recorded(text, [&](TestParser& parser, yaml_document_t& document, yaml_node_t* root) {
            const bool matches = parser.checkNodeType(valueAt(document, root), yaml_node_type_t(expected), keyAsParent ? keyAt(document, root) : nullptr);
            QCOMPARE(matches, message.isEmpty());
        });
        QCOMPARE(errors, message.isEmpty() ? QStringList() : QStringList { message });
    }

    void enumerations_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message");
        const int present = int(ParseResult<Level>::State::Present);
        const int invalid = int(ParseResult<Level>::State::Invalid);
        QTest::newRow("lower") << QByteArray("level: high") << present << QString();
        QTest::newRow("upper") << QByteArray("level: HIGH") << present << QString();
        QTest::newRow("exact") << QByteArray("level: High") << present << QString();
        QTest::newRow("leading blank") << QByteArray("\nlevel: ' High'") << invalid
                                       << "51 Unknown value ' High' found at line 2 in 'level'. The allowed values are: Low, High";
        QTest::newRow("not a scalar") << QByteArray("level: [High]") << invalid
                                      << "46 Expected a scalar node at line 1 in 'level', got a sequence";
    }

    void enumerations()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, state);
        QFETCH(QString, message);
        const QStringList errors = recorded(text, [&](TestParser& parser, yaml_document_t& document, yaml_node_t* root) {
            const ParseResult<Level> level = parser.parseEnumeratedValue(valueAt(document, root), keyAt(document, root), levelValues, 2);
            QCOMPARE(int(level.state), state);
            if (level.isPresent())
                QCOMPARE(level.value, Level::High);
        });
        QCOMPARE(errors, message.isEmpty() ? QStringList() : QStringList { message });
    }

    void messageBuilders()
    {
        const QStringList errors = recorded("top:\n  key: 1\nlist:\n  - a\n  - b\n",
            [](TestParser& parser, yaml_document_t& document, yaml_node_t* root) {
                yaml_node_t* top = keyAt(document, root, 0);
                yaml_node_t* list = valueAt(document, root, 1);
                yaml_node_t* inner = keyAt(document, valueAt(document, root, 0));
                parser.registerMissingRequiredKey("brokers", top);
                parser.registerMissingRequiredKey("topic-pattern", list);
                parser.registerMissingRequiredKey("cluster", root);
                parser.registerMissingRequiredKey("client-id", nullptr);
                parser.registerInvalidValue("Bad value", top);
                parser.registerInvalidValue("Bad item", list);
                parser.registerUnexpectedNode(inner, top);
                parser.registerUnexpectedNode(top, nullptr);
                parser.registerUnexpectedNode(list, nullptr);
            });
        QCOMPARE(errors, (QStringList {
            "51 Missing required key 'brokers' in 'top' at line 1",
            "51 Missing required key 'topic-pattern' in array item at line 4",
            "51 Missing required key 'cluster'",
            "51 Missing required key 'client-id'",
            "54 Bad value in 'top' at line 1",
            "54 Bad item in array item at line 4",
            "51 Unexpected node at line 2: 'key' in 'top' (at line 1)",
            "51 Unexpected node at line 1: 'top' ",
            "51 Unexpected node at line 4: '' ",
        }));
    }

    void scalarsAndPatterns()
    {
        const QStringList errors = recorded("text: \"gr\\u00FC\\u00DFe\\0tail\"\npattern: '(a'\ngood: '^t.*'\nlist: [a, {b: c}, [d], e]\n",
            [](TestParser& parser, yaml_document_t& document, yaml_node_t* root) {
                const ParseResult<QString> text = parser.parseString(valueAt(document, root, 0), keyAt(document, root, 0));
                QVERIFY(text.isPresent());
                QCOMPARE(text.value, QString::fromUtf8("grüße"));
                QVERIFY(!parser.isScalarEqualTo(keyAt(document, root, 0), "Text"));
                QVERIFY(parser.isScalarEqualTo(keyAt(document, root, 0), "text"));
                QVERIFY(parser.parseRegularExpression(valueAt(document, root, 1), keyAt(document, root, 1)).isInvalid());
                const ParseResult<QRegularExpression> good = parser.parseRegularExpression(valueAt(document, root, 2), keyAt(document, root, 2));
                QVERIFY(good.isPresent());
                QCOMPARE(good.value.pattern(), QString("^t.*"));
                QVERIFY(parser.parseStringList(document, valueAt(document, root, 3), keyAt(document, root, 3)).isInvalid());
            });
        QCOMPARE(errors, (QStringList {
            QString("54 Invalid regular expression '(a': %1 in 'pattern' at line 2").arg(QRegularExpression("(a").errorString()),
            "46 Expected a scalar node at line 4, got a mapping",
            "46 Expected a scalar node at line 4, got a sequence",
        }));
    }
};

QTEST_GUILESS_MAIN(YamlParserTest)
#include "YamlParserTest.moc"
