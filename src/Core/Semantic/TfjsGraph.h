#pragma once
// TfjsGraph: a TensorFlow.js graph model (model.json and its weight shards)
// read without TensorFlow, and the part of it that some outputs need built as
// an OpenCV network through its layer API. Only the operations of small
// convolutional detectors are known; any other one stops the build with an
// error that names it, rather than a network that computes something else.
//
// Tensors are NHWC in the graph and NCHW in the network; a network input is
// a 1×C×H×W blob and so is each output.
//
// Threads: a loaded graph is read-only; buildNet() may be called from any
// thread. The network it returns belongs to the caller.

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/dnn.hpp>

namespace pallix::tfjs {

// A damaged or unsupported model; the text says which node or file.
class GraphError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A constant of the graph, decoded to float (int32 values too: they are
// small indices and sizes here).
struct Tensor {
    std::vector<int> shape;
    std::vector<float> values;
};

// IEEE half to single precision.
float halfToFloat(std::uint16_t half);

class TfjsGraph {
public:
    // Reads `modelJson` and the shards its manifest names, beside it.
    static TfjsGraph load(const std::filesystem::path& modelJson);
    // From the parsed model and its shards' bytes joined in manifest order.
    TfjsGraph(nlohmann::json model, const std::vector<std::uint8_t>& weightBytes);

    const std::map<std::string, Tensor>& weights() const { return m_weights; }

    // The network computing `outputs` (node names) from the graph's single
    // placeholder, for an input of height × width pixels. Unused nodes are
    // left out.
    cv::dnn::Net buildNet(const std::vector<std::string>& outputs, int height, int width) const;

private:
    nlohmann::json m_nodes;  // name → node
    std::map<std::string, Tensor> m_weights;
};

} // namespace pallix::tfjs
