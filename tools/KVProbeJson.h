#pragma once
// JSON for engine objects in the shape a peer PDF tool prints in its JSON mode (version 2), so
// the probe's output can be compared with that tool's value for value:
// - integers and reals are JSON numbers; a real always carries a "." or an exponent, so it
//   never reads back as an integer;
// - a name is "/" and its decoded bytes when they are UTF-8, else "n:" and the name with
//   "#xx" escapes (that tool prints the raw bytes, which are no JSON);
// - a string is "u:" and its text when the text says the same as the bytes (UTF-16 or UTF-8
//   with a byte-order mark, or PDFDocEncoding that reads back to the same bytes and does not
//   look binary), otherwise "b:" and lower-case hex;
// - a reference is "N G R", a dictionary an object with "/Key" keys in byte order, a stream
//   {"stream": {"dict": {...}}};
// - an indirect object is {"value": X} or {"stream": {"dict": {...}}}.
// The text written is always UTF-8.
//
// The functions only read the objects; a top-level array or dictionary that parses on first use
// may raise FolivoParseFailure from here. Nesting deeper than the parser allows prints null.
// Threads: like the engine, one thread per document.
#include "KVPDFObject.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include <optional>

class KVPDFDocument;
class KVPDFObjectStream;
class KVPDFPage;
class QJsonObject;

// How far stream data is decoded: like the peer tool's decode levels, a stream whose filter
// chain holds any filter above the level is left as stored, never decoded in part.
enum class KVProbeDecodeLevel {
    None,        // nothing
    Generalized, // Flate, LZW, ASCII base-85 and ASCII hex
    Specialized, // and run length
    All,         // and DCT (JPEG, lossy)
};

// The JSON text of a direct value.
QByteArray kvProbeValueJson(const KVPDFObjectPtr &object);
// The JSON text of an indirect object: {"value": X} or {"stream": {"dict": {...}}}.
QByteArray kvProbeEntryJson(const KVPDFObjectPtr &object);
// The JSON string (quoted) of a name's decoded bytes.
QByteArray kvProbeNameJson(const QByteArray &bytes);
// The JSON string (quoted) of a PDF string's bytes.
QByteArray kvProbeStringJson(const QByteArray &bytes);
// A JSON string (quoted) of UTF-8 text.
QByteArray kvProbeQuoted(const QByteArray &utf8);
// Writes the object as compact JSON and a line end to standard output.
void kvProbePrint(const QJsonObject &object);
// The document of `path` for a subcommand, opened as stored (object numbers are the file's own)
// or, with asStored false, the way the program opens it; `password` when it needs one. nullptr
// with a message on standard error and `status` set (1 unreadable, 4 not opened with result 0).
std::shared_ptr<KVPDFDocument> kvProbeOpen(const QString &path, const QString &password, int *status,
                                           bool asStored = true);
// For a subcommand's exit: prints the object when `exitCode` is 0; answers `exitCode`.
int kvProbePrintUnlessFailed(const QJsonObject &object, int exitCode);

// A subcommand's "--name value" options. Every option takes a value; "--password" and
// "--page" (a whole number from 1) are read into their fields, the other names of `known`
// into `values`. Nothing on an unknown name, a missing value or a bad page number.
struct KVProbeOptions {
    QString password;
    qlonglong page = 0; // 0: not given
    QHash<QString, QString> values;
};
std::optional<KVProbeOptions> kvProbeOptions(const QStringList &options, const QStringList &known);
// Page `page` (from 1) of the document, or nullptr with a message on standard error when the
// document has fewer pages.
std::shared_ptr<KVPDFPage> kvProbePage(KVPDFDocument &document, const QString &path, qlonglong page);
// A coordinate for the JSON output, rounded to `places` decimals so that last-bit noise does
// not show.
double kvProbeRounded(double value, int places = 4);

// The names of a stream's filter chain, in order. False when the Filter entry is neither a
// name nor an array of names.
bool kvProbeFilters(KVPDFObjectStream &stream, QList<QByteArray> *names);
// True when every filter of the chain is at or below `level`.
bool kvProbeDecodable(const QList<QByteArray> &filters, KVProbeDecodeLevel level);

struct KVProbeStreamData {
    QByteArray data;      // decoded, or the stored bytes when not decoded
    bool decoded = false; // the filters were applied (also true for a stream without filters)
    bool complete = true; // false when a filter stopped early; `data` holds what it gave
    QList<QByteArray> filters;
};
// The stream's data at `level`.
KVProbeStreamData kvProbeStreamData(KVPDFObjectStream &stream, KVProbeDecodeLevel level);
