// Colour profiles: the built-in ones, profiles read from files (long paths included), the
// defaults the layer above provides, and images tagged with them.
#include "KVProfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// Puts a provider in place for one test and takes it away again.
struct ProviderScope {
    explicit ProviderScope(KVProfile::DefaultPathProvider provider) { KVProfile::setDefaultPathProvider(std::move(provider)); }
    ~ProviderScope() { KVProfile::setDefaultPathProvider(nullptr); }
};

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}
}

TEST(KVProfileTest, BuiltInProfilesKnowTheirClassAndSpace)
{
    const auto rgb = KVProfile::profileWithGenericRGB();
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->classType(), KVProfile::fourCharCode("mntr"));
    EXPECT_EQ(rgb->spaceType(), KVProfile::fourCharCode("RGB "));
    EXPECT_TRUE(rgb->description().contains(QLatin1String("sRGB"))) << rgb->description().toStdString();
    EXPECT_EQ(rgb->colorspace().primaries(), QColorSpace::Primaries::SRgb);

    const auto gray = KVProfile::profileWithGenericGray();
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->classType(), KVProfile::fourCharCode("mntr"));
    EXPECT_EQ(gray->spaceType(), KVProfile::fourCharCode("GRAY"));
}

TEST(KVProfileTest, ProfilesFromFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    // A path of more than 255 bytes opens like any other.
    const QString deep = dir.filePath(QString(120, QLatin1Char('d')) + "/" + QString(120, QLatin1Char('e')));
    ASSERT_TRUE(QDir().mkpath(deep));
    struct Case {
        const char *name;
        QString path;
        bool opens;
    };
    const Case cases[] = {
        {"an ICC file", writeFile(dir.filePath("srgb.icc"), icc), true},
        {"a path over 255 bytes", writeFile(deep + "/srgb.icc", icc), true},
        {"not a profile", writeFile(dir.filePath("text.icc"), "not a profile at all"), false},
        {"a truncated profile", writeFile(dir.filePath("cut.icc"), icc.left(100)), false},
        {"no such file", dir.filePath("missing.icc"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.path.isEmpty());
        const auto profile = KVProfile::profileWithPath(c.path);
        EXPECT_EQ(bool(profile), c.opens);
        if (!profile)
            continue;
        EXPECT_EQ(profile->location(), c.path);
        EXPECT_EQ(profile->spaceType(), KVProfile::fourCharCode("RGB "));
        EXPECT_TRUE(profile->colorspace().isValid());
    }

    const auto empty = KVProfile::profileWithPath(QString());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
    EXPECT_FALSE(empty->colorspace().isValid());
    EXPECT_EQ(empty->classType(), 0u);
}

TEST(KVProfileTest, DefaultsComeFromTheInstalledProvider)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString adobe = writeFile(dir.filePath("adobe.icc"), QColorSpace(QColorSpace::AdobeRgb).iccProfile());
    QImage rgb(2, 2, QImage::Format_RGB32);
    rgb.fill(Qt::red);
    QImage gray(2, 2, QImage::Format_Grayscale8);

    // Without a provider there are no default profiles and images stay untagged.
    EXPECT_TRUE(KVProfile::profileDefaultRGB()->isEmpty());
    EXPECT_FALSE(KVImageCreateCopyWithDefaultSpace(rgb).colorSpace().isValid());

    QStringList asked;
    ProviderScope scope([&](const QString &key) {
        asked << key;
        return key == QLatin1String("DefaultRGBProfile") ? adobe : QString();
    });
    const auto profile = KVProfile::profileDefaultRGB();
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->location(), adobe);
    EXPECT_TRUE(KVProfile::profileDefaultCMYK()->isEmpty());
    EXPECT_TRUE(KVProfile::profileDefaultGray()->isEmpty());
    EXPECT_EQ(asked, (QStringList{"DefaultRGBProfile", "DefaultCMYKProfile", "DefaultGrayProfile"}));

    const QImage tagged = KVImageCreateCopyWithDefaultSpace(rgb);
    EXPECT_EQ(tagged.colorSpace().primaries(), QColorSpace::Primaries::AdobeRgb);
    EXPECT_EQ(tagged.pixel(1, 1), rgb.pixel(1, 1));
    // An image with a space of its own keeps it; gray has no default here.
    QImage srgb = rgb;
    srgb.setColorSpace(QColorSpace(QColorSpace::SRgb));
    EXPECT_EQ(KVImageCreateCopyWithDefaultSpace(srgb).colorSpace(), QColorSpace(QColorSpace::SRgb));
    EXPECT_FALSE(KVImageCreateCopyWithDefaultSpace(gray).colorSpace().isValid());
}
