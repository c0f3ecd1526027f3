#pragma once

#include <QString>

namespace Platform {

// The current user's name as the operating system reports it; empty when
// the call fails (the caller then falls back to the home locations).
QString userName();

} // namespace Platform
