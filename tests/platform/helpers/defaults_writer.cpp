// Changes numbered keys of a defaults suite from its own process.
// Usage: defaults_writer [--barrier] <config-home> <suite> set|remove|batch <prefix> <count> [value]
//   set, remove: key <prefix><i> gets the integer value + i, or is removed, one write each.
//   batch: <value> rounds; odd rounds set every key to the round's number in one
//          write, even rounds remove them all in one write.
// With --barrier it prints "ready" and waits for a line on stdin before writing.
// Exit code 0 when every write reached the file.
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
    if (args.size() < 5)
        return 2;
    kovra::PlatformPaths paths;
    paths.configHome = args[0];
    const auto store = kovra::Defaults::suite(paths, args[1]);
    if (!store)
        return 3;
    if (barrier) {
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    const QString action = args[2];
    const int count = args[4].toInt();
    const qint64 value = args.value(5).toLongLong();
    QStringList keys;
    for (int i = 0; i < count; ++i)
        keys.append(args[3] + QString::number(i));
    bool written = true;
    if (action == QLatin1String("batch")) {
        for (qint64 round = 1; round <= value; ++round) {
            QList<kovra::Defaults::Change> changes;
            for (const QString &key : keys)
                changes.append({key, round % 2 ? QVariant::fromValue(round) : QVariant()});
            written = store->setObjects(changes) && written;
        }
    } else {
        for (int i = 0; i < count; ++i) {
            if (action == QLatin1String("set"))
                store->set(keys[i], value + i);
            else
                store->remove(keys[i]);
        }
    }
    return store->synchronize() && written ? 0 : 4;
}
