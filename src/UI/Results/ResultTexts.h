#pragma once
// ResultTexts: the texts a result row or card derives from its item (size,
// date, kind, subtitle, tooltip). Pure; GUI thread (QLocale is not shared
// across threads here).

#include <cstdint>

#include <QString>

#include "Core/Models/IndexedItem.h"

namespace pallix::ResultTexts {

// A file-style byte count in decimal units: "0 字节", "999 字节", "12 KB",
// "1.2 MB", "3.45 GB". Whole KB; one decimal for MB; two from GB on; a
// trailing ".0"/".00" is dropped.
QString fileSizeText(std::int64_t bytes);
// zh_CN short date and short time in the local time zone ("2023/11/15 06:13").
QString modifiedDateText(Date modifiedAt);
// Empty for a folder, else the size text.
QString sizeColumnText(const IndexedItem& item);
// The type column: "文件夹（含视频）" for a folder known to hold videos, else the kind label.
QString rowTypeDescription(const IndexedItem& item, bool folderContainsVideo);
// The card subtitle: ".png" for a file with an extension, "文件夹 · 含视频"
// for a folder holding videos, else the kind label.
QString gridSubtitle(const IndexedItem& item, bool folderContainsVideo);
// The path, a line break, "大小：" and "文件夹" or the size text.
QString hoverHelpText(const IndexedItem& item);

} // namespace pallix::ResultTexts
