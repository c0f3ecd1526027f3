#pragma once

#include <QString>

// The program's settings file (the default QSettings store).
namespace SettingsStore {

// Why what the player sets (login, game folder, choices) cannot be kept
// past this run; empty when it can.
QString problem();

} // namespace SettingsStore
