#pragma once
// kvprobe's link report (`kvprobe links FILE [--password P]`); the shape of its JSON is
// described in KVProbeLinks.cpp. The tests call the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The report as a JSON object; *exitCode as the command exits (0 when the file opened, 1 when
// it cannot be read, 2 on bad usage, 4 when it does not open with result 0; the object is
// empty unless 0).
QJsonObject kvprobeLinksJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeLinks(const QString &path, const QStringList &options);
