// Prepares the search text of every page of the files given, on T threads, in one process, so
// that what is timed is the engine's text preparation rather than a process start per file.
//
//   search-bench THREADS FILE...
//
// Opens every FILE (a file named twice is opened twice: each is its own document, prepared
// afresh), then THREADS threads take the pages of all of them from one shared counter and
// prepare each for search (KVPDFPage::prepareForSearch), pages of one document on several
// threads at once. Prints one line:
//   pages P threads T chars C open S prepare S
// with the seconds of opening and of preparing. Files that do not open are skipped with a line
// on standard error.
#include "KVPDFDocument.h"
#include "KVPDFPage.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: search-bench THREADS FILE...\n");
        return 2;
    }
    const int threads = std::max(1, std::atoi(argv[1]));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::shared_ptr<KVPDFDocument>> documents;
    std::vector<std::shared_ptr<KVPDFPage>> pages;
    for (int i = 2; i < argc; ++i) {
        KVPDFOpenResult result = KVPDFOpenBroken;
        std::shared_ptr<KVPDFDocument> document =
            KVPDFDocument::documentWithContentsOfFile(QString::fromLocal8Bit(argv[i]), &result);
        if (!document || result != KVPDFOpenOK) {
            std::fprintf(stderr, "search-bench: %s does not open (%d)\n", argv[i], int(result));
            continue;
        }
        for (const std::shared_ptr<KVPDFPage> &page : document->pages())
            pages.push_back(page);
        documents.push_back(std::move(document));
    }
    const double open = clock.nsecsElapsed() / 1e9;
    clock.restart();
    std::atomic<size_t> next{0};
    std::atomic<qsizetype> chars{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (size_t k = next++; k < pages.size(); k = next++) {
                pages[k]->prepareForSearch();
                chars += pages[k]->pageString().size();
            }
        });
    for (std::thread &worker : workers)
        worker.join();
    const double prepare = clock.nsecsElapsed() / 1e9;
    std::printf("pages %zu threads %d chars %lld open %.4f prepare %.4f\n", pages.size(), threads, qlonglong(chars.load()),
                open, prepare);
    return 0;
}
