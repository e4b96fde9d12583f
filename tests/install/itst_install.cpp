// `cmake --install` of this build into a temporary prefix: the app, its desktop entry
// and its icon, and nothing else (no tool, no test).

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppID = QStringLiteral(KOVRA_APP_ID);

// Runs a program to its end; its exit code (-1: it did not run or crashed) and output.
std::pair<int, QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString::fromLocal8Bit(process.readAll()) + process.errorString()};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installsTheAppEntryAndIcons()
    {
        QTemporaryDir prefix;
        const auto [code, output] =
            run(QStringLiteral(KOVRA_CMAKE), {QStringLiteral("--install"), QStringLiteral(KOVRA_BUILD_DIR),
                                              QStringLiteral("--prefix"), prefix.path()});
        QVERIFY2(code == 0, qPrintable(output));

        QStringList installed;
        for (QDirIterator it(prefix.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            installed << it.next().mid(prefix.path().size() + 1);
        installed.sort();
        const QList<int> sizes{16, 22, 24, 32, 48, 64, 128, 256, 512};
        QStringList expected{QStringLiteral("bin/kovra"), QStringLiteral("share/applications/%1.desktop").arg(kAppID),
                             QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kAppID)};
        for (int size : sizes)
            expected << QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppID);
        expected.sort();
        QCOMPARE(installed, expected);

        QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("bin/kovra"))).isExecutable());
        for (int size : sizes) {
            const QImage icon(prefix.filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppID)));
            QCOMPARE(icon.size(), QSize(size, size));
            // Brand-coloured in the middle, not blank.
            QVERIFY(qAlpha(icon.pixel(size / 2, size / 2)) == 255);
        }

        // A valid entry that starts the installed binary with the installed icon.
        const QString entry = prefix.filePath(QStringLiteral("share/applications/%1.desktop").arg(kAppID));
        const auto [valid, complaints] = run(QStringLiteral("desktop-file-validate"), {entry});
        QVERIFY2(valid == 0 && complaints.trimmed().isEmpty(), qPrintable(complaints));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList keys;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("Exec=") || line.startsWith("Icon=") || line.startsWith("StartupWMClass="))
                keys << QString::fromUtf8(line);
        }
        QCOMPARE(keys, (QStringList{QStringLiteral("Exec=kovra"), QStringLiteral("Icon=") + kAppID, QStringLiteral("StartupWMClass=kovra")}));
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "itst_install.moc"
