#pragma once
// What an operator reads when the database fails: a reason in Chinese for the failures a
// station meets in the field, followed by the engine's own text for whoever looks further.
#include <QString>

namespace engine {

/// "<reason>：<engine text>" for a file locked by another program, a full disk, a file that
/// may not be written, a damaged file or one that is no database, and a file replaced while
/// open; the engine's text unchanged for anything else. Applying it twice changes nothing.
QString failureText(const QString& engineText);

}  // namespace engine
