// Fuzz entry point for the RTF readers: each input is read as stored "textData" into a text
// storage, and through the plain reader that the engine's fields use. Neither may crash, hang
// or read outside the input; the storage's own invariants must hold afterwards (the text it
// reports agrees with its blocks), and a read that reports success has no problem to tell.
#include "KVRTF.h"
#include "KVRTFReader.h"

#include <QByteArray>
#include <QTextBlock>
#include <QTextDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)KVRTFReader::read(bytes);

    QTextDocument document;
    const kvrtf::ReadReport report = kvrtf::read(bytes, document);
    if (report.complete != report.problem.isEmpty())
        std::abort();
    qsizetype characters = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            (void)it.fragment().charFormat().fontFamilies();
        characters += block.length();
    }
    if (characters != document.characterCount())
        std::abort();
    return 0;
}
