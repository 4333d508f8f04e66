#include "UI/Results/ResultsArea.h"

namespace pallix {

ResultsArea::ResultsArea(AppModel& model, ThumbnailProvider& thumbnails, QWidget* parent)
    : QWidget(parent), m_model(model), m_thumbnails(thumbnails)
{
}

ResultsArea::~ResultsArea() = default;

void ResultsArea::setExternalIndexingCTA(const std::optional<ExternalIndexingCTA>&) {}

} // namespace pallix
