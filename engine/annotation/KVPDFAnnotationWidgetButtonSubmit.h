#pragma once
// The push button that submits the form: a button whose action (A, else AA D or AA U) is
// SubmitForm with a URL file specification. Besides the standard action it carries the
// program's own submit options under the private widget key "FolivoFlags": 0x2 asks a save to
// put the submit information page first, 0x4 to add the fields "com.folivo.docID" and
// "com.folivo.docTitle" (KVPDFDocument::prepareFormSubmission); the form submission reads the
// other bits.
//
// The pressed state (toggleState) is display state only: it touches neither AS nor V.
// The URL, the action's Flags and "FolivoFlags" live in the widget dictionary; every setter
// writes them through at once, so a save carries them whatever groups the widget into a field.
//
// Ownership and threads: as KVPDFAnnotationWidgetButton. Bad input: an action whose F is no
// URL file specification gives no URL (logged); a non-integer "FolivoFlags" or Flags reads as 0.
#include "KVPDFAnnotationWidgetButton.h"

class KVPDFAnnotationWidgetButtonSubmit : public KVPDFAnnotationWidgetButton {
public:
    enum FolivoFlag : uint64_t {
        // On a page dictionary: this page is the submit information page.
        SubmitInformationPage = 0x1,
        AddSubmitInformationPage = 0x2,
        AddDocumentIDFields = 0x4,
    };

    // Loads a submit button; `onMouseDown` when the SubmitForm action is AA's D.
    KVPDFAnnotationWidgetButtonSubmit(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page,
                                      bool onMouseDown = false);
    ~KVPDFAnnotationWidgetButtonSubmit() override;
    // A new submit button named `name`: a push button captioned with the localised "Submit"
    // (KVPDFServices::localizedString). Its look is drawn when it has a size.
    static std::shared_ptr<KVPDFAnnotationWidgetButtonSubmit> submit(const QString &name, const QString &exportValue,
                                                                     KVPDFPage *page);

    // From H at load: 1 N, 2 O, 3 P or T, 0 otherwise (I, or no H).
    int highlightMode() const { return m_highlightMode; }
    void setSubmitOnMouseDown(bool down) { m_submitOnMouseDown = down; }
    bool submitOnMouseDown() const override { return m_submitOnMouseDown; }
    uint64_t folivoFlags() const { return m_folivoFlags; }
    // Also writes "FolivoFlags" into the widget dictionary.
    void setFolivoFlags(uint64_t flags);

    // 0 up, 1 down: 0 and 1 swap, any other value stays. Always true.
    bool toggleState() override;
    int currentState() const { return m_toggleState; }

    // A, else AA's D when the button submits on mouse down, else AA's U.
    std::shared_ptr<KVPDFObjectDictionary> action() const override;
    // The action's F as a URL (kvpdfSubmitURL), whatever the action's S says.
    QString submitURLString() const override;
    // A becomes a new SubmitForm action to `url` whose Flags are the old action's with the XFDF
    // bit (0x20) added; "FolivoFlags" becomes `flags`. AA stays.
    void setSubmitURLString(const QString &url, uint64_t flags);

    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationWidgetButtonSubmit() = default;
    void writeEntry(QByteArrayView key, const KVPDFObjectPtr &value);

    bool m_submitOnMouseDown = false;
    int m_toggleState = 0;
    int m_highlightMode = 0;
    uint64_t m_folivoFlags = 0;
};
