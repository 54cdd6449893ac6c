#include "KVFolivoPreferences.h"

#include "JXNSColorExtensions.h"
#include "KVDefaults.h"
#include "KVNumbers.h"
#include "KVSystemFont.h"

#include <QFile>

#include <cmath>

QString KVFolivoPreferences = QStringLiteral("com.quorvane.FolivoPro");
const QString JXFolivoPrefsCustomHighlightColor = QStringLiteral("customHighlightColor");
const QString JXFolivoPrefsDefaultFont = QStringLiteral("defaultfont");
const QString KVFolivoPrefsCheckForUpdates = QStringLiteral("checkforupdates");
const QString KVFolivoPrefsCheckFrequency = QStringLiteral("checkfrequency");
const QString JXFolivoPrefsKeyboardIncrement = QStringLiteral("keyboardIncrement");
const QString JXFolivoPrefsConstrainAngle = QStringLiteral("constrainAngle");
const QString JXFolivoPrefsGridlineEvery = QStringLiteral("gridlineEvery");
const QString JXFolivoPrefsDefaultView = QStringLiteral("defaultview");
const QString JXFolivoPrefsDocMemory = QStringLiteral("rememberdocs");
const QString JXFolivoPrefsLockLargeImages = QStringLiteral("lockLargeImages");
const QString JXFolivoPrefsOCROnOpenDocument = QStringLiteral("ocrOnOpenDocument");
const QString JXFolivoPrefsOCROnTextSelection = QStringLiteral("ocrOnTextSelection");
const QString JXFolivoPrefsContinuousScrolling = QStringLiteral("continuousScrolling");
const QString JXFolivoPrefsKeepToolsSelected = QStringLiteral("keepToolsSelected");
const QString JXFolivoPrefsMeasurementUnits = QStringLiteral("measurementUnits");
const QString JXFolivoPrefsFacingPagesStart = QStringLiteral("facingPagesStart");
const QString JXFolivoPrefsWindowHeight = QStringLiteral("windowHeight");

QStringList KVFolivoPreferenceTable()
{
    return {KVFolivoPreferences,
            JXFolivoPrefsCustomHighlightColor,
            JXFolivoPrefsDefaultFont,
            KVFolivoPrefsCheckForUpdates,
            KVFolivoPrefsCheckFrequency,
            JXFolivoPrefsKeyboardIncrement,
            JXFolivoPrefsConstrainAngle,
            JXFolivoPrefsGridlineEvery,
            JXFolivoPrefsDefaultView,
            JXFolivoPrefsDocMemory,
            JXFolivoPrefsLockLargeImages,
            JXFolivoPrefsOCROnOpenDocument,
            JXFolivoPrefsOCROnTextSelection,
            JXFolivoPrefsContinuousScrolling,
            JXFolivoPrefsKeepToolsSelected,
            JXFolivoPrefsMeasurementUnits,
            JXFolivoPrefsFacingPagesStart,
            JXFolivoPrefsWindowHeight};
}

QColor KVFolivoCustomHighlightColor() { return KVFolivoCustomHighlightColor(KVDefaults::standardUserDefaults()); }

QColor KVFolivoCustomHighlightColor(const KVDefaults &defaults)
{
    const QColor color = JXNSColorExtensions::colorWithArray(defaults.arrayForKey(JXFolivoPrefsCustomHighlightColor));
    return color.isValid() ? color : QColor::fromRgbF(0, 0, 0, 0);
}

std::shared_ptr<KVSystemFont> KVFolivoFont::systemFont() const { return KVSystemFont::fontWithName(name, size); }

KVFolivoFont KVFolivoDefaultFont() { return KVFolivoDefaultFont(KVDefaults::standardUserDefaults()); }

KVFolivoFont KVFolivoDefaultFont(const KVDefaults &defaults)
{
    const KVFolivoFont fallback{QStringLiteral("Helvetica"), 12};
    const QVariant stored = defaults.objectForKey(JXFolivoPrefsDefaultFont);
    if (stored.typeId() != QMetaType::QString)
        return fallback;
    const QString text = stored.toString();
    const qsizetype blank = text.lastIndexOf(QLatin1Char(' '));
    if (blank <= 0)
        return fallback;
    const QString name = text.left(blank).trimmed();
    const QByteArray sizeText = text.mid(blank + 1).toLatin1();
    size_t used = 0;
    const auto size = kvParseDouble(sizeText.constData(), sizeText.constData() + sizeText.size(), &used);
    if (name.isEmpty() || !size || used != static_cast<size_t>(sizeText.size()) || !(*size > 0 && *size <= 1000))
        return fallback;
    return {name, *size};
}

QString KVFolivoFontString(const KVFolivoFont &font)
{
    return font.name + QLatin1Char(' ') + QString::fromLatin1(kvFormatReal(font.size));
}

void KVFolivoPrefsSetupDefaults()
{
    KVFolivoPrefsSetupDefaults(KVDefaults::standardUserDefaults(), QStringLiteral(":/FolivoPrefsDefaults.json"), KVFolivoBundleIdentifier);
}

void KVFolivoPrefsSetupDefaults(KVDefaults &defaults, const QString &resourcePath, const QString &bundleIdentifier)
{
    KVFolivoPreferences = bundleIdentifier;
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto shipped = KVDefaults::parseSettingsText(file.readAll());
    if (!shipped)
        return;
    const QVariant forBundle = shipped->value(bundleIdentifier);
    if (forBundle.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap values = forBundle.toMap();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!defaults.contains(it.key()))
            defaults.setObject(it.key(), it.value());
    }
    defaults.synchronize();
}
