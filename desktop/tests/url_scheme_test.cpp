#include "platform/linux/xdg_url_scheme_registry.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString execOf(const QString &entry)
{
    for (const QString &line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            return line.mid(5);
    }
    return {};
}

} // namespace

class UrlSchemeTest : public QObject
{
    Q_OBJECT

private slots:
    void desktopEntryOpensLinksWithThisProgram()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        XdgUrlSchemeRegistry registry(dir.filePath("apps"), dir.filePath("config"));
        QVERIFY(registry.registerScheme({"corvana", "URL:Corvana Protocol", "/opt/corvana/corvana"}));

        const QString entry = read(dir.filePath("apps/corvana-url-handler.desktop"));
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY(entry.contains("\nComment=URL:Corvana Protocol\n"));
        QVERIFY(entry.contains("\nMimeType=x-scheme-handler/corvana;\n"));
        QCOMPARE(execOf(entry), QString("\"/opt/corvana/corvana\" %u"));
        QCOMPARE(read(dir.filePath("config/mimeapps.list")),
                 QString("[Default Applications]\n"
                         "x-scheme-handler/corvana=corvana-url-handler.desktop\n"));

        // Rewritten at every start, so a moved installation is followed.
        QVERIFY(registry.registerScheme({"corvana", "URL:Corvana Protocol", "/home/u/new/corvana"}));
        QCOMPARE(execOf(read(dir.filePath("apps/corvana-url-handler.desktop"))),
                 QString("\"/home/u/new/corvana\" %u"));

        // A path that would break the entry's line structure is refused.
        QVERIFY(!registry.registerScheme({"corvana", "x", "/opt/a\nExec=evil"}));
        QCOMPARE(execOf(read(dir.filePath("apps/corvana-url-handler.desktop"))),
                 QString("\"/home/u/new/corvana\" %u"));
    }

    void execQuotingSurvivesAwkwardPaths()
    {
        // Quote rule first (\" \` \$ \\), then the file's own backslash doubling.
        QCOMPARE(XdgUrlSchemeRegistry::execLine("/a b/c"), QString("\"/a b/c\" %u"));
        QCOMPARE(XdgUrlSchemeRegistry::execLine("/x\"y"), QString("\"/x\\\\\"y\" %u"));
        QCOMPARE(XdgUrlSchemeRegistry::execLine("/x$y`z"), QString("\"/x\\\\$y\\\\`z\" %u"));
        QCOMPARE(XdgUrlSchemeRegistry::execLine("/x\\y"), QString("\"/x\\\\\\\\y\" %u"));
        QCOMPARE(XdgUrlSchemeRegistry::execLine("/50%/c"), QString("\"/50%%/c\" %u"));
    }

    void defaultHandlerKeepsTheRestOfTheList()
    {
        const QString mime = "x-scheme-handler/corvana";
        const QString file = "corvana-url-handler.desktop";
        const QString before = "[Added Associations]\n"
                               "text/plain=editor.desktop;\n"
                               "\n"
                               "[Default Applications]\n"
                               "text/html=browser.desktop\n"
                               "x-scheme-handler/corvana=old.desktop\n"
                               "x-scheme-handler/corvana = older.desktop\n"
                               "\n"
                               "[Removed Associations]\n"
                               "image/png=viewer.desktop;\n";
        const QString after = XdgUrlSchemeRegistry::withDefaultHandler(before, mime, file);
        QCOMPARE(after, QString("[Added Associations]\n"
                                "text/plain=editor.desktop;\n"
                                "\n"
                                "[Default Applications]\n"
                                "text/html=browser.desktop\n"
                                "x-scheme-handler/corvana=corvana-url-handler.desktop\n"
                                "\n"
                                "[Removed Associations]\n"
                                "image/png=viewer.desktop;\n"));
        QCOMPARE(XdgUrlSchemeRegistry::withDefaultHandler(after, mime, file), after);

        const QString noEntry = XdgUrlSchemeRegistry::withDefaultHandler(
            "[Default Applications]\ntext/html=b.desktop\n\n[Other]\nk=v\n", mime, file);
        QCOMPARE(noEntry, QString("[Default Applications]\ntext/html=b.desktop\n"
                                  "x-scheme-handler/corvana=corvana-url-handler.desktop\n"
                                  "\n[Other]\nk=v\n"));

        const QString noGroup =
            XdgUrlSchemeRegistry::withDefaultHandler("[Added Associations]\na=b;", mime, file);
        QCOMPARE(noGroup, QString("[Added Associations]\na=b;\n\n[Default Applications]\n"
                                  "x-scheme-handler/corvana=corvana-url-handler.desktop\n"));

        // Through the real files: the existing list is kept as it was.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.filePath("mimeapps.list"), before.toUtf8());
        XdgUrlSchemeRegistry registry(dir.filePath("apps"), dir.path());
        QVERIFY(registry.registerScheme({"corvana", "URL:Corvana Protocol", "/c"}));
        QCOMPARE(read(dir.filePath("mimeapps.list")), after);
    }
};

QTEST_GUILESS_MAIN(UrlSchemeTest)
#include "url_scheme_test.moc"
