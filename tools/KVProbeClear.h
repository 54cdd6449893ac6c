#pragma once
// kvprobe's line clearing (`kvprobe clear FILE --page N --line K -o OUT [--password P]`); the
// shape of its JSON is described in KVProbeClear.cpp. The tests call the JSON form in process.
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

class KVPDFPage;
struct KVPDFEditRecord;

// The report as a JSON object; *exitCode as the command exits (0 when the file was written, 1
// when the file cannot be read, 2 on bad usage or a page or line that does not exist, 4 when the
// file does not open with result 0, 5 when OUT cannot be written or an edit does not apply;
// the object is empty unless 0).
QJsonObject kvprobeClearJson(const QString &path, const QStringList &options, int *exitCode);

// Prints the report on standard output; answers the exit code.
int kvprobeClear(const QString &path, const QStringList &options);

// Puts the edits into the decoded data of their streams and stores each edited stream back
// Flate-compressed under its own object number; the page's joined stream (a page of several
// content streams) first becomes the page's content. An edit without a replacement blanks its
// bytes. False, with nothing changed, when an edit lies outside its stream's data or overlaps
// another edit of the same stream (a replacement could not be told where to go).
bool kvprobeApplyEdits(KVPDFPage &page, const std::vector<KVPDFEditRecord> &edits);
