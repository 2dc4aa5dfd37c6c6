// The German translation against the sources: lupdate runs over the program's sources into a
// copy of the committed .ts, so a text added or changed since the last refresh shows up there
// unfinished. Refresh with: cmake --build <build> --target update_translations
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    bool finished = false;

    QString where() const { return context + QStringLiteral(": \"") + source.left(60) + u'"'; }
};

QList<Message> readTs(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<Message> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement()) {
        if (xml.name() == u"TS")
            continue;
        if (xml.name() != u"context") {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == u"name") {
                context = xml.readElementText();
            } else if (xml.name() == u"message") {
                Message m;
                m.context = context;
                while (xml.readNextStartElement()) {
                    if (xml.name() == u"source") {
                        m.source = xml.readElementText();
                    } else if (xml.name() == u"translation") {
                        const QString type = xml.attributes().value(QLatin1String("type")).toString();
                        m.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                        m.finished = type.isEmpty() && !m.translation.isEmpty();
                    } else {
                        xml.skipCurrentElement();
                    }
                }
                messages << m;
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

// What a translation must carry over unchanged: arguments, file patterns, pictures, links.
QSet<QString> references(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(%\d+|\*\.[\w*]+|src="[^"]*"|href="[^"]*")"));
    QSet<QString> found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    return found;
}

// A shortcut must stay in the portable form: "Strg+O" would not parse without Qt's own
// German file, and the menus show the local names anyway.
bool isShortcut(const QString &text)
{
    static const QRegularExpression shortcut(QStringLiteral(R"(^(Ctrl|Shift|Alt|Meta)\+\S+$)"));
    return shortcut.match(text).hasMatch();
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextTranslated();
    void translationsKeepReferences();
    void compiledBesideProgram_data();
    void compiledBesideProgram();

private:
    QTemporaryDir scratch;
    QList<Message> committed;
    QList<Message> current;
};

void TestTranslations::initTestCase()
{
    QVERIFY(scratch.isValid());
    QString error;
    committed = readTs(QStringLiteral(PELTRIX_TS_FILE), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QString copy = scratch.filePath(QStringLiteral("peltrix_de.ts"));
    QVERIFY(QFile::copy(QStringLiteral(PELTRIX_TS_FILE), copy));
    QProcess lupdate;
    QStringList arguments{QStringLiteral("@" PELTRIX_LUPDATE_LIST)};
    arguments << QStringLiteral(PELTRIX_LUPDATE_OPTIONS).split(u' ') << QStringLiteral("-ts") << copy;
    lupdate.start(QStringLiteral(PELTRIX_LUPDATE), arguments);
    QVERIFY2(lupdate.waitForFinished(120000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAllStandardError().constData());
    current = readTs(copy, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!current.isEmpty());
}

void TestTranslations::everyTextTranslated()
{
    QStringList missing;
    for (const Message &m : std::as_const(current)) {
        if (!m.finished)
            missing << m.where();
    }
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("no finished German translation for:\n  ")
                        + missing.join(QStringLiteral("\n  "))));
}

void TestTranslations::translationsKeepReferences()
{
    QStringList broken;
    for (const Message &m : std::as_const(committed)) {
        if (!m.finished)
            continue;
        if (references(m.source) != references(m.translation)
            || (isShortcut(m.source) && m.translation != m.source))
            broken << m.where();
    }
    QVERIFY2(broken.isEmpty(),
             qPrintable(QStringLiteral("translation changes an argument, file pattern, picture, "
                                       "link or shortcut:\n  ")
                        + broken.join(QStringLiteral("\n  "))));
}

void TestTranslations::compiledBesideProgram_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("german");
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << true;
    QTest::newRow("de_AT") << QLocale(QLocale::German, QLocale::Austria) << true;
    QTest::newRow("fr_FR") << QLocale(QLocale::French, QLocale::France) << false;
}

// The program finds its translation by locale in its own folder; every text of the committed
// file must come out of the compiled one, so a stale build shows here.
void TestTranslations::compiledBesideProgram()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, german);
    QTranslator translator;
    const bool loaded = translator.load(locale, QStringLiteral("peltrix"), QStringLiteral("_"),
                                        QStringLiteral(PELTRIX_PROGRAM_FOLDER));
    QCOMPARE(loaded, german);
    if (!german)
        return;
    QStringList stale;
    for (const Message &m : std::as_const(committed)) {
        if (translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData())
            != m.translation)
            stale << m.where();
    }
    QVERIFY2(stale.isEmpty(), qPrintable(stale.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
