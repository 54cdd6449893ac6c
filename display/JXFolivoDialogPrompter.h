#pragma once
// The document's questions as window-modal dialogs on the document's own window
// (JXFolivoDocument::window(), a QWidget; without one the dialogs are application-modal).
// The password request is a dialog of its own that stays up until the document ends it; the
// alert and the redraw offer are message boxes that return once answered.
//
// Ownership: the prompter owns the password dialogs it shows, one per document at a time, and
// deletes each when its document ends the request or goes away. Threads: main thread only.
#include "JXFolivoPrompter.h"

#include <QDialog>
#include <QPointer>

#include <map>

class QLabel;
class QLineEdit;

// The password request: its prompt, a secure entry field, OK and Cancel.
class JXPasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit JXPasswordDialog(QWidget *parent = nullptr);
    void setPrompt(const JXPasswordPrompt &prompt);
    QLabel *promptLabel() const { return m_prompt; }
    QLineEdit *entryField() const { return m_entry; }

private:
    QLabel *m_prompt = nullptr;
    QLineEdit *m_entry = nullptr;
};

class JXFolivoDialogPrompter : public QObject, public JXFolivoPrompter {
    Q_OBJECT
public:
    explicit JXFolivoDialogPrompter(QObject *parent = nullptr);
    ~JXFolivoDialogPrompter() override;

    void askPassword(JXFolivoDocument &document, const JXPasswordPrompt &prompt,
                     std::function<void(int code, const QString &entry)> done) override;
    void endPasswordRequest(JXFolivoDocument &document) override;
    void alert(JXFolivoDocument &document, const JXAlert &alert) override;
    bool redrawConsent(JXFolivoDocument &document) override;

    // The password dialog shown for `document`, or null.
    JXPasswordDialog *passwordDialog(const JXFolivoDocument &document) const;

signals:
    // Emitted when a message box is up, before it waits for its answer: tests answer it here.
    void messageBoxShown(QDialog *box);

private:
    std::map<const JXFolivoDocument *, QPointer<JXPasswordDialog>> m_passwordDialogs;
};
