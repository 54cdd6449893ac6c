// Interprets every page of one file in one process, so that what is timed is the engine's work
// rather than a process start per page.
//
//   content-bench FILE [ROUNDS]
//
// Opens FILE as the program does, then ROUNDS times (default 1) interprets the content of every
// page (runs, images, fonts) and forgets it again. Prints one line:
//   pages P runs R images I open S interpret S
// with the seconds of the open and of all rounds of interpretation. Exits 1 when the file does
// not open.
#include "KVPDFDocument.h"
#include "KVPDFPage.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: content-bench FILE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 1;
    QElapsedTimer clock;
    clock.start();
    KVPDFOpenResult result = KVPDFOpenBroken;
    const std::shared_ptr<KVPDFDocument> document =
        KVPDFDocument::documentWithContentsOfFile(QString::fromLocal8Bit(argv[1]), &result);
    if (!document || result != KVPDFOpenOK) {
        std::fprintf(stderr, "content-bench: %s does not open (%d)\n", argv[1], int(result));
        return 1;
    }
    const double open = clock.nsecsElapsed() / 1e9;
    clock.restart();
    size_t runs = 0, images = 0;
    for (int round = 0; round < rounds; ++round) {
        runs = images = 0;
        for (const std::shared_ptr<KVPDFPage> &page : document->pages()) {
            page->parseContent();
            runs += page->textBlobs().size();
            images += page->images().size();
            if (round + 1 < rounds)
                page->resetContent();
        }
    }
    const double interpret = clock.nsecsElapsed() / 1e9;
    std::printf("pages %zu runs %zu images %zu open %.4f interpret %.4f\n", document->pageCount(), runs, images, open,
                interpret);
    return 0;
}
