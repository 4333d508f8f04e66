#pragma once
// revealInFileManager: shows a file selected in the desktop's file manager
// (the FileManager1 service on the session bus), or opens its folder when no
// file manager answers there. GUI thread.

#include <QString>

namespace pallix {

void revealInFileManager(const QString& path);

} // namespace pallix
