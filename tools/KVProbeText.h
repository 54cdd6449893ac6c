#pragma once
// kvprobe's page-text reports:
//   kvprobe text FILE --page N [--selection] [--columns OUT.png] [--password P]
//   kvprobe charpos FILE --page N --at X,Y [--password P]
// The shape of their JSON is described in KVProbeText.cpp. Both draw pages through the
// poppler imager pool the tests use, installed for the call. The tests call the JSON forms in
// process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The reports as JSON objects; *exitCode as the command exits (0 when a result could be
// reported, 1 when the file cannot be read, 2 on bad usage, 4 when the file does not open with
// result 0, 5 when OUT.png cannot be written; the object is empty unless 0).
QJsonObject kvprobeTextJson(const QString &path, const QStringList &options, int *exitCode);
QJsonObject kvprobeCharPosJson(const QString &path, const QStringList &options, int *exitCode);

// Print the report on standard output; answer the exit code.
int kvprobeText(const QString &path, const QStringList &options);
int kvprobeCharPos(const QString &path, const QStringList &options);
