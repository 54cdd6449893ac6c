#pragma once
// What the engine asks of the program around it, in one value: the renderer that redraws a
// file the engine cannot parse, the pool of imagers that draw pages, the paper a page without
// a MediaBox gets, the default text font, the annotation classes by Subtype and field type, and the table of local
// files this session's image dictionaries were made from.
//
// Who installs: the application, once at start, with everything it provides; it installs a
// changed copy of its services when the user picks another default paper. Tests install
// through Installer, which puts back what was installed before when it goes out of scope, so a
// failing assertion leaves nothing of its test behind.
// Nothing installed: the engine runs on default services, as it did before anything could be
// installed: no redraw (a file that does not parse opens broken), no imager pool (drawing goes
// without), US Letter portrait, Helvetica 12, base annotations only, and a session file-name table of its own.
// Threads: install and installed may be called from any thread. installed() answers the
// services as they were when it was called and they stay unchanged while held, so a reader sees
// one installation whole (a page reads paper size and orientation as one pair). Installers nest
// and end in reverse order.
// Ownership: a copy of a services value shares its imager pool and session file-name table, so
// installing a changed copy keeps the names this session remembered.
//
// The shared integers of the parser (KVPDFObjectDirectInteger) are not here: they are a fixed
// table of the syntax layer that nothing installs.
#include "KVPDFImager.h"

#include <QByteArray>
#include <QHash>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

class KVPDFAnnotation;
class KVPDFObjectDictionary;
class KVPDFPage;

// Answers the redrawn PDF bytes of `data` page by page, or empty. The engine links no renderer.
using KVPDFRedrawFunction = std::function<QByteArray(const QByteArray &data)>;

// Makes the annotation object for `dictionary` (the resolved annotation dictionary) of type
// `subtype`; nullptr refuses the dictionary, which then becomes a base annotation.
using KVPDFAnnotationFactory = std::function<std::shared_ptr<KVPDFAnnotation>(
    const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &subtype, KVPDFPage *page)>;

// The program's default text font: a family or PostScript name and a size in points.
struct KVPDFDefaultFont {
    QString name = QStringLiteral("Helvetica");
    double size = 12;
};
// Answers the program's default text font (the user's choice); called on the thread that reads
// or makes a free-text box, so it must be safe to call from any thread and must not throw.
using KVPDFDefaultFontFunction = std::function<KVPDFDefaultFont()>;

// The paper of a page without a MediaBox, in points.
struct KVPDFPaper {
    QSizeF size{612, 792};
    bool landscape = false;

    QSizeF orientedSize() const { return landscape ? size.transposed() : size; }
};

// The local file each image dictionary of this session was made from (see
// KVPDFImprint::setImageFileName). Dictionaries are held weakly; an entry whose dictionary is
// gone is dropped at the next remember. Locks itself.
class KVPDFSessionFileNames {
public:
    void remember(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QString &path);
    // The path remembered for this very dictionary object while it lives, or a null string.
    QString pathFor(const KVPDFObjectDictionary &dictionary) const;

private:
    struct Entry {
        std::weak_ptr<KVPDFObjectDictionary> dictionary;
        QString path;
    };
    mutable std::mutex m_lock;
    std::unordered_map<const KVPDFObjectDictionary *, Entry> m_entries;
};

// The engine's own annotation classes, by Subtype and by field type. Made once, on first use,
// by kvpdfRegisterEngineAnnotationClasses (defined beside those classes, in annotation/, and
// called here rather than by self-registering statics, which a static library may drop).
// Factories of the installed services take precedence over these.
struct KVPDFAnnotationClasses {
    QHash<QByteArray, KVPDFAnnotationFactory> annotationFactories;
    QHash<QByteArray, KVPDFAnnotationFactory> widgetFactories;

    // Made on the first call, from any thread; unchanged afterwards.
    static const KVPDFAnnotationClasses &engine();
};
void kvpdfRegisterEngineAnnotationClasses(KVPDFAnnotationClasses &classes);

struct KVPDFServices {
    // Offered for a file whose parse fails, when the opener's consent agrees. Empty: none.
    KVPDFRedrawFunction redraw;
    // Draws pages for the engine; see KVPDFImager.h. Null: no drawings.
    std::shared_ptr<KVPDFImager::Pool> imagerPool;
    KVPDFPaper defaultPaper;
    // The class for an annotation Subtype ("Link", "Ink" ...), beyond or in place of the
    // engine's own (KVPDFAnnotationClasses). For "Widget" the field type (FT of the field
    // dictionary: a Parent holding FT, else the widget; see KVPDFFormField) picks a factory of
    // widgetFactories first; without one the "Widget" entry serves.
    QHash<QByteArray, KVPDFAnnotationFactory> annotationFactories;
    QHash<QByteArray, KVPDFAnnotationFactory> widgetFactories;
    // The user's language's text for a key of the program's string table ("Submit",
    // "Untitled"); empty: the key itself.
    std::function<QString(const QString &key)> localizedStrings;
    // The default text font of a free-text box whose DA names none. Empty: Helvetica 12.
    KVPDFDefaultFontFunction defaultFont;
    // Never null in an installed value.
    std::shared_ptr<KVPDFSessionFileNames> sessionFileNames = std::make_shared<KVPDFSessionFileNames>();

    // The installed provider's font, or Helvetica 12 without one. An answer without a name
    // takes Helvetica, one whose size is not a finite number above 0 takes 12.
    static KVPDFDefaultFont defaultTextFont();

    // The services in force; never null.
    static std::shared_ptr<const KVPDFServices> installed();
    // The installed services' text for `key`, or `key` when they have none (or answer a null string).
    static QString localizedString(const QString &key);
    // Puts `services` in force for the whole process.
    static void install(KVPDFServices services);

    // Puts `services` in force for its own lifetime, then puts back what was in force before.
    class Installer {
    public:
        explicit Installer(KVPDFServices services);
        ~Installer();
        Installer(const Installer &) = delete;
        Installer &operator=(const Installer &) = delete;

    private:
        std::shared_ptr<const KVPDFServices> m_previous;
    };

private:
    static std::shared_ptr<const KVPDFServices> exchange(std::shared_ptr<const KVPDFServices> services);
};
