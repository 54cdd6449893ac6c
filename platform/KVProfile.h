#pragma once
// An ICC colour profile through Little CMS 2: one read from a file, or the built-in sRGB or
// gray one, with its header's class and data colour space ("mntr", "RGB " as four-character
// codes), its description and a QColorSpace made from it.
//
// Default profiles: the paths of the user's default RGB, gray and CMYK profiles are kept by the
// layer above (under "DefaultRGBProfile", "DefaultGrayProfile" and "DefaultCMYKProfile"), which
// installs a provider of them; without one every default path is empty.
//
// Bad input: a file that does not open as a profile, or whose header does not read, gives
// nullptr; an empty path gives an empty profile (no handle, class and space 0, an invalid
// colour space), which is what a default profile is when the user chose none.
// Threads: a profile may be shared between threads once made: the colour space and the
// description are made once, on first use, under a once-flag. The provider may be installed
// from any thread and is called on the thread asking for a default profile.
#include <QColorSpace>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class KVProfile {
public:
    // A Little CMS profile handle (cmsHPROFILE).
    using Handle = void *;
    // Answers the path stored under `key`, or an empty string.
    using DefaultPathProvider = std::function<QString(const QString &key)>;

    static std::shared_ptr<KVProfile> profileWithPath(const QString &path);
    // The built-in sRGB profile: class "mntr", space "RGB ".
    static std::shared_ptr<KVProfile> profileWithGenericRGB();
    // The built-in gray profile: D50 white, gamma 2.2; class "mntr", space "GRAY".
    static std::shared_ptr<KVProfile> profileWithGenericGray();
    static std::shared_ptr<KVProfile> profileDefaultRGB();
    static std::shared_ptr<KVProfile> profileDefaultGray();
    static std::shared_ptr<KVProfile> profileDefaultCMYK();
    static void setDefaultPathProvider(DefaultPathProvider provider);

    ~KVProfile();
    KVProfile(const KVProfile &) = delete;
    KVProfile &operator=(const KVProfile &) = delete;

    bool isEmpty() const { return m_ref == nullptr; }
    // Owned by the profile; null for an empty one.
    Handle ref() const { return m_ref; }
    // Invalid when Qt cannot take the profile (Qt 6.4 takes RGB matrix profiles only).
    QColorSpace colorspace() const;
    QString description() const;
    // The path it was made from; empty for a built-in profile.
    QString location() const { return m_path; }
    uint32_t classType() const { return m_class; }
    uint32_t spaceType() const { return m_space; }

    static constexpr uint32_t fourCharCode(const char (&code)[5])
    {
        return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 | uint32_t(uint8_t(code[2])) << 8
            | uint32_t(uint8_t(code[3]));
    }

private:
    KVProfile() = default;
    static std::shared_ptr<KVProfile> adopt(Handle handle, const QString &path);

    Handle m_ref = nullptr;
    QString m_path;
    uint32_t m_class = 0;
    uint32_t m_space = 0;
    mutable std::once_flag m_colorspaceOnce;
    mutable QColorSpace m_colorspace;
    mutable std::once_flag m_nameOnce;
    mutable QString m_name;
};

// A copy of `image` tagged with the default profile of its space, for an image that carries no
// colour space of its own: RGB formats take the default RGB profile, gray formats the default
// gray one (QImage has no CMYK format to tag). The image itself when it has a colour space
// already, when no default is set, or when Qt cannot take the profile.
QImage KVImageCreateCopyWithDefaultSpace(const QImage &image);
