#include "desktop/singleinstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

SingleInstance::SingleInstance(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (!m_owner)
        return;
    m_bus.unregisterObject(kPath);
    m_bus.unregisterService(kName);
}

SingleInstance::Claim SingleInstance::claim(bool activate) {
    if (!m_bus.isConnected())
        return Claim::Unowned;
    // The object first, so that a start that finds the name can always reach it.
    if (!m_bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots))
        return Claim::Unowned;
    if (m_bus.registerService(kName)) {
        m_owner = true;
        return Claim::Owner;
    }
    m_bus.unregisterObject(kPath);
    if (!activate)
        return Claim::Handed;
    // Waited for, before any window: a few seconds at most, and an owner that hangs is no reason
    // to leave the user with nothing.
    const QDBusMessage answer =
        m_bus.call(QDBusMessage::createMethodCall(kName, kPath, kName, QStringLiteral("Activate")),
                   QDBus::Block, kAnswerMs);
    return answer.type() == QDBusMessage::ReplyMessage ? Claim::Handed : Claim::Unowned;
}

void SingleInstance::Activate() {
    Q_EMIT activationRequested();
}
