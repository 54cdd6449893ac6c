#include "JXFolivoDialogPrompter.h"

#include "JXFolivoDocument.h"
#include "document/JXDocumentTestSupport.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// Where the shots are kept for a person to look at.
QString shotsDir()
{
    const QString dir = QDir::current().filePath(QStringLiteral("shots"));
    QDir().mkpath(dir);
    return dir;
}

QString encryptedFixture(const QTemporaryDir &dir, int bits)
{
    const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
    QFile file(plain);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(PdfBuilder::withPages(2).build());
    file.close();
    const QString out = dir.filePath(QStringLiteral("enc%1.pdf").arg(bits));
    QStringList arguments{QStringLiteral("--allow-weak-crypto"), QStringLiteral("--encrypt"), QStringLiteral("view"),
                          QStringLiteral("master"), QString::number(bits)};
    if (bits == 128)
        arguments << QStringLiteral("--use-aes=n");
    arguments << QStringLiteral("--") << plain << out;
    return runTool(QStringLiteral("qpdf"), arguments).exitCode == 0 ? out : QString();
}
}

TEST(JXFolivoDialogPrompterTest, PasswordDialogOnTheDocumentWindowShowsTheFailurePrompt)
{
    QTemporaryDir dir;
    const QString path = encryptedFixture(dir, 128);
    ASSERT_FALSE(path.isEmpty());
    QMainWindow window;
    window.resize(640, 480);
    window.show();
    auto prompter = std::make_shared<JXFolivoDialogPrompter>();
    JXFolivoDocument document;
    document.setWindow(&window);
    document.setPrompter(prompter);
    bool closed = false;
    QObject::connect(&document, &JXFolivoDocument::closed, [&] { closed = true; });
    ASSERT_TRUE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));

    ASSERT_TRUE(spinUntil([&] {
        auto dialog = prompter->passwordDialog(document);
        return dialog && dialog->isVisible();
    }));
    JXPasswordDialog *dialog = prompter->passwordDialog(document);
    EXPECT_EQ(dialog->parentWidget(), &window);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->entryField()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(dialog->promptLabel()->font().bold());
    const QString firstPrompt = dialog->promptLabel()->text();

    dialog->entryField()->setText(QStringLiteral("wrong"));
    dialog->accept();
    ASSERT_TRUE(spinUntil([&] { return dialog->isVisible() && dialog->promptLabel()->text() != firstPrompt; }));
    EXPECT_EQ(dialog->promptLabel()->text(), QStringLiteral("Password Incorrect. Try Again."));
    EXPECT_TRUE(dialog->promptLabel()->font().bold());
    EXPECT_EQ(dialog->promptLabel()->font().pointSizeF(), 12);
    EXPECT_TRUE(dialog->entryField()->text().isEmpty());
    dialog->grab().save(QDir(shotsDir()).filePath(QStringLiteral("password-after-wrong-entry.png")));

    dialog->entryField()->setText(QStringLiteral("view"));
    dialog->accept();
    ASSERT_TRUE(spinUntil([&] { return document.pageCount() == 2; }));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(closed);

    // Cancel closes a document at once.
    JXFolivoDocument cancelled;
    cancelled.setWindow(&window);
    cancelled.setPrompter(prompter);
    bool cancelledClosed = false;
    QObject::connect(&cancelled, &JXFolivoDocument::closed, [&] { cancelledClosed = true; });
    ASSERT_TRUE(cancelled.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    ASSERT_TRUE(spinUntil([&] {
        auto shown = prompter->passwordDialog(cancelled);
        return shown && shown->isVisible();
    }));
    prompter->passwordDialog(cancelled)->reject();
    EXPECT_TRUE(spinUntil([&] { return cancelledClosed; }, 500));
}

TEST(JXFolivoDialogPrompterTest, UnsupportedHandlerAlertIsCriticalOnTheDocumentWindow)
{
    QTemporaryDir dir;
    const QString path = encryptedFixture(dir, 256);
    ASSERT_FALSE(path.isEmpty());
    QMainWindow window;
    window.resize(640, 480);
    window.show();
    auto prompter = std::make_shared<JXFolivoDialogPrompter>();
    JXFolivoDocument document;
    document.setWindow(&window);
    document.setPrompter(prompter);
    QString title, message;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QObject::connect(prompter.get(), &JXFolivoDialogPrompter::messageBoxShown, [&](QDialog *shown) {
        auto *box = qobject_cast<QMessageBox *>(shown);
        ASSERT_NE(box, nullptr);
        title = box->text();
        message = box->informativeText();
        icon = box->icon();
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_EQ(box->buttons().size(), 1);
        box->grab().save(QDir(shotsDir()).filePath(QStringLiteral("unsupported-security-alert.png")));
        box->accept();
    });
    EXPECT_FALSE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(title, QStringLiteral("Unsupported Security Handler"));
    EXPECT_EQ(message, QStringLiteral("FolivoPro does not support the security handler used for this PDF document."));
}
