#include "KVPDFPredefinedCMaps.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <mutex>

namespace kvpdf::predefinedcmaps {

namespace {

constexpr const char *kDefaultDirectory = "/usr/share/poppler/cMap";
// The largest predefined file is about 300 KB; anything far larger is not a CMap.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

struct Cache {
    std::mutex mutex;
    bool directoryChosen = false;
    QString directory;
    // "<collection>/<name>" to the text, or nullopt when the file is missing or unreadable.
    QHash<QString, std::optional<QByteArray>> texts;
    // Collection folders, listed on the first search by name alone.
    std::optional<QStringList> collections;
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

// With the mutex held; reads the file on the first request only.
const std::optional<QByteArray> &lockedText(Cache &state, const QString &collection, const QString &name)
{
    const QString key = collection + QLatin1Char('/') + name;
    auto found = state.texts.constFind(key);
    if (found != state.texts.constEnd())
        return *found;
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
    state.collections.reset();
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
    if (!state.collections) {
        QDir folder(currentDirectory(state));
        state.collections = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }
    // A miss is remembered like a hit, so a second search touches no file.
    for (const QString &collection : *state.collections) {
        const std::optional<QByteArray> &found = lockedText(state, collection, name);
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
