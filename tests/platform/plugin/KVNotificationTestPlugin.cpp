// A plug-in that talks to its host only through the default notification centre, as the
// preference panes talk to the update glue. The host's tests load it with QPluginLoader.
#include "KVNotificationCenter.h"

#include <QObject>
#include <QtPlugin>

class KVNotificationTestPlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.quorvane.Folivo.NotificationTestPlugin")

public:
    KVNotificationTestPlugin()
    {
        m_ping = KVNotificationCenter::defaultCenter().observe("KVTestPluginPing", nullptr, [](const KVNotification &n) {
            KVNotificationCenter::defaultCenter().post("KVTestPluginPong", nullptr, {{"reply", n.userInfo.value("text")}});
        });
    }

    Q_INVOKABLE void announce()
    {
        KVNotificationCenter::defaultCenter().post("KVTestPluginLoaded", this, {{"plugin", "KVNotificationTestPlugin"}});
    }

    Q_INVOKABLE quintptr centre() const { return quintptr(&KVNotificationCenter::defaultCenter()); }

private:
    // Ends with the plug-in's instance, before its code is unloaded.
    KVObservation m_ping;
};

#include "KVNotificationTestPlugin.moc"
