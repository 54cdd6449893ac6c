#pragma once
// The document information (the trailer's Info dictionary) of one document: the stamp put on
// it before every save and the information a new blank document gets. The inspector's pane
// over these entries is built with the inspector.
//
// Entries are changed by replacing the Info dictionary's entries with a changed copy; a
// document without an Info dictionary gets a new one on the first write. Threads: main thread.
#include <QDateTime>
#include <QString>

#include <memory>

class JXFolivoDocument;
class KVPDFDocument;
class KVPDFObjectDictionary;

class KVDocInfoController {
public:
    KVDocInfoController() = default;

    JXFolivoDocument *document() const { return m_document; }
    void setDocument(JXFolivoDocument *document);
    // Re-reads the entries from the document (nothing while it still awaits its password).
    void documentLoaded();
    int loadCount() const { return m_loadCount; }

    // The text of `name`, or `fallback` when there is no dictionary, no entry or no string.
    static QString valueFrom(const KVPDFObjectDictionary *info, const QString &name, const QString &fallback = {});
    // The Info dictionary of `document`, made (empty) and put into the trailer when missing;
    // nullptr for a document without a trailer.
    static std::shared_ptr<KVPDFObjectDictionary> ensureInfo(KVPDFDocument &document);
    // A document with a creator keeps its creator and producer; one without gets "FolivoPro"
    // for both. ModDate becomes `now`, and CreationDate too when missing.
    static void prepareToSave(KVPDFDocument &document, const QDateTime &now = QDateTime::currentDateTime());
    // Creator and Producer "FolivoPro", CreationDate and ModDate `now`, and empty Title,
    // Author, Subject and Keywords.
    static void blankDocument(KVPDFDocument &document, const QDateTime &now = QDateTime::currentDateTime());

private:
    JXFolivoDocument *m_document = nullptr;
    int m_loadCount = 0;
};
