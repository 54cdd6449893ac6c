#pragma once
// The user's settings: a key-value store in place of the platform's user defaults, kept by
// QSettings in a JSON file of our own format under the user's config folder
// ($XDG_CONFIG_HOME/quorvane/Folivo.json, ~/.config when the variable is unset).
//
// Types survive the file: a value reads back as the type it was written with. Booleans,
// integers, reals, strings, lists and maps are plain JSON (a real is always written with a
// point or an exponent, so 36.0 reads back as a real and 36 as an integer); byte arrays and
// date-times are one-member objects {"$data": base64} and {"$date": ISO 8601 with
// milliseconds}. Anything else (a QColor, a null variant, NaN or an infinity, at any depth)
// cannot be stored: setObject() refuses it and stores nothing.
//
// Presence: objectForKey() answers an invalid QVariant for an absent key, so a caller that
// needs a fallback other than 0 tests contains() first or passes its fallback to a reader.
//
// Readers coerce like the platform did: boolForKey() reads the booleans true and false, a
// number as non-zero, and a string as true when it reads, ignoring case and surrounding blanks,
// "YES", "TRUE" or a non-zero integer ("1"). This is not the string truth of
// jxStringBoolValue(), for which "1" is false; code that turns a stored string into a boolean
// itself uses that one. The flags the shell writes itself are the strings "TRUE" and "FALSE"
// (setFlag(), flagForKey()), kept as strings.
//
// Other processes: changes reach the file at synchronize(), when the event loop of the thread
// that made the store next runs, and at the latest when the store is destroyed (the standard one
// at exit); synchronize() also takes in what other processes wrote.
//
// Bad input: a settings file that does not parse (edited by hand, cut short) is treated as
// empty, and that file is never overwritten: writes then stay in memory and synchronize()
// answers false, so the user's file survives for repair.
//
// Changes are announced: every set and remove posts KVDefaultsDidChangeNotification from this
// store (the sender) through the default notification centre, with the key under "key", on the
// calling thread and outside the store's lock, so a handler may read or write the store. A
// refused set posts nothing.
//
// Threads: every member may be called from any thread; one mutex guards the store. The shared
// object is created on first use and lives for the process.
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <memory>
#include <mutex>
#include <optional>

class QSettings;

inline const QString KVDefaultsDidChangeNotification = QStringLiteral("KVDefaultsDidChangeNotification");

class KVDefaults {
public:
    // The application's store ("quorvane", "Folivo").
    static KVDefaults &standardUserDefaults();

    // A store over one file of the same format, for tools and tests.
    explicit KVDefaults(const QString &filePath);
    ~KVDefaults();
    KVDefaults(const KVDefaults &) = delete;
    KVDefaults &operator=(const KVDefaults &) = delete;

    QString filePath() const;

    bool contains(const QString &key) const;
    // The stored value as written, invalid when absent.
    QVariant objectForKey(const QString &key) const;
    // Each reader answers its fallback when the key is absent or its value is of another kind
    // that does not convert (a list asked for as a string, "abc" asked for as a number).
    QString stringForKey(const QString &key, const QString &fallback = {}) const;
    QVariantList arrayForKey(const QString &key, const QVariantList &fallback = {}) const;
    QVariantMap dictionaryForKey(const QString &key, const QVariantMap &fallback = {}) const;
    QByteArray dataForKey(const QString &key, const QByteArray &fallback = {}) const;
    // Integers and reals convert into each other (a real is truncated toward zero, as the
    // platform did); a numeric string is read locale-independently.
    qint64 integerForKey(const QString &key, qint64 fallback = 0) const;
    double doubleForKey(const QString &key, double fallback = 0) const;
    bool boolForKey(const QString &key, bool fallback = false) const;
    // The stored string in upper case ("true" and "True" read "TRUE"); empty when absent or not
    // a string.
    QString flagForKey(const QString &key) const;

    // False, storing nothing, for a value of a type the file cannot keep (see above).
    bool setObject(const QString &key, const QVariant &value);
    void setString(const QString &key, const QString &value) { setObject(key, value); }
    void setInteger(const QString &key, qint64 value) { setObject(key, value); }
    bool setDouble(const QString &key, double value) { return setObject(key, value); }
    void setBool(const QString &key, bool value) { setObject(key, value); }
    // Stores the string "TRUE" or "FALSE".
    void setFlag(const QString &key, bool on) { setObject(key, on ? QStringLiteral("TRUE") : QStringLiteral("FALSE")); }
    void removeObject(const QString &key);

    // Writes pending changes and reads what other processes wrote. False when the file could not
    // be written or the existing file does not parse.
    bool synchronize();

    // Reads text in the settings file's format (the shipped defaults are written in it too):
    // nullopt when it does not parse or its top level is no object. Null members are dropped.
    static std::optional<QVariantMap> parseSettingsText(const QByteArray &text);

private:
    void changed(const QString &key);

    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};
