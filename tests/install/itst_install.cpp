// `cmake --install` of this build into a temporary prefix: the app, its desktop entry
// and its icon, and nothing else (no tool, no test). `cpack -G DEB` of this build: a
// package whose dependencies bring every QML module the app imports.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kAppID = QStringLiteral(KOVRA_APP_ID);

// Runs a program to its end; its exit code (-1: it did not run or crashed) and output
// (standard output only when `mergeErrors` is false).
std::pair<int, QString> run(const QString &program, const QStringList &arguments, bool mergeErrors = true)
{
    QProcess process;
    process.setProcessChannelMode(mergeErrors ? QProcess::MergedChannels : QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    // Packing strips and compresses the sanitizer build's binary: minutes on a loaded machine.
    if (!process.waitForFinished(240'000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString::fromLocal8Bit(process.readAll()) + process.errorString()};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

// The package names a Depends field guarantees: alternatives ("a | b") guarantee
// neither, versions and architecture qualifiers are dropped.
QStringList guaranteedPackages(const QString &field)
{
    QStringList names;
    for (const QString &group : field.split(u',', Qt::SkipEmptyParts)) {
        if (group.contains(u'|'))
            continue;
        QString name = group.trimmed().section(u' ', 0, 0);
        names << name.section(u':', 0, 0);
    }
    return names;
}

// Every package that installing `roots` installs for certain, by apt's records of their
// Depends and Pre-Depends (alternatives and virtual packages are not followed).
std::pair<QSet<QString>, QString> installedWith(const QStringList &roots)
{
    const auto [code, output] = run(QStringLiteral("apt-cache"),
                                    QStringList{QStringLiteral("depends"), QStringLiteral("--recurse"),
                                                QStringLiteral("--no-recommends"), QStringLiteral("--no-suggests"),
                                                QStringLiteral("--no-conflicts"), QStringLiteral("--no-breaks"),
                                                QStringLiteral("--no-replaces"), QStringLiteral("--no-enhances")}
                                        + roots,
                                    false);
    if (code != 0)
        return {{}, output};
    QMap<QString, QStringList> needs;
    QString current;
    bool inAlternatives = false;
    static const QRegularExpression edge(QStringLiteral(R"(^ (\|| )(Pre)?Depends: (\S+)$)"));
    for (const QString &line : output.split(u'\n')) {
        if (!line.startsWith(u' ')) {
            current = line.trimmed();
            inAlternatives = false;
            continue;
        }
        const QRegularExpressionMatch match = edge.match(line);
        if (!match.hasMatch())
            continue;
        // " |Depends: a" then "  Depends: b" is the group "a | b".
        const bool alternative = match.captured(1) == u"|"_s || inAlternatives;
        inAlternatives = match.captured(1) == u"|"_s;
        const QString name = match.captured(3);
        if (!alternative && !name.startsWith(u'<'))
            needs[current] << name;
    }
    QSet<QString> closure;
    QStringList queue = roots;
    while (!queue.isEmpty()) {
        const QString name = queue.takeFirst();
        if (closure.contains(name))
            continue;
        closure.insert(name);
        queue << needs.value(name);
    }
    return {closure, output};
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

    // On a machine that has only what the package depends on, every QML module the app's
    // QML imports, and every module those import in turn, is installed.
    void packageBringsEveryImportedQmlModule()
    {
        QTemporaryDir out;
        const auto [packed, packLog] =
            run(QStringLiteral(KOVRA_CPACK), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                              QStringLiteral(KOVRA_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                                              out.path()});
        QVERIFY2(packed == 0, qPrintable(packLog));
        const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const auto [read, depends] =
            run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), out.filePath(debs.first()), QStringLiteral("Depends")}, false);
        QVERIFY2(read == 0, qPrintable(depends));
        const auto [installed, aptLog] = installedWith(guaranteedPackages(depends));
        QVERIFY2(!installed.isEmpty(), qPrintable(aptLog));

        // Every QML file of the app, with the modules of this build and the system's.
        const auto [scanned, json] = run(QStringLiteral(KOVRA_QMLIMPORTSCANNER),
                                         {QStringLiteral("-rootPath"), QStringLiteral(KOVRA_SOURCE_DIR "/src"),
                                          QStringLiteral("-importPath"), QStringLiteral(KOVRA_BUILD_DIR "/qml"),
                                          QStringLiteral("-importPath"), QStringLiteral(KOVRA_QT_QML_DIR)},
                                         false);
        QVERIFY2(scanned == 0, qPrintable(json));
        QStringList modules;
        QStringList uncovered;
        for (const QJsonValue &entry : QJsonDocument::fromJson(json.toUtf8()).array()) {
            const QString name = entry[u"name"].toString();
            const QString path = entry[u"path"].toString();
            if (entry[u"type"].toString() != u"module" || path.isEmpty()
                || path.startsWith(QStringLiteral(KOVRA_BUILD_DIR "/")))
                continue;
            modules << name;
            const QString qmldir = QFileInfo(path + u"/qmldir"_s).canonicalFilePath();
            const auto [owned, owners] = run(QStringLiteral("dpkg-query"), {QStringLiteral("-S"), qmldir}, false);
            QVERIFY2(owned == 0, qPrintable(name + u": "_s + owners));
            // "pkg:arch, other:arch: /path"
            const QStringList packages = owners.section(u": /"_s, 0, 0).split(u", "_s);
            const bool covered = std::any_of(packages.begin(), packages.end(), [&](const QString &p) {
                return installed.contains(p.section(u':', 0, 0));
            });
            if (!covered)
                uncovered << name + u" ("_s + packages.join(u", "_s) + u")"_s;
        }
        // The scan reached the installed modules (else nothing would be checked).
        QVERIFY2(modules.contains(u"QtQuick"_s) && modules.contains(u"QtQml"_s), qPrintable(modules.join(u' ')));
        QVERIFY2(uncovered.isEmpty(), qPrintable(u"not brought by \""_s + depends.trimmed() + u"\": "_s + uncovered.join(u"; ")));
    }

    // A module the app's QML imports that is not installed where the package is made
    // would be missing from its dependencies: the packing stops and names it.
    void packingStopsOnAModuleNotInstalled()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(u"Test/View"_s));
        QFile qmldir(root.filePath(u"Test/View/qmldir"_s));
        QFile view(root.filePath(u"Test/View/View.qml"_s));
        QFile driver(root.filePath(u"driver.cmake"_s));
        QVERIFY(qmldir.open(QIODevice::WriteOnly) && view.open(QIODevice::WriteOnly) && driver.open(QIODevice::WriteOnly));
        qmldir.write("module Test.View\nView 1.0 View.qml\n");
        view.write("import QtQuick\nimport Test.Absent\nItem {}\n");
        driver.write("include(\"" KOVRA_SOURCE_DIR "/cmake/KovraQmlPackages.cmake\")\n"
                     "kovra_qml_packages(packages)\n"
                     "message(\"packages: ${packages}\")\n");
        qmldir.close();
        view.close();
        driver.close();

        const auto [code, output] =
            run(QStringLiteral(KOVRA_CMAKE),
                {u"-DKOVRA_QMLIMPORTSCANNER="_s + QStringLiteral(KOVRA_QMLIMPORTSCANNER),
                 u"-DKOVRA_QML_MODULE_DIRS="_s + root.filePath(u"Test/View"_s), u"-DKOVRA_QML_MODULE_URIS=Test.View"_s,
                 u"-DKOVRA_QML_IMPORT_ROOTS="_s + root.path(), u"-DKOVRA_QT_QML_DIR="_s + QStringLiteral(KOVRA_QT_QML_DIR),
                 u"-P"_s, driver.fileName()});
        QVERIFY2(code != 0 && output.contains(u"Test.Absent"_s) && !output.contains(u"packages:"_s), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "itst_install.moc"
