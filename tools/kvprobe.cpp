// kvprobe: prints what the engine reads from a PDF as JSON, so tests and people can compare the
// engine with other PDF tools. Not installed; built with the tests.
#include "KVPDFDocument.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {
int usage()
{
    std::fprintf(stderr, "usage: kvprobe info FILE\n");
    return 2;
}

void print(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return usage();
    const QString command = args[1];
    QFile file(args[2]);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(args[2]));
        return 1;
    }
    const QByteArray data = file.readAll();
    if (command == QLatin1String("info")) {
        QJsonObject out;
        out[QStringLiteral("file")] = args[2];
        out[QStringLiteral("bytes")] = double(data.size());
        print(out);
        return 0;
    }
    return usage();
}
