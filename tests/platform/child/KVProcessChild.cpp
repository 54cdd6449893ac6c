// Run by the process tests as a second process: prints the private temporary folder it made
// and that folder's mode, and with "fork" also whether the folder outlived a forked child's
// exit. The tests look for the folder after this process has gone.
#include "KVProcess.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const QString folder = kvTemporaryFolder();
    if (folder.isEmpty())
        return 1;
    if (!kvCreateTemporaryFile(QStringLiteral("page.png")))
        return 2;
    struct stat st;
    if (stat(QFile::encodeName(folder).constData(), &st) != 0)
        return 3;
    std::printf("%s\n%o\n", QFile::encodeName(folder).constData(), unsigned(st.st_mode & 07777));
    if (argc > 1 && std::strcmp(argv[1], "fork") == 0) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0)
            std::exit(0); // runs the exit handlers, as a helper that never execs would
        int status = 0;
        waitpid(child, &status, 0);
        std::printf("%s\n", QFileInfo::exists(folder) ? "kept" : "lost");
    }
    return 0;
}
