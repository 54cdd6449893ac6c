// A second process for the settings tests: "write" stores every value of
// kvDefaultsPeerValues() in the standard store and synchronises; "read" checks that the
// standard store holds each of them with its type, printing what differs.
#include "KVDefaults.h"
#include "KVDefaultsPeerValues.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    KVDefaults &defaults = KVDefaults::standardUserDefaults();
    std::printf("%s\n", qPrintable(defaults.filePath()));
    if (argc == 2 && std::strcmp(argv[1], "write") == 0) {
        for (const auto &[key, value] : kvDefaultsPeerValues()) {
            if (!defaults.setObject(key, value)) {
                std::printf("refused %s\n", qPrintable(key));
                return 1;
            }
        }
        return defaults.synchronize() ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "read") == 0) {
        int failures = 0;
        for (const auto &[key, value] : kvDefaultsPeerValues()) {
            const QVariant read = defaults.objectForKey(key);
            if (read.typeId() != value.typeId() || read != value) {
                std::printf("%s: read %s %s\n", qPrintable(key), read.typeName(), qPrintable(read.toString()));
                ++failures;
            }
        }
        return failures == 0 ? 0 : 1;
    }
    return 2;
}
