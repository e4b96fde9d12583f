// design-gallery --out DIR [--only TEXT]: renders every design component in every
// state, light and dark, one PNG each.
#include "GalleryCases.h"
#include "GalleryRun.h"

#include "ui/account/AccountModule.h"
#include "ui/main/MainModule.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    kovra::ui::registerAccountModule();
    kovra::ui::registerMainModule();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the design components into PNG files."));
    parser.addHelpOption();
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Only cases whose name contains TEXT."),
                                  QStringLiteral("TEXT"));
    parser.addOption(out);
    parser.addOption(only);
    parser.process(app);
    if (!parser.isSet(out)) {
        fprintf(stderr, "design-gallery: --out DIR is required\n");
        return 2;
    }
    QDir dir(parser.value(out));
    if (!dir.mkpath(QStringLiteral("."))) {
        fprintf(stderr, "design-gallery: cannot create %s\n", qPrintable(dir.absolutePath()));
        return 2;
    }
    QList<kovra::gallery::GalleryCase> cases = kovra::gallery::galleryCases();
    if (parser.isSet(only)) {
        const QString text = parser.value(only);
        cases.removeIf([&](const auto &c) { return !c.name.contains(text); });
    }
    kovra::gallery::GalleryRun run(dir, cases);
    QObject::connect(&run, &kovra::gallery::GalleryRun::finished, &app, &QCoreApplication::exit);
    run.start();
    return app.exec();
}
