#pragma once
// Services of the running process: when the user last acted, how many processors there are,
// a private folder for this run's temporary files, and the user's folder for sockets and other
// run-time files.
//
// Threads: every function may be called from any thread.
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

class QFile;

// The time of the user's last press, drag, release or redraw in a document or thumbnail view.
// Background drawing threads read it, without a lock, to hold back while the user acts. A
// steady clock, so a change of the wall clock neither stalls nor hurries them. Before the first
// set it is the clock's epoch (long ago).
std::chrono::steady_clock::time_point lastInteractionTime();
void setLastInteractionTime(std::chrono::steady_clock::time_point when = std::chrono::steady_clock::now());

class JXNProcessors {
public:
    // The processors the system has online; at least 1.
    static int32_t numberOfProcessors();
};

// This run's private temporary folder: made on first use under the system's temporary folder
// (TMPDIR, else /tmp) with mode 0700 and a name no one could guess, the same for the rest of
// the run, and removed with everything in it when the process exits normally (a child forked
// from this process leaves it alone). Empty when it cannot be made (the reason is logged).
QString kvTemporaryFolder();

// Creates `name` in the private temporary folder, exclusively (an existing file or link of that
// name makes it fail; nothing is followed) and readable and writable by the user only (0600),
// and answers it open for reading and writing. nullptr on failure, with the reason in `error`
// when given: a name that is empty, ".", "..", or holds a '/', a name already taken, no folder.
std::unique_ptr<QFile> kvCreateTemporaryFile(const QString &name, QString *error = nullptr);

// The user's folder for run-time files (local sockets): XDG_RUNTIME_DIR when it names an
// absolute path to a real folder (not a link) of this user that no one else may enter; else a
// folder "folivo-runtime-<uid>" under the system's temporary folder, made with mode 0700 when
// absent and used only when it is such a folder (a looser mode of our own folder is tightened;
// a folder of another user or a link is refused). Kept across runs. Empty when neither can be
// had (the reason is logged).
QString kvRuntimeFolder();
