// Changes numbered keys of a defaults suite from its own process.
// Usage: defaults_writer --barrier <config-home> <suite> set|remove|batch <prefix> <count> [value]
//   set, remove: key <prefix><i> gets the integer value + i, or is removed, one write each.
//   batch: <value> rounds; odd rounds set every key to the round's number in one
//          write, even rounds remove them all in one write.
// It prints "ready" and waits for a line on stdin before writing.
// Exit code 0 when every write reached the file.
#include "platform/Defaults.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    if (args.size() < 5)
        return 2;
    kovra::PlatformPaths paths;
    paths.configHome = args[0];
    const auto store = kovra::Defaults::suite(paths, args[1]);
    if (!store)
        return 3;
    std::puts("ready");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    const QString action = args[2];
    const int count = args[4].toInt();
    const qint64 value = args.value(5).toLongLong();
    bool written = true;
    for (qint64 round = 1; action == QLatin1String("batch") && round <= value; ++round) {
        QList<kovra::Defaults::Change> changes;
        for (int i = 0; i < count; ++i)
            changes.append({args[3] + QString::number(i), round % 2 ? QVariant::fromValue(round) : QVariant()});
        written = store->setObjects(changes) && written;
    }
    for (int i = 0; action != QLatin1String("batch") && i < count; ++i) {
        if (action == QLatin1String("set"))
            store->set(args[3] + QString::number(i), value + i);
        else
            store->remove(args[3] + QString::number(i));
    }
    return store->synchronize() && written ? 0 : 4;
}
