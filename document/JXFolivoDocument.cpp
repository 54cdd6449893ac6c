#include "JXFolivoDocument.h"

#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVDocInfoController.h"
#include "KVLocalizedStrings.h"
#include "KVLog.h"
#include "KVNotificationCenter.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"
#include "KVProcess.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

namespace {
// The password request's own prompt, put back before each new request.
const QString kDefaultPasswordPrompt = QStringLiteral("This document is protected. Please enter its password.");
constexpr int kMaxPasswordTries = 3;

std::shared_ptr<JXFolivoPrompter> &defaultPrompter()
{
    static std::shared_ptr<JXFolivoPrompter> prompter;
    return prompter;
}

QString &openScriptCommandPassword()
{
    static QString password;
    return password;
}
}

JXFolivoPrompter::~JXFolivoPrompter() = default;

void JXFolivoSilentPrompter::askPassword(JXFolivoDocument &, const JXPasswordPrompt &,
                                         std::function<void(int, const QString &)> done)
{
    QTimer::singleShot(0, [done = std::move(done)] { done(kCancel, QString()); });
}

void JXFolivoSilentPrompter::endPasswordRequest(JXFolivoDocument &) { }

void JXFolivoSilentPrompter::alert(JXFolivoDocument &, const JXAlert &alert)
{
    kvLog(alert.title + QStringLiteral(": ") + alert.message);
}

bool JXFolivoSilentPrompter::redrawConsent(JXFolivoDocument &) { return false; }

JXFolivoDocument::JXFolivoDocument(QObject *parent) : QObject(parent)
{
    m_defaultPasswordPrompt.text = kDefaultPasswordPrompt;
    m_passwordPrompt = m_defaultPasswordPrompt;
    m_pages.reserve(50);
}

JXFolivoDocument::~JXFolivoDocument()
{
    if (m_pdfDocument)
        m_pdfDocument->setNotificationHandler({});
    for (const auto &page : m_pages)
        page->setDocument(nullptr);
}

QString JXFolivoDocument::pagesChangedNotification() { return QStringLiteral("pagesChanged"); }
QString JXFolivoDocument::pagesSavedOrRevertedNotification() { return QStringLiteral("pagesSavedOrReverted"); }
QString JXFolivoDocument::documentReorderedNotification() { return QStringLiteral("documentReordered"); }
QString JXFolivoDocument::editModeNotification() { return QStringLiteral("editMode"); }
QString JXFolivoDocument::preSaveNotification() { return QStringLiteral("preSave"); }
QString JXFolivoDocument::pageAvailableNotification() { return QStringLiteral("paveAvailable"); }
QString JXFolivoDocument::imprintKey() { return QStringLiteral("pageImprint"); }
QString JXFolivoDocument::imprintRectKey() { return QStringLiteral("pageImprintRect"); }
QString JXFolivoDocument::imprintPrevRectKey() { return QStringLiteral("pageImprintPrevRect"); }
QString JXFolivoDocument::pdfTypeName() { return QStringLiteral("PDF"); }
QString JXFolivoDocument::wordTypeName() { return QStringLiteral("Microsoft Word document"); }

// ---- The engine document -----------------------------------------------------------------

void JXFolivoDocument::setPDFDocument(std::shared_ptr<KVPDFDocument> document)
{
    emit pdfDocumentWillChange();
    if (m_pdfDocument)
        m_pdfDocument->setNotificationHandler({});
    m_pdfDocument = std::move(document);
    if (m_pdfDocument) {
        const void *sender = m_pdfDocument.get();
        m_pdfDocument->setNotificationHandler([sender](const QString &name, const QVariantMap &info) {
            KVNotificationCenter::defaultCenter().post(name, sender, info);
        });
    }
    emit pdfDocumentDidChange();
}

JXFolivoPrompter &JXFolivoDocument::prompter() const
{
    if (m_prompter)
        return *m_prompter;
    if (defaultPrompter())
        return *defaultPrompter();
    static JXFolivoSilentPrompter silent;
    return silent;
}

void JXFolivoDocument::setDefaultPrompter(std::shared_ptr<JXFolivoPrompter> prompter)
{
    defaultPrompter() = std::move(prompter);
}

void JXFolivoDocument::setPasswordFromOpenScriptCommand(const QString &password)
{
    openScriptCommandPassword() = password;
}

QString JXFolivoDocument::passwordFromOpenScriptCommand() { return openScriptCommandPassword(); }

// ---- Reading -----------------------------------------------------------------------------------

bool JXFolivoDocument::readFromFile(const QString &path, const QString &type, bool validate)
{
    Q_UNUSED(validate);
    m_readError.clear();
    if (m_pdfDocument)
        setPDFDocument(nullptr);
    for (const auto &page : m_pages)
        page->setDocument(nullptr);
    m_pages.clear();
    m_pages.reserve(50);
    m_computedDocumentBounds = false;
    m_documentBounds = QRectF();

    if (type.startsWith(QLatin1String("Microsoft Word"))) {
        if (makePDFDocumentFromWordDocument(path))
            return true;
        if (!m_pdfDocument)
            return false;
    } else if (type == QLatin1String("com.adobe.pdf") || type.startsWith(QLatin1String("PDF"))) {
        return engineRead(path);
    } else {
        if (makePDFDocumentFromImage(path))
            return true;
        return engineRead(path);
    }
    wrapEnginePages();
    return true;
}

bool JXFolivoDocument::engineRead(const QString &path)
{
    KVPDFOpenResult result = KVPDFOpenOK;
    auto consent = [this] { return prompter().redrawConsent(*this); };
    setPDFDocument(KVPDFDocument::documentWithContentsOfFile(path, &result, consent));
    if (!m_pdfDocument) {
        m_readError = QStringLiteral("The file could not be read as a PDF document.");
        return false;
    }
    switch (result) {
    case KVPDFOpenNeedsPassword: {
        if (m_documentPassword.isEmpty())
            m_documentPassword = passwordFromOpenScriptCommand();
        if (!m_documentPassword.isEmpty()
            && m_pdfDocument->validatePassword(m_documentPassword) == KVPDFPasswordResult::Accepted) {
            wrapEnginePages();
            infoController().documentLoaded();
            return true;
        }
        m_passwordPrompt = m_defaultPasswordPrompt;
        schedulePasswordRequest();
        return true;
    }
    case KVPDFOpenUnsupportedSecurity: {
        JXAlert alert;
        alert.style = JXAlertStyle::Critical;
        alert.title = perhapsProString(KVLocalizedString(QStringLiteral("Unsupported Security Handler")));
        alert.message = perhapsProString(
            KVLocalizedString(QStringLiteral("Folivo does not support the security handler used for this PDF document.")));
        m_readError = alert.message;
        prompter().alert(*this, alert);
        setPDFDocument(nullptr);
        return false;
    }
    case KVPDFOpenBroken:
        // Nothing of the file could be read: saying it opened would hand the user an empty
        // document in place of theirs.
        if (m_pdfDocument->pageCount() == 0) {
            m_readError = QStringLiteral("The file could not be read as a PDF document.");
            setPDFDocument(nullptr);
            return false;
        }
        break;
    default:
        break;
    }
    wrapEnginePages();
    return true;
}

void JXFolivoDocument::wrapEnginePages()
{
    if (m_pdfDocument) {
        for (const auto &pdfPage : m_pdfDocument->pages()) {
            if (auto page = JXFolivoPage::pageWith(pdfPage, this))
                addPage(page);
        }
    }
    somePagesChanged();
    pagesSavedOrReverted();
}

bool JXFolivoDocument::readBlankPage()
{
    if (m_pdfDocument)
        setPDFDocument(nullptr);
    for (const auto &page : m_pages)
        page->setDocument(nullptr);
    m_pages.clear();
    m_computedDocumentBounds = false;
    m_documentBounds = QRectF();
    KVPDFOpenResult result = KVPDFOpenOK;
    setPDFDocument(KVPDFDocument::documentWithData(KVPDFBlankPage(), &result));
    if (!m_pdfDocument)
        return false;
    wrapEnginePages();
    return true;
}

bool JXFolivoDocument::readFromData(const QByteArray &data, const QString &type, QString *error)
{
    std::unique_ptr<QFile> file;
    QString reason;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        QString name = QStringLiteral("com.quorvane.folivo.data");
        static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int i = 0; i < 8; ++i)
            name += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
        file = kvCreateTemporaryFile(name, &reason);
    }
    if (!file) {
        if (error)
            *error = reason;
        m_readError = reason;
        return false;
    }
    const QString path = file->fileName();
    const bool written = file->write(data) == data.size() && file->flush();
    file->close();
    bool read = false;
    if (written)
        read = readFromFile(path, type, true);
    else
        m_readError = QStringLiteral("The data could not be written to a temporary file.");
    QFile::remove(path);
    if (!read && error)
        *error = m_readError;
    return read;
}

bool JXFolivoDocument::makePDFDocumentFromImage(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool JXFolivoDocument::makePDFDocumentFromWordDocument(const QString &path)
{
    Q_UNUSED(path);
    m_readError = QStringLiteral("Word documents cannot be read.");
    return false;
}

// ---- The password request -------------------------------------------------------------------

void JXFolivoDocument::schedulePasswordRequest()
{
    QTimer::singleShot(1, this, &JXFolivoDocument::askPassword);
}

void JXFolivoDocument::askPassword()
{
    if (m_closed)
        return;
    QPointer<JXFolivoDocument> self(this);
    prompter().askPassword(*this, m_passwordPrompt, [self](int code, const QString &entry) {
        if (self)
            self->askPasswordSheetDidEnd(code, entry);
    });
}

void JXFolivoDocument::askPasswordSheetDidEnd(int returnCode, const QString &entry)
{
    if (returnCode != JXFolivoPrompter::kOkay) {
        prompter().endPasswordRequest(*this);
        close();
        return;
    }
    if (!entry.isEmpty() && m_pdfDocument
        && m_pdfDocument->validatePassword(entry) == KVPDFPasswordResult::Accepted) {
        for (const auto &pdfPage : m_pdfDocument->pages()) {
            if (auto page = JXFolivoPage::pageWith(pdfPage, this))
                addPage(page);
        }
        somePagesChanged();
        m_documentPassword = entry;
        infoController().documentLoaded();
        pagesSavedOrReverted();
        prompter().endPasswordRequest(*this);
        return;
    }
    ++m_passwordTries;
    if (m_passwordTries == 1) {
        m_passwordPrompt.text = KVLocalizedString(QStringLiteral("Password Incorrect. Try Again."));
        m_passwordPrompt.bold = true;
        m_passwordPrompt.pointSize = 12;
    }
    if (m_passwordTries < kMaxPasswordTries)
        schedulePasswordRequest();
    else
        QTimer::singleShot(1000, this, &JXFolivoDocument::close);
    prompter().endPasswordRequest(*this);
}

void JXFolivoDocument::close()
{
    if (m_closed)
        return;
    m_closed = true;
    emit closed();
}

// ---- Notifications ---------------------------------------------------------------------------

void JXFolivoDocument::pagesSavedOrReverted()
{
    KVNotificationCenter::defaultCenter().post(pagesSavedOrRevertedNotification(), this);
}

void JXFolivoDocument::somePagesChanged()
{
    KVNotificationCenter::defaultCenter().post(pagesChangedNotification(), this);
}

void JXFolivoDocument::pageChanged(JXFolivoPage *page, JXFolivoImprint *imprint, const QRectF *rect,
                                   const QRectF *prevRect, bool endEditing)
{
    QVariantMap info;
    if (page)
        info.insert(QStringLiteral("page"), QVariant::fromValue(page));
    if (imprint)
        info.insert(imprintKey(), QVariant::fromValue(imprint));
    if (rect)
        info.insert(imprintRectKey(), *rect);
    if (prevRect)
        info.insert(imprintPrevRectKey(), *prevRect);
    if (endEditing)
        info.insert(QStringLiteral("endEditing"), QStringLiteral("true"));
    KVNotificationCenter::defaultCenter().post(pagesChangedNotification(), this, info);
}

void JXFolivoDocument::setEditMode(int mode)
{
    m_editMode = mode;
    KVNotificationCenter::defaultCenter().post(editModeNotification(), this);
}

void JXFolivoDocument::updateChangeCount(JXDocumentChange change)
{
    const bool wasEdited = isDocumentEdited();
    switch (change) {
    case JXDocumentChange::Done:
        ++m_changeCount;
        break;
    case JXDocumentChange::Undone:
        --m_changeCount;
        break;
    case JXDocumentChange::Cleared:
        m_changeCount = 0;
        break;
    }
    if (wasEdited != isDocumentEdited())
        emit documentEditedChanged(isDocumentEdited());
}

KVDocInfoController &JXFolivoDocument::infoController()
{
    if (!m_infoController)
        m_infoController = std::make_unique<KVDocInfoController>();
    m_infoController->setDocument(this);
    return *m_infoController;
}

// ---- The page array -----------------------------------------------------------------------

long JXFolivoDocument::indexOfPage(const JXFolivoPage *page) const
{
    for (size_t i = 0; i < m_pages.size(); ++i) {
        if (m_pages[i].get() == page)
            return long(i);
    }
    return -1;
}

std::vector<std::shared_ptr<JXFolivoPage>> JXFolivoDocument::pagesInRange(size_t location, size_t length) const
{
    if (location >= m_pages.size())
        return {};
    const size_t end = location + std::min(length, m_pages.size() - location);
    return {m_pages.begin() + qsizetype(location), m_pages.begin() + qsizetype(end)};
}

void JXFolivoDocument::addPage(const std::shared_ptr<JXFolivoPage> &page)
{
    if (page)
        m_pages.push_back(page);
}

void JXFolivoDocument::insertPage(const std::shared_ptr<JXFolivoPage> &page, size_t index)
{
    if (!page)
        return;
    index = std::min(index, m_pages.size());
    m_pages.insert(m_pages.begin() + qsizetype(index), page);
    page->setDocument(this);
    if (!m_pdfDocument) {
        KVPDFOpenResult result = KVPDFOpenOK;
        setPDFDocument(KVPDFDocument::documentWithData(KVPDFBlankPage(), &result));
        if (m_pdfDocument && m_pdfDocument->pageCount() > 0)
            m_pdfDocument->removePageAtIndex(0);
    }
    if (m_pdfDocument && page->pdfPage()) {
        m_pdfDocument->insertPage(page->pdfPage(), index);
        // The engine lists a copy of a page that its own document still lists: the page must
        // show what will be saved.
        if (auto listed = m_pdfDocument->pageAtIndex(index); listed && listed != page->pdfPage())
            page->resetFromKVPDFpage(listed);
    }
    somePagesChanged();
}

void JXFolivoDocument::removePage(const std::shared_ptr<JXFolivoPage> &page)
{
    const long index = indexOfPage(page.get());
    if (index >= 0)
        removePageAtIndex(size_t(index));
}

void JXFolivoDocument::removePageAtIndex(size_t index)
{
    if (index >= m_pages.size())
        return;
    m_pages.erase(m_pages.begin() + qsizetype(index));
    if (m_pdfDocument && index < m_pdfDocument->pageCount())
        m_pdfDocument->removePageAtIndex(index);
    somePagesChanged();
}

void JXFolivoDocument::setPages(std::vector<std::shared_ptr<JXFolivoPage>> pages)
{
    if (!m_pdfDocument) {
        readBlankPage();
        if (m_pdfDocument)
            KVDocInfoController::blankDocument(*m_pdfDocument);
    }
    m_pages = std::move(pages);
    std::vector<std::shared_ptr<KVPDFPage>> enginePages;
    enginePages.reserve(m_pages.size());
    for (const auto &page : m_pages) {
        if (page && page->pdfPage())
            enginePages.push_back(page->pdfPage());
    }
    if (m_pdfDocument) {
        m_pdfDocument->setPagesFromArray(std::move(enginePages));
        // The engine lists copies of pages their own documents still list: each page must show
        // what will be saved.
        size_t listedIndex = 0;
        for (const auto &page : m_pages) {
            if (!page || !page->pdfPage())
                continue;
            if (auto listed = m_pdfDocument->pageAtIndex(listedIndex++); listed && listed != page->pdfPage())
                page->resetFromKVPDFpage(listed);
        }
    }
    for (auto it = m_pages.rbegin(); it != m_pages.rend(); ++it) {
        if (*it)
            (*it)->setDocument(this);
    }
    KVNotificationCenter::defaultCenter().post(documentReorderedNotification(), this);
}

long JXFolivoDocument::pageNoForImprint(const JXFolivoImprint *imprint) const
{
    if (!imprint || !imprint->page())
        return -1;
    return indexOfPage(imprint->page());
}

QStringList JXFolivoDocument::widgetNames() const
{
    QStringList names;
    for (const auto &page : m_pages)
        names += page->widgetNames();
    return names;
}

QString JXFolivoDocument::description() const
{
    QString text = QString::asprintf("[JXFolivoDocument] (0x%llx)", (unsigned long long)quintptr(this));
    for (const auto &page : m_pages)
        text += QStringLiteral("\n") + page->description();
    return text;
}
