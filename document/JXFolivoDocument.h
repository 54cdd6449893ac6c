#pragma once
// The application document: one per open window. It owns the engine document (KVPDFDocument)
// that holds the file's bytes and objects, and the application pages (JXFolivoPage), one per
// engine page, in page order: every insertion and removal is made on both lists, so they
// always hold the same pages in the same order.
//
// Reading. readFromFile takes the road the file's type names (PDF, Word, image). An encrypted
// file asks for its password through the installed prompter (JXFolivoPrompter) after the read
// has returned true; until a password is accepted the document has an engine document and no
// pages. A file the engine cannot parse fails the read, after the engine's redraw offer was put
// to the prompter and declined. An unsupported security handler fails the read with an alert.
//
// Notifications go through KVNotificationCenter::defaultCenter() with the document as sender:
// the names are the class's static members. The engine document's own notifications
// ("KVPDFDocumentSaveProgress", "KVPDFDocumentWillSaveOutline") are posted there again with
// the engine document as sender, for every engine document the document comes to hold.
// pdfDocumentWillChange/pdfDocumentDidChange are emitted around every replacement of the
// engine document.
//
// Ownership: owns the engine document, the pages (shared_ptr; a page refers back raw), the
// engine documents its pages come from (extraDocuments) and the information controller.
// Threads: main thread only; the delayed password requests and the delayed close run through
// the main event loop.
#include "JXFolivoPrompter.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

class JXFolivoImprint;
class JXFolivoPage;
class KVDocInfoController;
class KVPDFDocument;

// How the change count moves, as the platform's documents count edits.
enum class JXDocumentChange { Done, Undone, Cleared };

class JXFolivoDocument : public QObject {
    Q_OBJECT
public:
    explicit JXFolivoDocument(QObject *parent = nullptr);
    ~JXFolivoDocument() override;

    // Notification names and userInfo keys.
    static QString pagesChangedNotification();         // "pagesChanged"
    static QString pagesSavedOrRevertedNotification(); // "pagesSavedOrReverted"
    static QString documentReorderedNotification();    // "documentReordered"
    static QString editModeNotification();             // "editMode"
    static QString preSaveNotification();              // "preSave"
    static QString pageAvailableNotification();        // "paveAvailable", spelled so
    static QString imprintKey();                       // "pageImprint"
    static QString imprintRectKey();                   // "pageImprintRect"
    static QString imprintPrevRectKey();               // "pageImprintPrevRect"

    // Type names that choose the read road.
    static QString pdfTypeName();  // "PDF"
    static QString wordTypeName(); // "Microsoft Word document"

    // Reading. `validate` changes nothing in the road (the blank page is read with false).
    bool readFromFile(const QString &path, const QString &type, bool validate = true);
    // Through a temporary file of the program's own private folder.
    bool readFromData(const QByteArray &data, const QString &type, QString *error = nullptr);
    bool makePDFDocumentFromImage(const QString &path);
    bool makePDFDocumentFromWordDocument(const QString &path);
    // The reason of the last failed read, for the caller to report; empty after a success.
    const QString &readError() const { return m_readError; }

    // The password request.
    void askPassword();
    void askPasswordSheetDidEnd(int returnCode, const QString &entry);
    const JXPasswordPrompt &passwordPrompt() const { return m_passwordPrompt; }
    int passwordTries() const { return m_passwordTries; }
    // The password given with the scripting open command for the document being opened, or
    // empty. Process-wide, as the application object keeps it.
    static void setPasswordFromOpenScriptCommand(const QString &password);
    static QString passwordFromOpenScriptCommand();
    const QString &documentPassword() const { return m_documentPassword; }
    void setDocumentPassword(const QString &password) { m_documentPassword = password; }
    bool isPasswordProtected() const { return !m_documentPassword.isEmpty(); }

    void pagesSavedOrReverted();
    void somePagesChanged();

    // The page array.
    const std::vector<std::shared_ptr<JXFolivoPage>> &pages() const { return m_pages; }
    size_t pageCount() const { return m_pages.size(); }
    // -1 when the page is not in the document.
    long indexOfPage(const JXFolivoPage *page) const;
    std::vector<std::shared_ptr<JXFolivoPage>> pagesInRange(size_t location, size_t length) const;
    std::vector<std::shared_ptr<JXFolivoPage>> savePageArray() const { return m_pages; }
    // Appends to the application pages only; posts nothing.
    void addPage(const std::shared_ptr<JXFolivoPage> &page);
    void insertPage(const std::shared_ptr<JXFolivoPage> &page, size_t index);
    // The page must be one of this document's.
    void removePage(const std::shared_ptr<JXFolivoPage> &page);
    void removePageAtIndex(size_t index);
    void setPages(std::vector<std::shared_ptr<JXFolivoPage>> pages);
    // -1 when the imprint is on no page of this document.
    long pageNoForImprint(const JXFolivoImprint *imprint) const;
    // Posts "pagesChanged" with only the entries whose arguments are present.
    void pageChanged(JXFolivoPage *page, JXFolivoImprint *imprint, const QRectF *rect, const QRectF *prevRect,
                     bool endEditing);
    // Every field name of every page, in page order, duplicates kept.
    QStringList widgetNames() const;

    // The engine document; null until a read, the first inserted page or setPages.
    const std::shared_ptr<KVPDFDocument> &pdfDocument() const { return m_pdfDocument; }
    std::vector<std::shared_ptr<KVPDFDocument>> &extraDocuments() { return m_extraDocuments; }
    bool wasCreatedFromImage() const { return m_wasCreatedFromImage; }

    int editMode() const { return m_editMode; }
    void setEditMode(int mode);
    bool performingOCR() const { return m_performingOCR; }
    void setPerformingOCR(bool on) { m_performingOCR = on; }

    // Edits counted as the platform counts them: done +1, undone -1, cleared 0.
    void updateChangeCount(JXDocumentChange change);
    int changeCount() const { return m_changeCount; }
    bool isDocumentEdited() const { return m_changeCount != 0; }

    // The information controller, pointed at this document.
    KVDocInfoController &infoController();

    // The window that shows the document (a widget of the display layer), or null.
    QObject *window() const { return m_window; }
    void setWindow(QObject *window) { m_window = window; }
    // The prompter of this document; the process-wide default when none is set, and a silent
    // one when neither is.
    JXFolivoPrompter &prompter() const;
    void setPrompter(std::shared_ptr<JXFolivoPrompter> prompter) { m_prompter = std::move(prompter); }
    static void setDefaultPrompter(std::shared_ptr<JXFolivoPrompter> prompter);

    // Closes the document (after three wrong passwords, or a cancelled request): emits closed().
    void close();
    bool isClosed() const { return m_closed; }

    QString description() const;

    // Geometry

signals:
    void pdfDocumentWillChange();
    void pdfDocumentDidChange();
    void closed();
    void documentEditedChanged(bool edited);

private:
    // Replaces the engine document between the two signals and installs the notification
    // bridge on the new one.
    void setPDFDocument(std::shared_ptr<KVPDFDocument> document);
    bool engineRead(const QString &path);
    void wrapEnginePages();
    bool readBlankPage();
    void schedulePasswordRequest();

    std::unique_ptr<KVDocInfoController> m_infoController;
    std::shared_ptr<KVPDFDocument> m_pdfDocument;
    // Geometry
    QRectF m_documentBounds;
    bool m_computedDocumentBounds = false;
    // end Geometry
    bool m_wasCreatedFromImage = false;
    std::vector<std::shared_ptr<JXFolivoPage>> m_pages;
    int m_editMode = 0;
    std::vector<std::shared_ptr<KVPDFDocument>> m_extraDocuments;
    JXPasswordPrompt m_defaultPasswordPrompt;
    JXPasswordPrompt m_passwordPrompt;
    int m_passwordTries = 0;
    QString m_documentPassword;
    QString m_passwordFromSaveScriptCommand;
    bool m_performingOCR = false;
    int m_changeCount = 0;
    QString m_readError;
    QPointer<QObject> m_window;
    std::shared_ptr<JXFolivoPrompter> m_prompter;
    bool m_closed = false;
};
