#pragma once
// kvprobe's form-field report (`kvprobe fields FILE [--password P]`); the shape of its JSON is
// described in KVProbeFields.cpp. The tests call the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

class KVPDFDocument;

// The report as a JSON object; *exitCode as the command exits (0 when a result could be
// reported, 1 when the file cannot be read, 2 on bad usage, 4 when the file does not open with
// result 0; the object is empty unless 0).
QJsonObject kvprobeFieldsJson(const QString &path, const QStringList &options, int *exitCode);
// The report of an open document, reading every page's annotations.
QJsonObject kvprobeFieldsJson(KVPDFDocument &document);

// Prints the report on standard output; answers the exit code.
int kvprobeFields(const QString &path, const QStringList &options);
