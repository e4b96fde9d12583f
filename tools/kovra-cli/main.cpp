#include "platform/PlatformPaths.h"
#include "tunnel/VPNToggleIntent.h"

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Until the app itself exists, every other command line only gets the usage line.
    return kovra::runToggleCommandLine(args, kovra::PlatformPaths::fromEnvironment());
}
