#pragma once

#include <QString>
#include <QStringList>

// Keys that appear nowhere else, shared by the meeting process and the test that scans what it
// left behind. Random-looking, so that any eight characters of one are found only where the
// key itself went.
namespace NoKeyOnDiskKeys {

inline QString deepSeek() { return QStringLiteral("sk-Vq8Rt3Lm7Xw2Pz9Kd4Nb6Hj"); }
inline QString elevenLabs() { return QStringLiteral("xk_Tf5Gy8Ud2Wc7Sa4Qe9Mr3Jo"); }
inline QString elevenLabsSpare() { return QStringLiteral("xk_Jn6Bv1Cz8Lp4Ro7Ih2Ke5Yu"); }
inline QStringList all() { return {deepSeek(), elevenLabs(), elevenLabsSpare()}; }

} // namespace NoKeyOnDiskKeys
