#pragma once
// The corpus's manifest.tsv: a header line, then one line per file of
// "path<TAB>pages<TAB>password", where pages is the page count the reference reader gives or
// "ERR" when it refuses the file. Lines may end in LF or CR LF; lines with no path (blank lines,
// trailing empty lines) are not files.
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

struct CorpusManifestEntry {
    QString file;     // relative to the corpus folder
    int pages = -1;   // -1: the reference reader refuses the file
    QString password; // the user password the file needs; empty when none
};

// The manifest's files in the order listed; none when the manifest cannot be read.
inline std::vector<CorpusManifestEntry> readCorpusManifest(const QString &folder = corpusDir())
{
    std::vector<CorpusManifestEntry> entries;
    QFile manifest(QDir(folder).filePath(QStringLiteral("manifest.tsv")));
    if (!manifest.open(QIODevice::ReadOnly))
        return entries;
    manifest.readLine(); // the header
    while (!manifest.atEnd()) {
        QByteArray line = manifest.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (fields.value(0).isEmpty())
            continue;
        CorpusManifestEntry entry;
        entry.file = fields.value(0);
        bool ok = false;
        const int pages = fields.value(1).toInt(&ok);
        entry.pages = ok ? pages : -1;
        entry.password = fields.value(2);
        entries.push_back(entry);
    }
    return entries;
}
