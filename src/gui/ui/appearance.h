#pragma once

class QDir;
class QString;

// The look the program starts with: its built-in resources, the Roboto
// faces and the style sheet.
namespace Appearance {

// The images, sounds, styles and fonts live in a static library and must
// be pulled in by name.
void initResources();

void registerFonts();

// The data directory's "mainstyle.qss" when it exists, else the built-in
// one. Logs "error: " on a failed open.
QString loadStyleSheet(const QDir &dataDir);

} // namespace Appearance
