// kvprobe: prints what the engine reads from a PDF as JSON, so tests and people can compare the
// engine with other PDF tools. Not installed; built with the tests.
//
//   kvprobe info FILE [--password P]   open result, page count, per-page boxes and rotation
//   kvprobe object FILE N              indirect object N: {"value": X} or {"stream": {"dict": D}}
//   kvprobe objects FILE               every object in use, keyed "obj:N G R", and "trailer"
//   kvprobe stream FILE N [--decode-level L]
//                                      the data of stream N, raw on stdout
//   kvprobe streams FILE [--decode-level L]
//                                      per stream "obj:N G R": {"sha256", "length",
//                                      "stored_sha256", "filters", "decoded", "complete"}
//
//   kvprobe key FILE [--password P]    {"key": hex}: the file key the password gives
//   kvprobe annots FILE [--password P] per page, each annotation's subtype, Rect, flags and keys
//                                      (KVProbeAnnots.cpp)
//   kvprobe outline FILE [--password P]
//                                      the outline tree: titles, flags, targets (KVProbeOutline.cpp)
//   kvprobe links FILE [--password P]  per page, each link's kind, Rect and target (KVProbeLinks.cpp)
//   kvprobe fields FILE [--password P] every widget with its field's name, type, flags, values
//                                      (KVProbeFields.cpp)
//   kvprobe save IN OUT [--password P] [--user U --owner O] [--compression N]
//                                      full rewrite of IN to OUT, with new passwords if given,
//                                      images recompressed at level N (1 to 3)
//   kvprobe doc FILE [--password-answers A,B,C] [--password P] [--type T] [--redraw yes|no]
//   kvprobe add-imprint IN OUT --page N --at X,Y --size W,H [--pdf ONEPAGE.pdf] [--property K=V]...
//                    [--flatten] [--password P]
//                                      adds an imprint to page N and saves (KVProbeImprints.cpp)
//   kvprobe imprints FILE [--password P]
//                                      per page, each stored imprint's location, size, properties
//   kvprobe fonts FILE --page N [--font F --decode HEX] [--password P]
//                                      the page's fonts, or what font F makes of the bytes
//                                      (KVProbeFonts.cpp)
//   kvprobe runs FILE --page N [--password P]
//                                      the page's text runs: text, location, font, size, Tr,
//                                      ca, stream and byte range (KVProbeRuns.cpp)
//   kvprobe images FILE [--page N] [--password P]
//                                      per Do of an image: page, name, object, pixel size,
//                                      depth, grey, colour space, filters, drawn box
//                                      (KVProbeImages.cpp)
//   kvprobe ocr-text FILE [--page N] [--password P]
//                                      whether pages show invisible text (KVProbeImageOps.cpp)
//   kvprobe remove-ocr-text IN OUT [--page N] [--password P]
//                                      removes invisible text and saves
//   kvprobe blank-image IN OUT --page N [--index I] [--restore yes] [--password P]
//                                      blanks out (and restores) an image and saves
//   kvprobe image-pdf IN OUT --page N [--index I] [--password P]
//                                      the one-page PDF of an image alone
//   kvprobe text FILE --page N [--selection] [--columns OUT.png] [--password P]
//                                      the page string and its lines, as search or selection
//                                      prepares them; the column sections drawn (KVProbeText.cpp)
//   kvprobe charpos FILE --page N --at X,Y [--password P]
//                                      the character position and line under a point
//                                      (KVProbeText.cpp)
//   kvprobe clear FILE --page N --line K -o OUT [--password P]
//                                      takes line K of the page's lines out of its content
//                                      and saves (KVProbeClear.cpp)
//   kvprobe compose FILE --page N [--rotate D] [--opacity A] -o OUT [--password P]
//                                      the page drawn turned and faded into a one-page PDF
//                                      of its own (KVProbeCompose.cpp)
//   kvprobe fill FILE --field NAME --value TEXT -o OUT [--password P]
//                                      fills text field NAME, renders it and saves
//                                      (KVProbeFill.cpp)
//   kvprobe toggle FILE --field NAME [--widget K] -o OUT [--password P]
//   kvprobe add-button FILE --kind check|radio --rect X,Y,W,H [--page N] [--name NAME]
//                      [--export VALUE] [--on] -o OUT [--password P]
//   kvprobe choose FILE --field NAME (--select I,J,... | --value TEXT) -o OUT [--password P]
//                                      button and choice edits, saved (KVProbeButtons.h)
//   kvprobe add-note FILE --page N --at X,Y TEXT -o OUT [--title T] [--password P]
//   kvprobe add-freetext FILE --page N --rect X,Y,W,H TEXT -o OUT [--font F] [--size S] [--password P]
//                                      adds a note with its pop-up, or a drawn free-text box,
//                                      and saves (KVProbeNotes.cpp)
//
// The object subcommands take --password P (or --password=P) for a file that needs one.
// The JSON values have the shape the peer tool's JSON version 2 gives them (see KVProbeJson.h).
// An object whose value is null is left out of "objects": a free entry and a null object mean
// the same. An object the engine cannot read prints null with an "error" beside it.
// Decode levels (default generalized): none; generalized (Flate, LZW, ASCII base-85, ASCII
// hex); specialized (and run length); all (and DCT). A stream with a filter above the level is
// given as stored, whole.
//
// Exits 0 whenever a result could be reported (for info, open results 1 to 3 included), 1 when
// the file cannot be read, 2 on bad usage, 3 when object N is not a stream, 4 when the other
// subcommands meet a file the engine does not open with result 0 (with the password given),
// 5 when save, fill, clear or compose could not write OUT, 6 when fill finds no text field NAME (the
// button and choice edits: see KVProbeButtons.h).
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"
#include "KVProbeAnnots.h"
#include "KVProbeClear.h"
#include "KVProbeCompose.h"
#include "KVProbeButtons.h"
#include "KVProbeDoc.h"
#include "KVProbeFields.h"
#include "KVProbeFill.h"
#include "KVProbeNotes.h"
#include "KVProbeFonts.h"
#include "KVProbeImageOps.h"
#include "KVProbeImages.h"
#include "KVProbeJson.h"
#include "KVProbeRuns.h"
#include "KVProbeText.h"
#include "KVProbeLinks.h"
#include "KVProbeOutline.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {
int usage()
{
    std::fprintf(stderr, "usage: kvprobe info FILE [--password P]\n"
                         "       kvprobe object FILE N [--password P]\n"
                         "       kvprobe objects FILE [--password P]\n"
                         "       kvprobe stream FILE N [--decode-level LEVEL] [--password P]\n"
                         "       kvprobe streams FILE [--decode-level LEVEL] [--password P]\n"
                         "       kvprobe key FILE [--password P]\n"
                         "       kvprobe annots FILE [--password P]\n"
                         "       kvprobe outline FILE [--password P]\n"
                         "       kvprobe links FILE [--password P]\n"
                         "       kvprobe fields FILE [--password P]\n"
                         "       kvprobe save IN OUT [--password P] [--user U --owner O] [--compression N]\n"
                         "       kvprobe add-imprint IN OUT --page N --at X,Y --size W,H [--pdf ONEPAGE.pdf]"
                         " [--property K=V]... [--flatten] [--password P]\n"
                         "       kvprobe imprints FILE [--password P]\n"
                         "       kvprobe doc FILE [--password-answers A,B,C] [--password P] [--type T]"
                         " [--redraw yes|no]\n"
                         "       kvprobe fonts FILE --page N [--font F --decode HEX] [--password P]\n"
                         "       kvprobe runs FILE --page N [--password P]\n"
                         "       kvprobe images FILE [--page N] [--password P]\n"
                         "       kvprobe ocr-text FILE [--page N] [--password P]\n"
                         "       kvprobe remove-ocr-text IN OUT [--page N] [--password P]\n"
                         "       kvprobe blank-image IN OUT --page N [--index I] [--restore yes] [--password P]\n"
                         "       kvprobe image-pdf IN OUT --page N [--index I] [--password P]\n"
                         "       kvprobe text FILE --page N [--selection] [--columns OUT.png] [--password P]\n"
                         "       kvprobe charpos FILE --page N --at X,Y [--password P]\n"
                         "       kvprobe clear FILE --page N --line K -o OUT [--password P]\n"
                         "       kvprobe compose FILE --page N [--rotate D] [--opacity A] -o OUT [--password P]\n"
                         "       kvprobe fill FILE --field NAME --value TEXT -o OUT [--password P]\n"
                         "       kvprobe toggle FILE --field NAME [--widget K] -o OUT [--password P]\n"
                         "       kvprobe add-button FILE --kind check|radio --rect X,Y,W,H [--page N] [--name NAME]"
                         " [--export VALUE] [--on] -o OUT [--password P]\n"
                         "       kvprobe choose FILE --field NAME (--select I,J,... | --value TEXT) -o OUT [--password P]\n"
                         "       kvprobe add-note FILE --page N --at X,Y TEXT -o OUT [--title T] [--password P]\n"
                         "       kvprobe add-freetext FILE --page N --rect X,Y,W,H TEXT -o OUT [--font F] [--size S]"
                         " [--password P]\n"
                         "LEVEL: none, generalized (the default), specialized or all\n");
    return 2;
}

void print(const QJsonObject &object) { kvProbePrint(object); }

QJsonArray boxJson(const QRectF &rect) { return {rect.left(), rect.top(), rect.right(), rect.bottom()}; }

// The value of `--name V` or `--name=V` among `arguments`, or a null string.
QString optionValue(const QStringList &arguments, const QString &name)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == name && i + 1 < arguments.size())
            return arguments[i + 1];
        if (arguments[i].startsWith(name + QLatin1Char('=')))
            return arguments[i].mid(name.size() + 1);
    }
    return QString();
}

int info(const QString &path, const QStringList &arguments)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(path));
        return 1;
    }
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(file.readAll(), &result);
    const QString password = optionValue(arguments, QStringLiteral("--password"));
    if (document && result == KVPDFOpenNeedsPassword && !password.isNull())
        result = document->validatePassword(password) == KVPDFPasswordResult::Accepted ? KVPDFOpenOK : KVPDFOpenNeedsPassword;
    QJsonObject out;
    out[QStringLiteral("result")] = result;
    out[QStringLiteral("pages")] = document ? qint64(document->pageCount()) : 0;
    out[QStringLiteral("version")] = document ? document->pdfVersion() : QString();
    QJsonArray boxes;
    if (document) {
        for (const auto &page : document->pages()) {
            QJsonObject box;
            const QRectF media = page->mediaBox();
            box[QStringLiteral("media")] = boxJson(media);
            // Like other readers, report the crop box clipped to the media box, or the media box.
            QRectF crop = page->cropBox().value_or(media).intersected(media);
            if (!crop.isValid())
                crop = media;
            box[QStringLiteral("crop")] = boxJson(crop);
            box[QStringLiteral("rotate")] = page->rotate().value_or(0);
            boxes.append(box);
        }
    }
    out[QStringLiteral("boxes")] = boxes;
    if (document && result == KVPDFOpenOK) {
        out[QStringLiteral("owner")] = document->isOwner();
        out[QStringLiteral("permissions")] = double(document->accessPermissions());
    }
    QJsonArray warnings;
    if (document)
        for (const QString &warning : document->warnings())
            warnings.append(warning);
    out[QStringLiteral("warnings")] = warnings;
    print(out);
    return 0;
}

void write(const QByteArray &bytes) { std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout); }

// The options after FILE (and N) of the object subcommands.
struct Options {
    std::optional<uint64_t> number;
    KVProbeDecodeLevel level = KVProbeDecodeLevel::Generalized;
    QString password;
};

std::optional<Options> parseOptions(QStringList arguments, bool withNumber, bool withLevel)
{
    Options options;
    if (withNumber) {
        bool ok = false;
        const qulonglong number = arguments.value(0).toULongLong(&ok);
        if (!ok || number == 0)
            return std::nullopt;
        options.number = number;
        arguments.removeFirst();
    }
    static const std::pair<const char *, KVProbeDecodeLevel> levels[] = {
        {"none", KVProbeDecodeLevel::None},
        {"generalized", KVProbeDecodeLevel::Generalized},
        {"specialized", KVProbeDecodeLevel::Specialized},
        {"all", KVProbeDecodeLevel::All},
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return std::nullopt;
        }
        if (name == QLatin1String("--password")) {
            options.password = value;
        } else if (name == QLatin1String("--decode-level") && withLevel) {
            auto it = std::find_if(std::begin(levels), std::end(levels),
                                   [&](const auto &level) { return value == QLatin1String(level.first); });
            if (it == std::end(levels))
                return std::nullopt;
            options.level = it->second;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

struct Resolved {
    KVPDFObjectPtr object;
    QByteArray error;
};

Resolved resolve(KVPDFDocument &document, uint64_t number)
{
    Resolved resolved;
    KVPDFObjectPtr entry = document.objectWithNumber(number);
    if (!entry)
        return resolved;
    try {
        resolved.object = document.resolveObject(number, entry->generation());
        if (!resolved.object)
            resolved.error = "unreadable";
    } catch (const std::exception &failure) {
        resolved.error = failure.what();
    }
    return resolved;
}

// The entry JSON of an object: the value, or null and the reason it could not be read.
QByteArray entryJson(const Resolved &resolved)
{
    QByteArray error = resolved.error;
    if (error.isEmpty()) {
        try {
            return kvProbeEntryJson(resolved.object);
        } catch (const std::exception &failure) {
            error = failure.what();
        }
    }
    return "{\"value\":null,\"error\":" + kvProbeQuoted(error) + '}';
}

QByteArray objectKey(uint64_t number, uint64_t generation)
{
    return "obj:" + QByteArray::number(number) + ' ' + QByteArray::number(generation) + " R";
}

std::vector<uint64_t> objectNumbers(const KVPDFDocument &document)
{
    std::vector<uint64_t> numbers;
    numbers.reserve(document.objects().size());
    for (const auto &entry : document.objects())
        numbers.push_back(entry.first);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

int object(const QString &path, const QStringList &arguments)
{
    const std::optional<Options> options = parseOptions(arguments, true, false);
    if (!options)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, options->password, &status);
    if (!document)
        return status;
    write(entryJson(resolve(*document, *options->number)) + '\n');
    return 0;
}

int objects(const QString &path, const QStringList &arguments)
{
    const std::optional<Options> options = parseOptions(arguments, false, false);
    if (!options)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, options->password, &status);
    if (!document)
        return status;
    QByteArray out = "{";
    for (const uint64_t number : objectNumbers(*document)) {
        const Resolved resolved = resolve(*document, number);
        if (resolved.error.isEmpty() && (!resolved.object || resolved.object->objectType() == KVPDFObject::TypeNull))
            continue;
        const uint64_t generation =
            resolved.object ? resolved.object->generation() : document->objectWithNumber(number)->generation();
        if (out.size() > 1)
            out.append(',');
        out.append(kvProbeQuoted(objectKey(number, generation)));
        out.append(':');
        out.append(entryJson(resolved));
    }
    if (document->trailer()) {
        if (out.size() > 1)
            out.append(',');
        out.append("\"trailer\":");
        out.append(entryJson({document->trailer()->trailerDictionary(), {}}));
    }
    out.append("}\n");
    write(out);
    return 0;
}

int stream(const QString &path, const QStringList &arguments)
{
    const std::optional<Options> options = parseOptions(arguments, true, true);
    if (!options)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, options->password, &status);
    if (!document)
        return status;
    const uint64_t number = *options->number;
    auto stream = kv_cast<KVPDFObjectStream>(resolve(*document, number).object);
    if (!stream) {
        std::fprintf(stderr, "kvprobe: object %llu is not a stream\n", static_cast<unsigned long long>(number));
        return 3;
    }
    try {
        write(kvProbeStreamData(*stream, options->level).data);
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "kvprobe: stream %llu: %s\n", static_cast<unsigned long long>(number), failure.what());
        return 1;
    }
    return 0;
}

int streams(const QString &path, const QStringList &arguments)
{
    const std::optional<Options> options = parseOptions(arguments, false, true);
    if (!options)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, options->password, &status);
    if (!document)
        return status;
    QByteArray out = "{";
    for (const uint64_t number : objectNumbers(*document)) {
        auto stream = kv_cast<KVPDFObjectStream>(resolve(*document, number).object);
        if (!stream)
            continue;
        QByteArray entry;
        try {
            const KVProbeStreamData data = kvProbeStreamData(*stream, options->level);
            QByteArray filters = "[";
            for (const QByteArray &filter : data.filters) {
                if (filters.size() > 1)
                    filters.append(',');
                filters.append(kvProbeNameJson(filter));
            }
            filters.append(']');
            entry = "{\"sha256\":\"" + QCryptographicHash::hash(data.data, QCryptographicHash::Sha256).toHex()
                    + "\",\"length\":" + QByteArray::number(data.data.size()) + ",\"stored_sha256\":\""
                    + QCryptographicHash::hash(stream->rawData(), QCryptographicHash::Sha256).toHex()
                    + "\",\"filters\":" + filters + ",\"decoded\":" + (data.decoded ? "true" : "false")
                    + ",\"complete\":" + (data.complete ? "true" : "false") + '}';
        } catch (const std::exception &failure) {
            entry = "{\"error\":" + kvProbeQuoted(failure.what()) + '}';
        }
        if (out.size() > 1)
            out.append(',');
        out.append(kvProbeQuoted(objectKey(number, stream->generation())));
        out.append(':');
        out.append(entry);
    }
    out.append("}\n");
    write(out);
    return 0;
}
}

// {"key": "<hex>"}: the file key the password gives (empty for a plain file).
int key(const QString &path, const QStringList &arguments)
{
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, optionValue(arguments, QStringLiteral("--password")), &status);
    if (!document)
        return status;
    QJsonObject out;
    out[QStringLiteral("key")] = QString::fromLatin1(document->fileKey().toHex());
    print(out);
    return 0;
}

// Opens IN (with --password), optionally sets new passwords (--user, --owner; both empty
// removes them) and writes the full rewrite to OUT. Exits 0 only when OUT was written.
int save(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return usage();
    const QString in = arguments[0];
    const QString out = arguments[1];
    const QStringList options = arguments.mid(2);
    int status = 0;
    std::shared_ptr<KVPDFDocument> document =
        kvProbeOpen(in, optionValue(options, QStringLiteral("--password")), &status, false);
    if (!document)
        return status;
    const QString user = optionValue(options, QStringLiteral("--user"));
    const QString owner = optionValue(options, QStringLiteral("--owner"));
    if (!user.isNull() || !owner.isNull())
        document->setUserPassword(user, owner, 0xFFFFFFFC);
    const QString level = optionValue(options, QStringLiteral("--compression"));
    bool levelRead = true;
    const int compression = level.isNull() ? 0 : level.toInt(&levelRead);
    if (!levelRead)
        return usage();
    if (!document->writeUpdatedDocument(out, {{QStringLiteral("compression"), compression}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        return 5;
    }
    QJsonObject result;
    result[QStringLiteral("written")] = out;
    print(result);
    return 0;
}

// In KVProbeImprints.cpp.
int kvprobeAddImprint(const QStringList &arguments);
int kvprobeImprints(const QString &path, const QStringList &options);

int main(int argc, char **argv)
{
    // Drawing a field needs a GUI application, which the other subcommands do without.
    if (argc > 1 && qstrcmp(argv[1], "fill") == 0)
        return kvprobeFill(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "add-note") == 0)
        return kvprobeAddNote(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "add-freetext") == 0)
        return kvprobeAddFreeText(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "doc") == 0)
        return kvprobeDoc(argc, argv);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return usage();
    const QString command = args[1];
    if (command == QLatin1String("annots"))
        return kvprobeAnnots(args[2], args.mid(3));
    if (command == QLatin1String("outline"))
        return kvprobeOutline(args[2], args.mid(3));
    if (command == QLatin1String("links"))
        return kvprobeLinks(args[2], args.mid(3));
    if (command == QLatin1String("fields"))
        return kvprobeFields(args[2], args.mid(3));
    if (command == QLatin1String("key"))
        return key(args[2], args.mid(3));
    if (command == QLatin1String("save"))
        return save(args.mid(2));
    if (command == QLatin1String("add-imprint"))
        return kvprobeAddImprint(args.mid(2));
    if (command == QLatin1String("imprints"))
        return kvprobeImprints(args[2], args.mid(3));
    if (command == QLatin1String("fonts"))
        return kvprobeFonts(args[2], args.mid(3));
    if (command == QLatin1String("runs"))
        return kvprobeRuns(args[2], args.mid(3));
    if (command == QLatin1String("toggle"))
        return kvprobeToggle(args.mid(2));
    if (command == QLatin1String("add-button"))
        return kvprobeAddButton(args.mid(2));
    if (command == QLatin1String("choose"))
        return kvprobeChoose(args.mid(2));
    if (command == QLatin1String("images"))
        return kvprobeImages(args[2], args.mid(3));
    if (command == QLatin1String("ocr-text"))
        return kvprobeOCRText(args[2], args.mid(3));
    if (command == QLatin1String("remove-ocr-text"))
        return kvprobeRemoveOCRText(args.mid(2));
    if (command == QLatin1String("blank-image"))
        return kvprobeBlankImage(args.mid(2));
    if (command == QLatin1String("image-pdf"))
        return kvprobeImagePDF(args.mid(2));
    if (command == QLatin1String("text"))
        return kvprobeText(args[2], args.mid(3));
    if (command == QLatin1String("charpos"))
        return kvprobeCharPos(args[2], args.mid(3));
    if (command == QLatin1String("clear"))
        return kvprobeClear(args[2], args.mid(3));
    if (command == QLatin1String("compose"))
        return kvprobeCompose(args[2], args.mid(3));
    if (command == QLatin1String("info"))
        return info(args[2], args.mid(3));
    if (command == QLatin1String("object"))
        return object(args[2], args.mid(3));
    if (command == QLatin1String("objects"))
        return objects(args[2], args.mid(3));
    if (command == QLatin1String("stream"))
        return stream(args[2], args.mid(3));
    if (command == QLatin1String("streams"))
        return streams(args[2], args.mid(3));
    return usage();
}
