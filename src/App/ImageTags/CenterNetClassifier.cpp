#include "App/ImageTags/CenterNetClassifier.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace pallix {

CenterNetClassifier::CenterNetClassifier(std::filesystem::path modelFolder) : m_detector(std::move(modelFolder)) {}

std::shared_ptr<CenterNetClassifier> CenterNetClassifier::system()
{
    const QString dir = QCoreApplication::applicationDirPath();
    const std::filesystem::path executableDir = dir.isEmpty() ? std::filesystem::path() : std::filesystem::path(dir.toStdString());
    const auto folder = CenterNetDetector::findModelFolder(executableDir);
    return std::make_shared<CenterNetClassifier>(folder ? *folder : executableDir / "models");
}

std::vector<imagetags::Classification> CenterNetClassifier::classify(const QImage& image)
{
    if (image.isNull())
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<imagetags::Classification> found =
        m_detector.detect(rgb.constBits(), rgb.width(), rgb.height(), static_cast<std::size_t>(rgb.bytesPerLine()));
    if (!m_warned) {
        if (const std::string error = m_detector.loadError(); !error.empty()) {
            m_warned = true;
            qWarning("%s", error.c_str());
        }
    }
    return found;
}

} // namespace pallix
