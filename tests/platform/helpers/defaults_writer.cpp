// Sets or removes numbered keys of a defaults suite from its own process.
// Usage: defaults_writer [--barrier] <suite> set|remove <prefix> <count> [first-value]
// With --barrier it prints "ready" and waits for a line on stdin before writing.
// Key <prefix><i> gets the integer first-value + i. Exit code 0 when every write
// reached the file.
#include "platform/Defaults.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool barrier = !args.isEmpty() && args.first() == QLatin1String("--barrier");
    if (barrier)
        args.removeFirst();
    if (args.size() < 4)
        return 2;
    const auto store = kovra::Defaults::suite(args[0]);
    if (!store)
        return 3;
    if (barrier) {
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    const bool set = args[1] == QLatin1String("set");
    const int count = args[3].toInt();
    const qint64 first = args.value(4).toLongLong();
    for (int i = 0; i < count; ++i) {
        const QString key = args[2] + QString::number(i);
        if (set)
            store->set(key, first + i);
        else
            store->remove(key);
    }
    return store->synchronize() ? 0 : 4;
}
