#include "Core/Semantic/CenterNetDetector.h"

#include <algorithm>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "Core/Semantic/TfjsGraph.h"

namespace pallix {

namespace {

constexpr const char* kHeatMap = "tower_0/keypoints";
constexpr const char* kSizes = "tower_0/wh";
constexpr int kPersonClass = 0;

// Tagging must leave the cores a search needs: OpenCV runs on the calling
// thread alone, set once for the process, so all of the network's work stays
// on the tagger's worker and its background priority.
void limitThreadsOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { cv::setNumThreads(1); });
}

// Local maxima of a heat map (3×3 neighbourhood, as the detector's own
// decoding takes them) of at least `minimum`.
int peakCount(const cv::Mat& map, float minimum)
{
    cv::Mat dilated;
    cv::dilate(map, dilated, cv::Mat::ones(3, 3, CV_8U));
    int count = 0;
    for (int y = 0; y < map.rows; ++y)
        for (int x = 0; x < map.cols; ++x) {
            const float v = map.at<float>(y, x);
            if (v >= minimum && v == dilated.at<float>(y, x))
                ++count;
        }
    return count;
}

} // namespace

struct CenterNetDetector::Network {
    cv::dnn::Net net;
};

CenterNetDetector::CenterNetDetector(std::filesystem::path folder) : m_folder(std::move(folder)) {}

CenterNetDetector::~CenterNetDetector() = default;

std::filesystem::path CenterNetDetector::buildModelFolder()
{
    return PALLIX_MODEL_BUILD_DIR;
}

std::optional<std::filesystem::path> CenterNetDetector::findModelFolder(const std::filesystem::path& executableDir)
{
    const std::filesystem::path candidates[] = {executableDir / "models",
                                                executableDir.parent_path() / "share/pallix/models",
                                                // from <prefix>/libexec/pallix, the installed helper's folder
                                                executableDir.parent_path().parent_path() / "share/pallix/models",
                                                buildModelFolder()};
    for (const auto& folder : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(folder / "centernet.json", error)
            && std::filesystem::is_regular_file(folder / "centernet.bin", error))
            return folder;
    }
    return std::nullopt;
}

std::string CenterNetDetector::loadError() const
{
    std::lock_guard lock(m_errorMutex);
    return m_loadError;
}

void CenterNetDetector::release()
{
    if (!m_network)
        return;
    m_network.reset();
    m_tried = false;
}

bool CenterNetDetector::ensureLoaded()
{
    if (m_tried)
        return m_network != nullptr;
    m_tried = true;
    limitThreadsOnce();
    std::string error;
    try {
        auto network = std::make_unique<Network>();
        network->net = tfjs::TfjsGraph::load(m_folder / "centernet.json")
                           .buildNet({kHeatMap, kSizes}, kInputSide, kInputSide);
        m_network = std::move(network);
        return true;
    } catch (const std::exception& e) {
        error = e.what();  // GraphError, cv::Exception, bad_alloc
    } catch (...) {
        error = "unknown error";
    }
    std::lock_guard lock(m_errorMutex);
    m_loadError = "object detector unavailable (" + m_folder.string() + "): " + error;
    return false;
}

std::vector<imagetags::Classification> CenterNetDetector::detect(const std::uint8_t* rgb, int width, int height,
                                                                 std::size_t bytesPerLine)
{
    if (!rgb || width <= 0 || height <= 0 || !ensureLoaded())
        return {};
    try {
        const cv::Mat image(height, width, CV_8UC3, const_cast<std::uint8_t*>(rgb), bytesPerLine);
        cv::Mat stretched;
        cv::resize(image, stretched, cv::Size(kInputSide, kInputSide), 0, 0, cv::INTER_LINEAR);
        // Pixel values 0..255 in RGB order, as the model was converted to take them.
        m_network->net.setInput(cv::dnn::blobFromImage(stretched, 1.0, cv::Size(), cv::Scalar(), false, false,
                                                       CV_32F));
        const cv::Mat heat = m_network->net.forward(kHeatMap);
        const int classes = heat.size[1], rows = heat.size[2], cols = heat.size[3];
        std::vector<float> maxima(static_cast<std::size_t>(classes), 0);
        for (int c = 0; c < classes; ++c) {
            const cv::Mat map(rows, cols, CV_32F, const_cast<float*>(heat.ptr<float>(0, c)));
            double best = 0;
            cv::minMaxLoc(map, nullptr, &best);
            maxima[static_cast<std::size_t>(c)] = static_cast<float>(best);
        }
        const cv::Mat persons(rows, cols, CV_32F, const_cast<float*>(heat.ptr<float>(0, kPersonClass)));
        return results(maxima, peakCount(persons, kMinPersonPeak));
    } catch (const cv::Exception&) {
        return {};  // one picture the network could not take; the next may work
    }
}

const std::vector<std::string>& CenterNetDetector::cocoIdentifiers()
{
    // COCO's "mouse" is a computer mouse: no part of its identifier may be
    // "mouse", which the table would make 老鼠.
    static const std::vector<std::string> identifiers{
        "person", "bicycle", "car", "motorcycle", "airplane", "bus", "train", "car/truck", "boat",
        "traffic light", "fire hydrant", "stop sign", "parking meter", "bench", "bird", "cat", "dog", "horse",
        "sheep", "cow", "elephant", "bear", "zebra", "giraffe", "bag/backpack", "umbrella", "bag/handbag", "tie",
        "suitcase", "frisbee", "skis", "snowboard", "ball/sports ball", "kite", "baseball bat", "baseball glove",
        "skateboard", "surfboard", "tennis racket", "bottle", "glass/wine/wine glass", "cup", "fork", "knife",
        "spoon", "bowl", "food/fruit/banana", "food/fruit/apple", "food/bread/sandwich", "food/fruit/orange",
        "food/vegetable/broccoli", "food/vegetable/carrot", "food/hot dog", "food/pizza", "food/dessert/donut",
        "food/dessert/cake", "furniture/chair", "furniture/sofa/couch", "plant/potted plant", "furniture/bed",
        "furniture/table/dining table", "toilet", "tv", "computer/laptop", "computer/computer mouse", "remote",
        "computer/keyboard", "phone/cell phone", "microwave", "oven", "toaster", "sink", "refrigerator", "book",
        "clock", "vase", "scissors", "toy/teddy bear", "hair drier", "toothbrush",
    };
    return identifiers;
}

std::vector<imagetags::Classification> CenterNetDetector::results(const std::vector<float>& classMaxima,
                                                                  int personPeaks)
{
    const auto& identifiers = cocoIdentifiers();
    std::vector<imagetags::Classification> found;
    for (std::size_t c = 0; c < std::min(classMaxima.size(), identifiers.size()); ++c)
        if (classMaxima[c] >= kMinConfidence)
            found.push_back({identifiers[c], classMaxima[c]});
    if (personPeaks >= 2 && !classMaxima.empty())
        found.push_back({"people", classMaxima[kPersonClass]});
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.confidence > b.confidence; });
    return found;
}

} // namespace pallix
