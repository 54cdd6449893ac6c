#pragma once
// What the document asks of the user: a password, an acknowledgement of an alert, and whether
// to open a redrawn copy of a damaged file. The document layer has no widgets; the display
// layer installs a prompter that shows window-modal dialogs on the document's own window
// (JXFolivoDocument::window()), and tests install scripted ones.
//
// Threads: main thread only.
#include <QString>

#include <functional>
#include <memory>

class JXFolivoDocument;

// The password request's prompt as shown: its text and whether it is set in the bold system
// font (the prompt after a failed entry is, at 12 points).
struct JXPasswordPrompt {
    QString text;
    bool bold = false;
    double pointSize = 0; // 0: the dialog's own size
};

enum class JXAlertStyle { Warning, Informational, Critical };

struct JXAlert {
    JXAlertStyle style = JXAlertStyle::Warning;
    QString title;
    QString message;
};

class JXFolivoPrompter {
public:
    virtual ~JXFolivoPrompter();

    // Return codes of a password request.
    static constexpr int kCancel = 0;
    static constexpr int kOkay = 1;

    // Shows the password request for `document` and returns at once; `done` is called exactly
    // once, later, with kOkay and the entry or kCancel. The request stays up until
    // endPasswordRequest.
    virtual void askPassword(JXFolivoDocument &document, const JXPasswordPrompt &prompt,
                             std::function<void(int code, const QString &entry)> done) = 0;
    virtual void endPasswordRequest(JXFolivoDocument &document) = 0;
    // Shows the alert with its default button only and returns once it is acknowledged.
    virtual void alert(JXFolivoDocument &document, const JXAlert &alert) = 0;
    // Whether to open a redrawn copy of a file the engine could not parse, which loses its
    // annotations and form fields. Answers once the user decided.
    virtual bool redrawConsent(JXFolivoDocument &document) = 0;
};

// Asks nobody: a password request is cancelled, an alert is logged, a redraw declined. What a
// document uses until a prompter is installed.
class JXFolivoSilentPrompter : public JXFolivoPrompter {
public:
    void askPassword(JXFolivoDocument &document, const JXPasswordPrompt &prompt,
                     std::function<void(int code, const QString &entry)> done) override;
    void endPasswordRequest(JXFolivoDocument &document) override;
    void alert(JXFolivoDocument &document, const JXAlert &alert) override;
    bool redrawConsent(JXFolivoDocument &document) override;
};
