#pragma once
// kvprobe's page composition (`kvprobe compose FILE --page N [--rotate D] [--opacity A] -o OUT
// [--password P]`); the shape of its JSON is described in KVProbeCompose.cpp. The tests call
// the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The report as a JSON object; *exitCode as the command exits (0 when OUT was written, 1 when
// the file cannot be read, 2 on bad usage or a page that does not exist, 4 when the file does
// not open with result 0, 5 when the composition fails or OUT cannot be written; the object
// is empty unless 0).
QJsonObject kvprobeComposeJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeCompose(const QString &path, const QStringList &options);
