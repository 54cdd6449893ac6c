#pragma once
// kvprobe's annotation report (`kvprobe annots FILE [--password P]`); the shape of its JSON is
// described in KVProbeAnnots.cpp. The tests call the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The report as a JSON object; *exitCode as the command exits (0 when a result could be
// reported, 1 when the file cannot be read, 2 on bad usage; the object is empty unless 0).
QJsonObject kvprobeAnnotsJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeAnnots(const QString &path, const QStringList &options);
