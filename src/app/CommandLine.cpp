#include "app/CommandLine.h"

#include "platform/BuildInfo.h"
#include "tunnel/VPNToggleIntent.h"

#include <QStringView>

#include <algorithm>
#include <iterator>

namespace kovra {
namespace {

// The options QGuiApplication and QApplication take out of the arguments (with one or
// two leading dashes). Those with a value take it as the next argument; the marked
// ones also as "-name=value".
struct QtOption {
    QStringView name;
    bool takesValue;
    bool joinedValue;
};
constexpr QtOption kQtOptions[] = {
    {u"platform", true, false},        {u"platformpluginpath", true, false},
    {u"platformtheme", true, false},   {u"plugin", true, true},
    {u"qmljsdebugger", true, true},    {u"qwindowgeometry", true, false},
    {u"qwindowicon", true, false},     {u"qwindowtitle", true, false},
    {u"session", true, false},         {u"display", true, false},
    {u"geometry", true, false},        {u"style", true, true},
    {u"stylesheet", true, true},       {u"reverse", false, false},
    {u"widgetcount", false, false},
};

// How many arguments from `at` make one of Qt's options; 0: none.
qsizetype qtOptionLength(const QStringList &args, qsizetype at)
{
    QStringView arg = args[at];
    if (!arg.startsWith(u'-'))
        return 0;
    arg = arg.mid(arg.startsWith(u"--") ? 2 : 1);
    const qsizetype equals = arg.indexOf(u'=');
    const QStringView name = equals < 0 ? arg : arg.first(equals);
    const auto *option = std::find_if(std::begin(kQtOptions), std::end(kQtOptions),
                                      [name](const QtOption &o) { return name == o.name; });
    if (option == std::end(kQtOptions))
        return 0;
    if (equals >= 0)
        return option->joinedValue ? 1 : 0;
    if (!option->takesValue)
        return 1;
    return at + 1 < args.size() ? 2 : 0;
}

} // namespace

LaunchAction launchActionFor(const QStringList &args)
{
    if (isToggleCommandLine(args))
        return LaunchAction::SwitchVPN;
    QStringList own;
    for (qsizetype at = 1; at < args.size();) {
        const qsizetype taken = qtOptionLength(args, at);
        if (taken == 0)
            own.append(args[at]);
        at += std::max<qsizetype>(taken, 1);
    }
    if (own.isEmpty())
        return LaunchAction::RunApp;
    if (own == QStringList{QStringLiteral("-h")} || own == QStringList{QStringLiteral("--help")})
        return LaunchAction::PrintHelp;
    if (own == QStringList{QStringLiteral("--version")})
        return LaunchAction::PrintVersion;
    return LaunchAction::Refuse;
}

QByteArray usageText()
{
    return QByteArray(kToggleUsageLine)
           + "Without an option: starts Kovra S, or shows the window of the one already running.\n"
             "  --vpn on|off  switch the VPN without opening a window\n"
             "  -h, --help    print this help and exit\n"
             "  --version     print the version and exit\n";
}

QByteArray versionText()
{
    QByteArray text = QByteArray("kovra ") + buildinfo::version();
    if (const QByteArray number = buildinfo::number(); !number.isEmpty())
        text += " (build " + number + ')';
    return text + '\n';
}

} // namespace kovra
