#include "platform/linux/xdg_url_scheme_registry.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

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
        const QByteArray before = "[Added Associations]\n"
                               "text/plain=editor.desktop;\n"
                               "\n"
                               "[Default Applications]\n"
                               "text/html=browser.desktop\n"
                               "x-scheme-handler/corvana=old.desktop\n"
                               "x-scheme-handler/corvana = older.desktop\n"
                               "\n"
                               "[Removed Associations]\n"
                               "image/png=viewer.desktop;\n";
        const QByteArray after = XdgUrlSchemeRegistry::withDefaultHandler(before, mime, file);
        QCOMPARE(after, QByteArray("[Added Associations]\n"
                                "text/plain=editor.desktop;\n"
                                "\n"
                                "[Default Applications]\n"
                                "text/html=browser.desktop\n"
                                "x-scheme-handler/corvana=corvana-url-handler.desktop\n"
                                "\n"
                                "[Removed Associations]\n"
                                "image/png=viewer.desktop;\n"));
        QCOMPARE(XdgUrlSchemeRegistry::withDefaultHandler(after, mime, file), after);

        const QByteArray noEntry = XdgUrlSchemeRegistry::withDefaultHandler(
            "[Default Applications]\ntext/html=b.desktop\n\n[Other]\nk=v\n", mime, file);
        QCOMPARE(noEntry, QByteArray("[Default Applications]\ntext/html=b.desktop\n"
                                  "x-scheme-handler/corvana=corvana-url-handler.desktop\n"
                                  "\n[Other]\nk=v\n"));

        const QByteArray noGroup =
            XdgUrlSchemeRegistry::withDefaultHandler("[Added Associations]\na=b;", mime, file);
        QCOMPARE(noGroup, QByteArray("[Added Associations]\na=b;\n\n[Default Applications]\n"
                                  "x-scheme-handler/corvana=corvana-url-handler.desktop\n"));

        // Through the real files: the existing list is kept as it was.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.filePath("mimeapps.list"), before);
        XdgUrlSchemeRegistry registry(dir.filePath("apps"), dir.path());
        QVERIFY(registry.registerScheme({"corvana", "URL:Corvana Protocol", "/c"}));
        QCOMPARE(read(dir.filePath("mimeapps.list")), QString::fromUtf8(after));
    }

    // The list as other programs wrote it, through the real file: only our line
    // changes, every other byte stays, and a list already right is not written.
    void theListIsKeptByteForByte()
    {
        const QByteArray ours = "x-scheme-handler/corvana=corvana-url-handler.desktop";
        struct Case {
            const char *what;
            QByteArray before;
            QByteArray after; // empty: not written
        };
        const Case cases[] = {
            {"line ends of CR LF",
             "[Default Applications]\r\ntext/html=b.desktop\r\nx-scheme-handler/corvana=old.desktop\r\n",
             "[Default Applications]\r\ntext/html=b.desktop\r\n" + ours + "\r\n"},
            {"a Latin-1 byte, a comment and other schemes",
             "# caf\xe9\n[Default Applications]\nx-scheme-handler/http=b.desktop\n"
             "#x-scheme-handler/corvana=mine.desktop\nx-scheme-handler/corvanax=y.desktop\n",
             "# caf\xe9\n[Default Applications]\nx-scheme-handler/http=b.desktop\n"
             "#x-scheme-handler/corvana=mine.desktop\nx-scheme-handler/corvanax=y.desktop\n" + ours + "\n"},
            {"no group, no last line end, CR LF",
             "[Added Associations]\r\na=b;", "[Added Associations]\r\na=b;\r\n\r\n[Default Applications]\r\n" + ours + "\r\n"},
            {"already ours, with a Latin-1 byte and CR LF",
             "[Default Applications]\r\n" + ours + "\r\nx=\xff.desktop\r\n", ""},
            {"already ours, last line without its end", "[Default Applications]\n" + ours, ""},
        };
        for (const Case &c : cases) {
            QTemporaryDir dir;
            QVERIFY(dir.isValid());
            const QString list = dir.filePath("mimeapps.list");
            write(list, c.before);
            const QByteArray path = QFile::encodeName(list);
            struct stat before {};
            QVERIFY(::stat(path.constData(), &before) == 0);
            XdgUrlSchemeRegistry registry(dir.filePath("apps"), dir.path());
            QVERIFY2(registry.registerScheme({"corvana", "URL:Corvana Protocol", "/c"}), c.what);
            QFile f(list);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), c.after.isEmpty() ? c.before : c.after);
            struct stat after {};
            QVERIFY(::stat(path.constData(), &after) == 0);
            QVERIFY2((after.st_ino == before.st_ino) == c.after.isEmpty(), c.what);
        }
    }
};

QTEST_GUILESS_MAIN(UrlSchemeTest)
#include "url_scheme_test.moc"
