#include "platform/DesktopUrlOpener.h"

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

    QString readFile(const QString &name) const
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }
    // A stand-in program that runs `body` (its %1 is this folder).
    QString script(const QString &name, const QString &body) const
    {
        QFile file(m_dir.filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write((u"#!/bin/sh\n"_s + body.arg(m_dir.path())).toUtf8());
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file.fileName();
    }

private Q_SLOTS:
    // Web links go to the desktop without asking; any other scheme only when the query
    // names an application within the bound (a query still running then is killed).
    void aLinkIsOpenedOnlyWhereAnApplicationIsRegistered_data()
    {
        QTest::addColumn<QString>("query"); // the stand-in xdg-mime's last line; empty: no such program
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opened");
        const QString tg = u"tg://resolve?domain=kovra_bot"_s;
        QTest::newRow("registered") << u"echo org.telegram.desktop.desktop"_s << tg << true;
        QTest::newRow("nothing registered") << u"exit 0"_s << tg << false;
        QTest::newRow("the query hangs") << u"exec sleep 30"_s << tg << false;
        QTest::newRow("no xdg-mime") << QString() << tg << false;
        QTest::newRow("https without asking") << QString() << u"https://t.me/kovra_bot"_s << true;
    }
    void aLinkIsOpenedOnlyWhereAnApplicationIsRegistered()
    {
        QFETCH(QString, query);
        QFETCH(QString, url);
        QFETCH(bool, opened);
        QFile::remove(m_dir.filePath(u"pid"_s));
        const QString xdgMime = script(u"xdg-mime"_s, u"echo \"$@\" > '%1/args'\necho $$ > '%1/pid'\n"_s + query);
        QList<QUrl> launched;
        DesktopUrlOpener opener({query.isEmpty() ? m_dir.filePath(u"missing"_s) : xdgMime, 500ms,
                                 Clock::system(), [&launched](const QUrl &u) {
                                     launched << u;
                                     return true;
                                 }});

        QCOMPARE(await(opener.openURL(QUrl(url))), opened);
        QCOMPARE(launched, opened ? QList{QUrl(url)} : QList<QUrl>());
        if (!query.isEmpty()) {
            QTRY_VERIFY(!readFile(u"pid"_s).isEmpty());
            QCOMPARE(readFile(u"args"_s), u"query default x-scheme-handler/tg"_s);
            QTRY_VERIFY(!QFileInfo::exists(u"/proc/"_s + readFile(u"pid"_s)));
        }
    }

    // Without a launcher of its own the opener runs xdg-open detached on the link, with
    // its output going nowhere: a sign-in link carries its nonce, and an opener that
    // finds no browser quotes the link.
    void theDesktopOpenerPrintsNothingOfTheLink()
    {
        const QString xdgOpen = script(u"xdg-open"_s, u"out=$(readlink /proc/$$/fd/1) err=$(readlink /proc/$$/fd/2)\n"
                                                      "echo $out $err > '%1/fds'\necho \"$@\" > '%1/args'\n"_s);
        DesktopUrlOpener opener({.xdgOpen = xdgOpen});
        const QString link = u"https://t.me/kovra_bot?start=n0nce"_s;
        QVERIFY(await(opener.openURL(QUrl(link))));
        QTRY_COMPARE(readFile(u"args"_s), link);
        QCOMPARE(readFile(u"fds"_s), u"/dev/null /dev/null"_s);

        DesktopUrlOpener missing({.xdgOpen = m_dir.filePath(u"missing"_s)});
        QVERIFY(!await(missing.openURL(QUrl(link))));
    }
};

QTEST_GUILESS_MAIN(DesktopUrlOpenerTest)
#include "itst_desktop_url_opener.moc"
