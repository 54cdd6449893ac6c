#pragma once
// What the document and page tests share: a prompter that answers from a script and records
// what it was asked, notifications recorded by name, and the event loop run until a condition
// holds.
#include "JXFolivoDocument.h"
#include "KVNotificationCenter.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

class JXScriptedPrompter : public JXFolivoPrompter {
public:
    // Answered in order with OK and the text; once they run out, the request is cancelled.
    std::deque<QString> answers;
    bool consent = false;
    std::vector<JXPasswordPrompt> prompts;
    std::vector<JXAlert> alerts;
    int redrawAsked = 0;
    int ended = 0;
    QElapsedTimer sinceLastAnswer;

    void askPassword(JXFolivoDocument &, const JXPasswordPrompt &prompt,
                     std::function<void(int, const QString &)> done) override
    {
        prompts.push_back(prompt);
        int code = kCancel;
        QString answer;
        if (!answers.empty()) {
            code = kOkay;
            answer = answers.front();
            answers.pop_front();
        }
        QTimer::singleShot(0, [this, code, answer, done = std::move(done)] {
            sinceLastAnswer.start();
            done(code, answer);
        });
    }
    void endPasswordRequest(JXFolivoDocument &) override { ++ended; }
    void alert(JXFolivoDocument &, const JXAlert &alert) override { alerts.push_back(alert); }
    bool redrawConsent(JXFolivoDocument &) override
    {
        ++redrawAsked;
        return consent;
    }
};

struct JXRecordedNotification {
    QString name;
    const void *sender = nullptr;
    QVariantMap userInfo;
};

// Records the named notifications from any sender while alive.
class JXNotificationRecorder {
public:
    explicit JXNotificationRecorder(const QStringList &names)
    {
        for (const QString &name : names)
            m_tokens.push_back(KVNotificationCenter::defaultCenter().observe(
                name, nullptr, [this](const KVNotification &note) {
                    posted.push_back({note.name, note.sender, note.userInfo});
                }));
    }
    std::vector<JXRecordedNotification> posted;
    QStringList names() const
    {
        QStringList list;
        for (const auto &note : posted)
            list.push_back(note.name);
        return list;
    }

private:
    std::vector<KVObservation> m_tokens;
};

// Runs the event loop until `done` holds or `timeoutMs` passes; answers `done()`.
inline bool spinUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}
