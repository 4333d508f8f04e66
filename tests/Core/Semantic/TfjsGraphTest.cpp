// The graph loader on tiny models written here, checked against values
// worked out by hand, and on the detector's real model where `make` fetched it.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "Core/Semantic/CenterNetDetector.h"
#include "Core/Semantic/TfjsGraph.h"
#include <unistd.h>

using nlohmann::json;
using pallix::tfjs::GraphError;
using pallix::tfjs::TfjsGraph;

namespace {

// "NHWC", "SAME" etc. as the converter writes them (base64).
std::string b64(const std::string& text)
{
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned char ch : text) {
        buffer = (buffer << 8) | ch;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(table[(buffer >> bits) & 0x3F]);
        }
    }
    if (bits > 0)
        out.push_back(table[(buffer << (6 - bits)) & 0x3F]);
    while (out.size() % 4)
        out.push_back('=');
    return out;
}

json ints(std::vector<int> values)
{
    json list = json::array();
    for (int v : values)
        list.push_back(std::to_string(v));
    return json{{"list", {{"i", list}}}};
}

json convAttrs(const std::string& padding, int stride, std::vector<std::string> fused = {})
{
    json attrs{{"strides", ints({1, stride, stride, 1})}, {"padding", {{"s", b64(padding)}}},
               {"data_format", {{"s", b64("NHWC")}}}, {"dilations", ints({1, 1, 1, 1})}};
    if (!fused.empty()) {
        json list = json::array();
        for (const auto& f : fused)
            list.push_back(b64(f));
        attrs["fused_ops"] = {{"list", {{"s", list}}}};
    }
    return attrs;
}

// A model.json and its weights file, built node by node.
class ModelWriter {
public:
    void placeholder(const std::string& name, int h, int w, int c)
    {
        json dims = json::array({{{"size", "1"}}, {{"size", std::to_string(h)}}, {{"size", std::to_string(w)}},
                                 {{"size", std::to_string(c)}}});
        m_nodes.push_back({{"name", name}, {"op", "Placeholder"}, {"attr", {{"shape", {{"shape", {{"dim", dims}}}}}}}});
    }
    void f32(const std::string& name, std::vector<int> shape, const std::vector<float>& values)
    {
        constNode(name);
        m_weights.push_back({{"name", name}, {"shape", shape}, {"dtype", "float32"}});
        append(values.data(), values.size() * 4);
    }
    void i32(const std::string& name, std::vector<int> shape, const std::vector<std::int32_t>& values)
    {
        constNode(name);
        m_weights.push_back({{"name", name}, {"shape", shape}, {"dtype", "int32"}});
        append(values.data(), values.size() * 4);
    }
    void f16(const std::string& name, std::vector<int> shape, const std::vector<std::uint16_t>& halves)
    {
        constNode(name);
        m_weights.push_back({{"name", name}, {"shape", shape}, {"dtype", "float32"},
                             {"quantization", {{"dtype", "float16"}, {"original_dtype", "float32"}}}});
        append(halves.data(), halves.size() * 2);
    }
    template <class Q>
    void affine(const std::string& name, std::vector<int> shape, const std::vector<Q>& q, float scale, float min)
    {
        constNode(name);
        m_weights.push_back({{"name", name}, {"shape", shape}, {"dtype", "float32"},
                             {"quantization", {{"dtype", sizeof(Q) == 1 ? "uint8" : "uint16"}, {"scale", scale},
                                               {"min", min}}}});
        append(q.data(), q.size() * sizeof(Q));
    }
    void op(const std::string& name, const std::string& op, std::vector<std::string> inputs, json attrs = json::object())
    {
        m_nodes.push_back({{"name", name}, {"op", op}, {"input", inputs}, {"attr", attrs}});
    }

    json model() const
    {
        return {{"format", "graph-model"},
                {"modelTopology", {{"node", m_nodes}}},
                {"weightsManifest", json::array({{{"paths", {"weights.bin"}}, {"weights", m_weights}}})}};
    }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

    // Writes model.json and weights.bin into `dir`; the json's path.
    std::filesystem::path write(const std::filesystem::path& dir, std::size_t dropBytes = 0) const
    {
        std::ofstream(dir / "model.json") << model().dump();
        std::ofstream bin(dir / "weights.bin", std::ios::binary);
        bin.write(reinterpret_cast<const char*>(m_bytes.data()),
                  static_cast<std::streamsize>(m_bytes.size() - dropBytes));
        return dir / "model.json";
    }

private:
    void constNode(const std::string& name) { m_nodes.push_back({{"name", name}, {"op", "Const"}}); }
    void append(const void* data, std::size_t size)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
    }

    json m_nodes = json::array();
    json m_weights = json::array();
    std::vector<std::uint8_t> m_bytes;
};

// An NCHW input blob from channel planes, each row-major.
cv::Mat blob(int h, int w, const std::vector<std::vector<float>>& planes)
{
    cv::Mat m({1, static_cast<int>(planes.size()), h, w}, CV_32F);
    for (std::size_t c = 0; c < planes.size(); ++c)
        std::memcpy(m.ptr<float>(0, static_cast<int>(c)), planes[c].data(), planes[c].size() * sizeof(float));
    return m;
}

std::vector<float> plane(const cv::Mat& out, int c)
{
    const float* p = out.ptr<float>(0, c);
    return std::vector<float>(p, p + out.size[2] * out.size[3]);
}

cv::Mat run(const ModelWriter& writer, const std::string& output, int h, int w, const cv::Mat& input)
{
    cv::dnn::Net net = TfjsGraph(writer.model(), writer.bytes()).buildNet({output}, h, w);
    net.setInput(input);
    return net.forward(output).clone();
}

constexpr std::uint16_t kHalfOne = 0x3C00;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pallix-graph-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace

TEST(TfjsGraph, StrideTwoSamePadsTheOddPixelAtTheEndAndFusesBiasAndRelu)
{
    ModelWriter m;
    m.placeholder("in", 4, 4, 1);
    m.f16("w", {3, 3, 1, 1}, std::vector<std::uint16_t>(9, kHalfOne));
    m.f32("b", {1}, {-50});
    m.op("conv", "_FusedConv2D", {"in", "w", "b"}, convAttrs("SAME", 2, {"BiasAdd", "Relu"}));
    m.op("out", "Identity", {"conv"});

    std::vector<float> input(16);
    for (int i = 0; i < 16; ++i)
        input[i] = static_cast<float>(i + 1);
    const cv::Mat out = run(m, "out", 4, 4, blob(4, 4, {input}));
    ASSERT_EQ(out.size[2], 2);
    ASSERT_EQ(out.size[3], 2);
    // Windows start at 0 and 2; the padding row and column come last. Sums
    // 54, 45, 72, 54 less 50, negatives cut.
    EXPECT_EQ(plane(out, 0), (std::vector<float>{4, 0, 22, 4}));
}

TEST(TfjsGraph, DepthwiseConvolutionFiltersEachChannelApart)
{
    ModelWriter m;
    m.placeholder("in", 3, 3, 2);
    // [kh][kw][channel][multiplier]: channel 0 sums ×2, channel 1 is the
    // centre less the lower right neighbour.
    std::vector<float> filter(18, 0);
    for (int k = 0; k < 9; ++k)
        filter[k * 2] = 2;
    filter[4 * 2 + 1] = 1;
    filter[8 * 2 + 1] = -1;
    m.f32("w", {3, 3, 2, 1}, filter);
    m.op("dw", "DepthwiseConv2dNative", {"in", "w"}, convAttrs("SAME", 1));

    const cv::Mat out = run(m, "dw", 3, 3, blob(3, 3, {std::vector<float>(9, 1), {1, 2, 3, 4, 5, 6, 7, 8, 9}}));
    ASSERT_EQ(out.size[1], 2);
    EXPECT_EQ(plane(out, 0), (std::vector<float>{8, 12, 8, 12, 18, 12, 8, 12, 8}));
    EXPECT_EQ(plane(out, 1), (std::vector<float>{-4, -4, 3, -4, -4, 6, 7, 8, 9}));
}

TEST(TfjsGraph, SqueezeExciteScalesEachChannelByItsOwnMean)
{
    ModelWriter m;
    m.placeholder("in", 2, 2, 2);
    m.i32("axes", {2}, {1, 2});
    m.f32("three", {}, {3});
    m.f32("half", {}, {0.5f});
    m.op("mean", "Mean", {"in", "axes"}, {{"keep_dims", {{"b", true}}}});
    m.op("add", "Add", {"mean", "three"});
    m.op("relu6", "Relu6", {"add"});
    m.op("gate", "Mul", {"half", "relu6"});
    m.op("out", "Mul", {"gate", "in"});

    const cv::Mat out = run(m, "out", 2, 2, blob(2, 2, {{1, 2, 3, 4}, {2, 2, 10, 10}}));
    // Means 2.5 and 6; +3 → 5.5 and 9, capped at 6; halved → 2.75 and 3.
    EXPECT_EQ(plane(out, 0), (std::vector<float>{2.75f, 5.5f, 8.25f, 11}));
    EXPECT_EQ(plane(out, 1), (std::vector<float>{6, 6, 30, 30}));
}

TEST(TfjsGraph, ConcatOfResizedMapsAndPerChannelConstants)
{
    ModelWriter m;
    m.placeholder("in", 2, 2, 1);
    m.i32("size", {2}, {4, 4});
    m.f32("two", {}, {2});
    m.i32("axis", {}, {3});
    m.f32("signs", {2}, {1, -1});
    m.op("up", "ResizeBilinear", {"in", "size"},
         {{"align_corners", {{"b", false}}}, {"half_pixel_centers", {{"b", false}}}});
    m.op("twice", "Mul", {"up", "two"});
    m.op("cat", "ConcatV2", {"up", "twice", "axis"}, {{"N", {{"i", "2"}}}});
    m.op("out", "Mul", {"cat", "signs"});

    const cv::Mat out = run(m, "out", 2, 2, blob(2, 2, {{1, 2, 3, 4}}));
    ASSERT_EQ(out.size[1], 2);
    // Source coordinate = target × 0.5, clamped at the last pixel.
    const std::vector<float> up{1, 1.5f, 2, 2, 2, 2.5f, 3, 3, 3, 3.5f, 4, 4, 3, 3.5f, 4, 4};
    EXPECT_EQ(plane(out, 0), up);
    std::vector<float> negatedTwice;
    for (float v : up)
        negatedTwice.push_back(-2 * v);
    EXPECT_EQ(plane(out, 1), negatedTwice);
}

TEST(TfjsGraph, DecodesFloat16AndAffineQuantisedWeights)
{
    ModelWriter m;
    // 1, -2, the largest half, the smallest subnormal, 1/3 rounded, infinity.
    m.f16("halves", {6}, {0x3C00, 0xC000, 0x7BFF, 0x0001, 0x3555, 0x7C00});
    m.affine<std::uint8_t>("bytes", {3}, {0, 1, 255}, 0.5f, -1);
    m.affine<std::uint16_t>("words", {2}, {0, 1000}, 0.01f, 2);
    m.f32("plain", {1, 2}, {0.25f, -7});
    const TfjsGraph graph(m.model(), m.bytes());

    const auto& w = graph.weights();
    const std::vector<float>& halves = w.at("halves").values;
    EXPECT_EQ(halves[0], 1.0f);
    EXPECT_EQ(halves[1], -2.0f);
    EXPECT_EQ(halves[2], 65504.0f);
    EXPECT_EQ(halves[3], std::ldexp(1.0f, -24));
    EXPECT_EQ(halves[4], 0.333251953125f);
    EXPECT_TRUE(std::isinf(halves[5]));
    EXPECT_EQ(w.at("bytes").values, (std::vector<float>{-1, -0.5f, 126.5f}));
    EXPECT_NEAR(w.at("words").values[1], 12, 1e-5);
    EXPECT_EQ(w.at("words").values[0], 2);
    EXPECT_EQ(w.at("plain").values, (std::vector<float>{0.25f, -7}));
    EXPECT_EQ(w.at("plain").shape, (std::vector<int>{1, 2}));
}

TEST(TfjsGraph, RefusesWhatItCannotReadOrBuild)
{
    TempDir dir;
    ModelWriter m;
    m.placeholder("in", 2, 2, 1);
    m.f32("w", {1, 1, 1, 1}, {1});
    m.op("conv", "Conv2D", {"in", "w"}, convAttrs("SAME", 1));
    m.op("odd", "Erf", {"conv"});

    // Written and read back whole: the known part builds, the unknown op is named.
    const TfjsGraph graph = TfjsGraph::load(m.write(dir.path()));
    EXPECT_NO_THROW(graph.buildNet({"conv"}, 2, 2));
    try {
        graph.buildNet({"odd"}, 2, 2);
        ADD_FAILURE() << "an unknown op was built";
    } catch (const GraphError& e) {
        EXPECT_NE(std::string(e.what()).find("Erf"), std::string::npos) << e.what();
    }
    EXPECT_THROW(graph.buildNet({"missing"}, 2, 2), GraphError);

    // A shard shorter or longer than the manifest says.
    EXPECT_THROW(TfjsGraph::load(m.write(dir.path(), 1)), GraphError);
    std::ofstream(dir.path() / "weights.bin", std::ios::app) << "xxxxxx";
    EXPECT_THROW(TfjsGraph::load(dir.path() / "model.json"), GraphError);
    // No shard, and a model file that is not JSON.
    std::filesystem::remove(dir.path() / "weights.bin");
    EXPECT_THROW(TfjsGraph::load(dir.path() / "model.json"), GraphError);
    std::ofstream(dir.path() / "model.json") << "{ not json";
    EXPECT_THROW(TfjsGraph::load(dir.path() / "model.json"), GraphError);
}

TEST(TfjsGraph, RealDetectorModelBuildsAndKeepsItsHeatMap)
{
    const std::filesystem::path json = pallix::CenterNetDetector::buildModelFolder() / "centernet.json";
    if (!std::filesystem::exists(json))
        GTEST_SKIP() << "the detector model was not fetched into " << json.parent_path()
                     << " (make fetches it with npm)";
    const TfjsGraph graph = TfjsGraph::load(json);
    cv::dnn::Net net = graph.buildNet({"tower_0/keypoints", "tower_0/wh"}, 512, 512);
    // The graph's 277 computing nodes less the detection decoding, Identity
    // folded, the end padding of stride-2 layers and activations split off.
    EXPECT_EQ(net.getLayerNames().size(), 266u);

    // A fixed synthetic picture: diagonal bands of colour.
    cv::Mat input({1, 3, 512, 512}, CV_32F);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x)
                input.ptr<float>(0, c, y)[x] = static_cast<float>(((x + y) / 32 * 40 + c * 70) % 256);
    net.setInput(input);
    std::vector<cv::Mat> outs;
    net.forward(outs, std::vector<cv::String>{"tower_0/keypoints", "tower_0/wh"});
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0].size[1], 80);
    EXPECT_EQ(outs[0].size[2], 128);
    EXPECT_EQ(outs[1].size[1], 4);
    const auto at = [&](int output, int c, int y, int x) { return outs[output].ptr<float>(0, c, y)[x]; };
    // Recorded once from this loader; the photos test checks what they mean.
    EXPECT_NEAR(at(0, 0, 64, 64), 0.041824f, 2e-5);
    EXPECT_NEAR(at(0, 17, 10, 100), 0.000530f, 2e-5);
    EXPECT_NEAR(at(0, 56, 127, 0), 0.009195f, 2e-5);
    EXPECT_NEAR(at(1, 0, 64, 64), 229.9486f, 2e-3);
    EXPECT_NEAR(at(1, 3, 5, 120), 28.81303f, 2e-3);
}
