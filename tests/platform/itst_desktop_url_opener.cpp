#include "platform/DesktopUrlOpener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/Await.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class DesktopUrlOpenerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A stand-in for xdg-mime running `body`; it writes its arguments and its pid first.
    QString writeQuery(const QString &body)
    {
        const QString path = m_dir.filePath(u"xdg-mime"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(u"#!/bin/sh\necho \"$@\" > '%1/args'\necho $$ > '%1/pid'\n%2\n"_s.arg(m_dir.path(), body).toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString readFile(const QString &name) const
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(m_dir.filePath(u"args"_s));
        QFile::remove(m_dir.filePath(u"pid"_s));
    }

    // Web links go to the desktop without asking; any other scheme only when the query
    // names an application within the bound.
    void aLinkIsOpenedOnlyWhereAnApplicationIsRegistered_data()
    {
        QTest::addColumn<QString>("query"); // the stand-in's body; empty: no such program
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opened");
        const QString tg = u"tg://resolve?domain=kovra_bot"_s;
        QTest::newRow("tg, registered") << u"echo org.telegram.desktop.desktop"_s << tg << true;
        QTest::newRow("tg, nothing registered") << u"exit 0"_s << tg << false;
        QTest::newRow("tg, the query fails") << u"echo x.desktop; exit 1"_s << tg << false;
        QTest::newRow("tg, the query hangs") << u"exec sleep 30"_s << tg << false;
        QTest::newRow("tg, no xdg-mime") << QString() << tg << false;
        QTest::newRow("https, no xdg-mime") << QString() << u"https://t.me/kovra_bot"_s << true;
        QTest::newRow("http, no xdg-mime") << QString() << u"http://127.0.0.1/x"_s << true;
        QTest::newRow("no scheme") << u"echo a.desktop"_s << u"t.me/kovra_bot"_s << false;
    }
    void aLinkIsOpenedOnlyWhereAnApplicationIsRegistered()
    {
        QFETCH(QString, query);
        QFETCH(QString, url);
        QFETCH(bool, opened);
        QList<QUrl> launched;
        DesktopUrlOpener::Options options;
        options.xdgMime = query.isEmpty() ? m_dir.filePath(u"missing/xdg-mime"_s) : writeQuery(query);
        options.queryBound = 500ms;
        options.launch = [&launched](const QUrl &u) {
            launched << u;
            return true;
        };
        DesktopUrlOpener opener(options);

        QCOMPARE(await(opener.openURL(QUrl(url))), opened);
        QCOMPARE(launched, opened ? QList{QUrl(url)} : QList<QUrl>());
        if (!query.isEmpty() && url.startsWith(u"tg:"_s)) {
            QTRY_VERIFY(!readFile(u"pid"_s).isEmpty());
            QCOMPARE(readFile(u"args"_s), u"query default x-scheme-handler/tg"_s);
            // A query still running at the bound was killed.
            QTRY_VERIFY(!QFileInfo::exists(u"/proc/"_s + readFile(u"pid"_s)));
        }
    }
};

QTEST_GUILESS_MAIN(DesktopUrlOpenerTest)
#include "itst_desktop_url_opener.moc"
