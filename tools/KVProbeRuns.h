#pragma once
// kvprobe's text-run report (`kvprobe runs FILE --page N [--password P]`); the shape of its
// JSON is described in KVProbeRuns.cpp. The tests call the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The report as a JSON object; *exitCode as the command exits (0 when a result could be
// reported, 1 when the file cannot be read, 2 on bad usage, 4 when the file does not open with
// result 0; the object is empty unless 0).
QJsonObject kvprobeRunsJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeRuns(const QString &path, const QStringList &options);
