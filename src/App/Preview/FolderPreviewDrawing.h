#pragma once
// FolderPreviewDrawing: the drawn picture of a folder: a translucent
// light-blue pocket with up to three photo cards fanned out of it, the front
// card holding the folder's first sample. Drawn with y growing upward from
// the lower left corner, angles counter-clockwise, as the design gives them.
// Pure drawing into a QImage: any thread.

#include <QImage>
#include <QList>

namespace pallix::FolderPreviewDrawing {

// The canvas side for a display size: 2 × points within 96...224.
int canvasSide(double displayPoints);

// The samples front first, one video flag per sample; null without samples.
QImage renderFolderPreviewStack(const QList<QImage>& decodedImages, const QList<bool>& isVideoFlags,
                                double displayPoints);

} // namespace pallix::FolderPreviewDrawing
