#pragma once

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "speech/ScribeClient.h"
#include "translation/DeepSeekTransport.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

// Points the model that `rig` makes at the loopback fakes of both services, with both keys in
// the test keyring and the wall clock real, as a bench that plays sound through them needs.
inline void useLoopbackServices(ModelRig &rig, const QUrl &chat, const QUrl &scribe, const QByteArray &scribeKey,
                                const QString &deepSeekKey)
{
    rig.platform.wallClock = [] { return QDateTime::currentDateTime(); };
    DeepSeekTransport::baseAddress = chat;
    ScribeClient::baseAddress = scribe;
    ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(scribeKey));
    ModelRig::storeKey(Keychain::deepSeekAccount, deepSeekKey);
}
