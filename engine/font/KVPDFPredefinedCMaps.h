#pragma once
// The folder of predefined CMap files, laid out as "<Registry>-<Ordering>/<name>" (the layout
// of poppler-data), and a process-wide cache of the texts read from it.
//
// The folder is "/usr/share/poppler/cMap" unless FOLIVO_CMAP_DIR or setDirectory() says
// otherwise (tests point it at a fixture folder). The folder is listed once; each listed file
// is read from disk once per process and kept, and an unreadable one is remembered as missing.
// A name the listing does not hold answers nothing without touching the disk, so the names a
// hostile file makes up neither read files nor grow the cache. Names must be one plain path
// component (no "/", no leading "."): they come from PDF files.
//
// Threads: safe from any thread (one mutex around the cache).
#include <QByteArray>
#include <QString>

#include <optional>

namespace kvpdf::predefinedcmaps {

QString directory();
// Also empties the cache, so a test can switch folders.
void setDirectory(const QString &directory);
// The text of "<collection>/<name>", e.g. ("Adobe-Japan1", "Adobe-Japan1-UCS2").
std::optional<QByteArray> text(const QString &collection, const QString &name);
// The text of a CMap by name alone, searched in every collection folder.
std::optional<QByteArray> textNamed(const QString &name);
// How many files were read from disk so far (for tests of the cache).
int filesRead();

} // namespace kvpdf::predefinedcmaps
