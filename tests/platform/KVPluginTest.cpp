#include "KVNotificationCenter.h"

#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QStringList>

namespace {

// The plug-in and the program must share one notification centre: a plug-in with a copy of the
// platform library of its own would post into a centre nobody observes.
TEST(KVPluginTest, ALoadedPluginPostsToAndObservesTheProgramsCentre)
{
    KVNotificationCenter &centre = KVNotificationCenter::defaultCenter();
    QStringList heard;
    KVObservation loaded = centre.observe("KVTestPluginLoaded", nullptr, [&](const KVNotification &n) {
        heard << n.userInfo.value("plugin").toString();
    });
    KVObservation pong = centre.observe("KVTestPluginPong", nullptr, [&](const KVNotification &n) {
        heard << n.userInfo.value("reply").toString();
    });

    QPluginLoader loader(FOLIVO_TEST_PLUGIN);
    QObject *plugin = loader.instance();
    ASSERT_TRUE(plugin) << loader.errorString().toStdString();
    quintptr pluginCentre = 0;
    ASSERT_TRUE(QMetaObject::invokeMethod(plugin, "centre", Q_RETURN_ARG(quintptr, pluginCentre)));
    EXPECT_EQ(pluginCentre, quintptr(&centre));

    ASSERT_TRUE(QMetaObject::invokeMethod(plugin, "announce"));
    centre.post("KVTestPluginPing", nullptr, {{"text", "hello"}});
    EXPECT_EQ(heard, QStringList({"KVNotificationTestPlugin", "hello"}));

    // Unloading ends the plug-in's observations with its instance; a later post must not call
    // into code that is gone.
    ASSERT_TRUE(loader.unload()) << loader.errorString().toStdString();
    centre.post("KVTestPluginPing", nullptr, {{"text", "anyone?"}});
    EXPECT_EQ(heard.size(), 2);
}

} // namespace
