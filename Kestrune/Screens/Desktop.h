// What the screens ask of the desktop: reveal a file in the file manager, open a file or folder, put
// a text on the clipboard. GUI thread only; nothing here waits for another process.
#pragma once

#include <QString>

namespace Desktop {

// Asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) to show the item selected;
// when no file manager answers, opens the folder that holds it.
void revealInFileManager(const QString& path);
void open(const QString& path);
void copyText(const QString& text);

} // namespace Desktop
