#include "JXFolivoDialogPrompter.h"

#include "JXFolivoDocument.h"
#include "KVLocalizedStrings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QWidget *windowOf(const JXFolivoDocument &document) { return qobject_cast<QWidget *>(document.window()); }

void makeModal(QDialog &dialog, QWidget *window)
{
    dialog.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
}
}

JXPasswordDialog::JXPasswordDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(KVLocalizedString(QStringLiteral("Password")));
    auto *layout = new QVBoxLayout(this);
    m_prompt = new QLabel(this);
    m_prompt->setWordWrap(true);
    m_entry = new QLineEdit(this);
    m_entry->setEchoMode(QLineEdit::Password);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_entry);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setMinimumWidth(360);
}

void JXPasswordDialog::setPrompt(const JXPasswordPrompt &prompt)
{
    m_prompt->setText(prompt.text);
    QFont font = QDialog::font();
    font.setBold(prompt.bold);
    if (prompt.pointSize > 0)
        font.setPointSizeF(prompt.pointSize);
    m_prompt->setFont(font);
}

JXFolivoDialogPrompter::JXFolivoDialogPrompter(QObject *parent) : QObject(parent) { }

JXFolivoDialogPrompter::~JXFolivoDialogPrompter()
{
    for (auto &[document, dialog] : m_passwordDialogs)
        delete dialog.data();
}

JXPasswordDialog *JXFolivoDialogPrompter::passwordDialog(const JXFolivoDocument &document) const
{
    const auto it = m_passwordDialogs.find(&document);
    return it == m_passwordDialogs.end() ? nullptr : it->second.data();
}

void JXFolivoDialogPrompter::askPassword(JXFolivoDocument &document, const JXPasswordPrompt &prompt,
                                         std::function<void(int, const QString &)> done)
{
    QWidget *window = windowOf(document);
    QPointer<JXPasswordDialog> &dialog = m_passwordDialogs[&document];
    if (!dialog) {
        dialog = new JXPasswordDialog(window);
        makeModal(*dialog, window);
        // The dialog goes with its document even when the document never ends the request.
        connect(&document, &QObject::destroyed, this, [this, key = &document] {
            if (auto it = m_passwordDialogs.find(key); it != m_passwordDialogs.end()) {
                delete it->second.data();
                m_passwordDialogs.erase(it);
            }
        });
    }
    dialog->disconnect(this);
    dialog->setPrompt(prompt);
    dialog->entryField()->clear();
    QPointer<JXPasswordDialog> shown = dialog;
    // Each request answers once, whichever way its dialog ends.
    auto answered = std::make_shared<bool>(false);
    auto finish = [shown, answered, done](int code) {
        if (*answered || !shown)
            return;
        *answered = true;
        const QString entry = shown->entryField()->text();
        done(code, entry);
    };
    connect(dialog, &QDialog::accepted, this, [finish] { finish(JXFolivoPrompter::kOkay); });
    connect(dialog, &QDialog::rejected, this, [finish] { finish(JXFolivoPrompter::kCancel); });
    dialog->open();
    dialog->entryField()->setFocus();
}

void JXFolivoDialogPrompter::endPasswordRequest(JXFolivoDocument &document)
{
    if (JXPasswordDialog *dialog = passwordDialog(document)) {
        dialog->disconnect(this);
        dialog->hide();
    }
}

void JXFolivoDialogPrompter::alert(JXFolivoDocument &document, const JXAlert &alert)
{
    QWidget *window = windowOf(document);
    QMessageBox box(window);
    box.setIcon(alert.style == JXAlertStyle::Critical      ? QMessageBox::Critical
                : alert.style == JXAlertStyle::Warning     ? QMessageBox::Warning
                                                           : QMessageBox::Information);
    box.setText(alert.title);
    box.setInformativeText(alert.message);
    box.setStandardButtons(QMessageBox::Ok);
    makeModal(box, window);
    QMetaObject::invokeMethod(this, [this, &box] { emit messageBoxShown(&box); }, Qt::QueuedConnection);
    box.exec();
}

bool JXFolivoDialogPrompter::redrawConsent(JXFolivoDocument &document)
{
    QWidget *window = windowOf(document);
    QMessageBox box(window);
    box.setIcon(QMessageBox::Warning);
    box.setText(perhapsProString(KVLocalizedString(QStringLiteral("This PDF document is damaged."))));
    box.setInformativeText(perhapsProString(KVLocalizedString(QStringLiteral(
        "Folivo can open a redrawn copy of it. Annotations and interactive form fields are lost in the copy."))));
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    makeModal(box, window);
    QMetaObject::invokeMethod(this, [this, &box] { emit messageBoxShown(&box); }, Qt::QueuedConnection);
    return box.exec() == QMessageBox::Ok;
}
