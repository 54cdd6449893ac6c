#pragma once
// kvprobe's application-document report (`kvprobe doc FILE [--password-answers A,B,C]
// [--password P] [--type T] [--redraw yes|no]`): FILE read through the application document
// as the program reads it, with scripted answers to its questions. Needs a QGuiApplication
// (the probe makes one, offscreen, for this subcommand only). The shape of the JSON is
// described in KVProbeDoc.cpp.
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The report; *exitCode 0 when the read finished (whether or not the document opened), 2 on
// bad usage.
QJsonObject kvprobeDocJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeDoc(int argc, char **argv);
