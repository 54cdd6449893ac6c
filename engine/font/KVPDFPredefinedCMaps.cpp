#include "KVPDFPredefinedCMaps.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <mutex>
#include <vector>

namespace kvpdf::predefinedcmaps {

namespace {

constexpr const char *kDefaultDirectory = "/usr/share/poppler/cMap";
// The largest predefined file is about 300 KB; anything far larger is not a CMap.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

struct Cache {
    std::mutex mutex;
    bool directoryChosen = false;
    QString directory;
    // "<collection>/<name>" to the text, or nullopt when the file could not be read. Only
    // names the listing holds get an entry, so names made up by a hostile file cost nothing.
    QHash<QString, std::optional<QByteArray>> texts;
    // The folder's listing, made on the first request: collection folders in name order, each
    // with the file names it holds.
    std::optional<std::vector<std::pair<QString, QSet<QString>>>> listing;
    int filesRead = 0;
};

Cache &cache()
{
    static Cache instance;
    return instance;
}

// Names come from PDF files (an Encoding name, a CIDSystemInfo), so they must stay a single
// path component inside the folder.
bool isSafeComponent(const QString &component)
{
    if (component.isEmpty() || component.startsWith(QLatin1Char('.')) || component.size() > 255)
        return false;
    for (QChar c : component) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

// With the mutex held.
const QString &currentDirectory(Cache &state)
{
    if (!state.directoryChosen) {
        const QByteArray fromEnvironment = qgetenv("FOLIVO_CMAP_DIR");
        state.directory = fromEnvironment.isEmpty() ? QString::fromLatin1(kDefaultDirectory) : QString::fromLocal8Bit(fromEnvironment);
        state.directoryChosen = true;
    }
    return state.directory;
}

// With the mutex held.
const std::vector<std::pair<QString, QSet<QString>>> &listing(Cache &state)
{
    if (!state.listing) {
        state.listing.emplace();
        const QDir folder(currentDirectory(state));
        for (const QString &collection : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QStringList files = QDir(folder.filePath(collection)).entryList(QDir::Files, QDir::Name);
            state.listing->emplace_back(collection, QSet<QString>(files.begin(), files.end()));
        }
    }
    return *state.listing;
}

// With the mutex held; reads a listed file on the first request only.
std::optional<QByteArray> lockedText(Cache &state, const QString &collection, const QString &name)
{
    const QString key = collection + QLatin1Char('/') + name;
    auto found = state.texts.constFind(key);
    if (found != state.texts.constEnd())
        return *found;
    const auto &folders = listing(state);
    const bool listed = std::any_of(folders.begin(), folders.end(), [&](const auto &folder) {
        return folder.first == collection && folder.second.contains(name);
    });
    if (!listed)
        return std::nullopt;
    std::optional<QByteArray> text;
    QFile file(currentDirectory(state) + QLatin1Char('/') + key);
    if (file.size() <= kMaxFileSize && file.open(QIODevice::ReadOnly)) {
        ++state.filesRead;
        text = file.readAll();
        if (file.error() != QFileDevice::NoError)
            text.reset();
    }
    return *state.texts.insert(key, std::move(text));
}

} // namespace

QString directory()
{
    Cache &state = cache();
    std::lock_guard lock(state.mutex);
    return currentDirectory(state);
}

void setDirectory(const QString &directory)
{
    Cache &state = cache();
    std::lock_guard lock(state.mutex);
    state.directory = directory;
    state.directoryChosen = true;
    state.texts.clear();
    state.listing.reset();
}

std::optional<QByteArray> text(const QString &collection, const QString &name)
{
    if (!isSafeComponent(collection) || !isSafeComponent(name))
        return std::nullopt;
    Cache &state = cache();
    std::lock_guard lock(state.mutex);
    return lockedText(state, collection, name);
}

std::optional<QByteArray> textNamed(const QString &name)
{
    if (!isSafeComponent(name))
        return std::nullopt;
    Cache &state = cache();
    std::lock_guard lock(state.mutex);
    for (const auto &[collection, files] : listing(state)) {
        if (!files.contains(name))
            continue;
        std::optional<QByteArray> found = lockedText(state, collection, name);
        if (found)
            return found;
    }
    return std::nullopt;
}

int filesRead()
{
    Cache &state = cache();
    std::lock_guard lock(state.mutex);
    return state.filesRead;
}

} // namespace kvpdf::predefinedcmaps
