#pragma once
// The application's style, with scroll bars drawn a band of
// ResultPainting::kBandDeviceRows device rows at a time (see
// ResultPainting::fillInBands): a results view's scroll bar is repainted with
// every new list, and its full-height groove went to other threads and back
// each time. GUI thread only.

class QWidget;

namespace pallix {

// Gives `scrollBar` the banded style, one instance shared by the application.
void useBandedScrollBarStyle(QWidget* scrollBar);

} // namespace pallix
