#pragma once
// The preference keys shared by the application and its preference panes, the two typed
// readers several subsystems call, and the routine that fills missing settings from the shipped
// defaults.
//
// Threads: the readers may be called from any thread (KVDefaults locks). Entry 0 of the table is
// written only by KVFolivoPrefsSetupDefaults(), which runs on the main thread while a pane is
// made; nothing reads it concurrently then.
#include <QColor>
#include <QString>
#include <QStringList>

#include <memory>

class KVDefaults;
class KVSystemFont;

// Entry 0: the name of the settings domain, the bundle identifier once the set-up has run.
extern QString KVFolivoPreferences;
extern const QString JXFolivoPrefsCustomHighlightColor; // "customHighlightColor"
extern const QString JXFolivoPrefsDefaultFont;          // "defaultfont"
extern const QString KVFolivoPrefsCheckForUpdates;      // "checkforupdates"
extern const QString KVFolivoPrefsCheckFrequency;       // "checkfrequency"
extern const QString JXFolivoPrefsKeyboardIncrement;    // "keyboardIncrement"
extern const QString JXFolivoPrefsConstrainAngle;       // "constrainAngle"
extern const QString JXFolivoPrefsGridlineEvery;        // "gridlineEvery"
extern const QString JXFolivoPrefsDefaultView;          // "defaultview"
extern const QString JXFolivoPrefsDocMemory;            // "rememberdocs"
extern const QString JXFolivoPrefsLockLargeImages;      // "lockLargeImages"
extern const QString JXFolivoPrefsOCROnOpenDocument;    // "ocrOnOpenDocument"
extern const QString JXFolivoPrefsOCROnTextSelection;   // "ocrOnTextSelection"
extern const QString JXFolivoPrefsContinuousScrolling;  // "continuousScrolling"
extern const QString JXFolivoPrefsKeepToolsSelected;    // "keepToolsSelected"
extern const QString JXFolivoPrefsMeasurementUnits;     // "measurementUnits"
extern const QString JXFolivoPrefsFacingPagesStart;     // "facingPagesStart"
extern const QString JXFolivoPrefsWindowHeight;         // "windowHeight"

// The eighteen entries above in their order (entry 0 as it is now).
QStringList KVFolivoPreferenceTable();

// The identifier the shipped defaults are keyed by.
inline const QString KVFolivoBundleIdentifier = QStringLiteral("com.quorvane.FolivoPro");

// The user's own highlight colour from its colour array; a colour of four zeros (transparent
// black) when the key is absent or its value is no readable colour array.
QColor KVFolivoCustomHighlightColor();
QColor KVFolivoCustomHighlightColor(const KVDefaults &defaults);

// A font named as the user chose it, with its size in points.
struct KVFolivoFont {
    QString name;
    double size = 0;
    // The face fontconfig gives for the name ("Helvetica" gives Nimbus Sans).
    std::shared_ptr<KVSystemFont> systemFont() const;
    bool operator==(const KVFolivoFont &) const = default;
};

// The font of new text objects, stored under "defaultfont" as "<name> <size>" ("Helvetica 12",
// "Nimbus Sans Bold 10.5"): the size after the last blank, with a point whatever the locale.
// Helvetica at 12 points when the key is absent or its value is not that form (no string, no
// name, a size that is not a number above 0 and at most 1000).
KVFolivoFont KVFolivoDefaultFont();
KVFolivoFont KVFolivoDefaultFont(const KVDefaults &defaults);
// The stored form of a font, for the pane that writes it.
QString KVFolivoFontString(const KVFolivoFont &font);

// Fills each setting that has no value from the shipped defaults' entry for the bundle
// identifier (the resource ":/FolivoPrefsDefaults.json"), then synchronises; values already
// stored stay. Sets entry 0 to the bundle identifier first. A missing or unreadable resource, or
// one without that identifier, changes no setting. Called by the preference panes; the
// application itself never calls it.
void KVFolivoPrefsSetupDefaults();
void KVFolivoPrefsSetupDefaults(KVDefaults &defaults, const QString &resourcePath, const QString &bundleIdentifier);
