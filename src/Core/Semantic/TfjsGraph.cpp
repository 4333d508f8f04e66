#include "Core/Semantic/TfjsGraph.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

namespace pallix::tfjs {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& what)
{
    throw GraphError(what);
}

std::string base64Decoded(std::string_view text)
{
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (const char ch : text) {
        int value;
        if (ch >= 'A' && ch <= 'Z')
            value = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            value = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            value = ch - '0' + 52;
        else if (ch == '+' || ch == '-')
            value = 62;
        else if (ch == '/' || ch == '_')
            value = 63;
        else
            break;  // '=' padding ends it
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

std::size_t elementCount(const std::vector<int>& shape)
{
    std::size_t count = 1;
    for (const int d : shape) {
        if (d < 0)
            fail("negative dimension in a weight's shape");
        count *= static_cast<std::size_t>(d);
    }
    return count;
}

template <class T>
T readLittle(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;  // the machines this runs on are little-endian, as the format is
}

// ---- Node attributes (TensorFlow's AttrValue as JSON).

const json& attr(const json& node, const char* key)
{
    static const json none;
    const auto attrs = node.find("attr");
    if (attrs == node.end())
        return none;
    const auto found = attrs->find(key);
    return found == attrs->end() ? none : *found;
}

std::string attrText(const json& node, const char* key)
{
    const json& a = attr(node, key);
    return a.contains("s") ? base64Decoded(a["s"].get<std::string>()) : std::string();
}

std::vector<std::string> attrTexts(const json& node, const char* key)
{
    std::vector<std::string> texts;
    const json& a = attr(node, key);
    if (a.contains("list") && a["list"].contains("s"))
        for (const json& s : a["list"]["s"])
            texts.push_back(base64Decoded(s.get<std::string>()));
    return texts;
}

int jsonInt(const json& value)
{
    return value.is_string() ? std::stoi(value.get<std::string>()) : value.get<int>();
}

std::vector<int> attrInts(const json& node, const char* key, std::vector<int> fallback)
{
    const json& a = attr(node, key);
    if (!a.contains("list") || !a["list"].contains("i"))
        return fallback;
    std::vector<int> values;
    for (const json& i : a["list"]["i"])
        values.push_back(jsonInt(i));
    return values;
}

bool attrBool(const json& node, const char* key, bool fallback)
{
    const json& a = attr(node, key);
    return a.contains("b") ? a["b"].get<bool>() : fallback;
}

// ---- Building.

// A tensor of the graph while the network is built: a constant, or an
// output of a layer with its NCHW size (batch 1).
struct Value {
    const Tensor* constant = nullptr;
    int layer = 0;
    int channels = 0, height = 0, width = 0;
};

struct Padding {
    int before = 0, after = 0, out = 0;
};

// TensorFlow's SAME puts the odd pixel of padding at the end.
Padding padding(const std::string& mode, int in, int kernel, int stride, int dilation, const std::string& node)
{
    const int effective = (kernel - 1) * dilation + 1;
    if (mode == "VALID") {
        if (in < effective)
            fail("input smaller than the kernel at node " + node);
        return {0, 0, (in - effective) / stride + 1};
    }
    if (mode != "SAME")
        fail("padding " + mode + " not supported at node " + node);
    const int out = (in + stride - 1) / stride;
    const int total = std::max((out - 1) * stride + effective - in, 0);
    return {total / 2, total - total / 2, out};
}

class Builder {
public:
    Builder(const json& nodes, const std::map<std::string, Tensor>& weights, int height, int width)
        : m_nodes(nodes), m_weights(weights), m_height(height), m_width(width)
    {
    }

    cv::dnn::Net build(const std::vector<std::string>& outputs)
    {
        for (const std::string& output : outputs) {
            const Value v = value(output);
            if (v.constant)
                fail("output " + output + " is a constant");
            // An output that only renames another (Identity) gets a layer of
            // its name, so it can be asked for by that name.
            if (m_net.getLayerId(output) < 0) {
                cv::dnn::LayerParams params;
                layer(output, "Identity", params, {v}, v.channels, v.height, v.width);
            }
        }
        if (m_inputName.empty())
            fail("the outputs do not depend on a placeholder");
        m_net.setInputsNames({m_inputName});
        return m_net;
    }

private:
    const json& node(const std::string& name) const
    {
        const auto found = m_nodes.find(name);
        if (found == m_nodes.end())
            fail("no node named " + name);
        return *found;
    }

    std::vector<Value> inputs(const json& n)
    {
        std::vector<Value> values;
        if (n.contains("input"))
            for (const json& in : n["input"]) {
                std::string name = in.get<std::string>();
                if (name.starts_with('^'))
                    continue;  // an ordering-only edge
                if (const auto colon = name.find(':'); colon != std::string::npos) {
                    if (name.substr(colon + 1) != "0")
                        fail("second output of " + name + " used: not supported");
                    name.resize(colon);
                }
                values.push_back(value(name));
            }
        return values;
    }

    Value value(const std::string& name)
    {
        if (const auto done = m_values.find(name); done != m_values.end())
            return done->second;
        if (!m_visiting.insert(name).second)
            fail("cycle at node " + name);
        const Value v = make(name, node(name));
        m_visiting.erase(name);
        m_values[name] = v;
        return v;
    }

    Value make(const std::string& name, const json& n)
    {
        const std::string op = n.value("op", "");
        if (op == "Const") {
            const auto found = m_weights.find(name);
            if (found == m_weights.end())
                fail("constant " + name + " has no weights");
            return Value{&found->second};
        }
        if (op == "Placeholder")
            return placeholder(name, n);
        std::vector<Value> in = inputs(n);
        if (op == "Identity") {
            expectInputs(name, in, 1);
            return in[0];
        }
        if (op == "Conv2D" || op == "_FusedConv2D" || op == "DepthwiseConv2dNative"
            || op == "FusedDepthwiseConv2dNative")
            return convolution(name, n, op, in);
        if (op == "Relu" || op == "Relu6" || op == "Sigmoid") {
            expectInputs(name, in, 1);
            requireTensor(name, in[0]);
            const char* type = op == "Relu" ? "ReLU" : op == "Relu6" ? "ReLU6" : "Sigmoid";
            cv::dnn::LayerParams params;
            return layer(name, type, params, {in[0]}, in[0].channels, in[0].height, in[0].width);
        }
        if (op == "Mul" || op == "Add")
            return arithmetic(name, op, in);
        if (op == "Mean")
            return mean(name, n, in);
        if (op == "ConcatV2")
            return concat(name, in);
        if (op == "ResizeBilinear")
            return resize(name, n, in);
        fail("unsupported op " + op + " at node " + name);
    }

    Value placeholder(const std::string& name, const json& n)
    {
        if (!m_inputName.empty() && m_inputName != name)
            fail("more than one placeholder: " + m_inputName + " and " + name);
        int channels = 0;
        const json& shape = attr(n, "shape");
        if (shape.contains("shape") && shape["shape"].contains("dim") && shape["shape"]["dim"].size() == 4)
            channels = jsonInt(shape["shape"]["dim"][3].value("size", json("0")));
        if (channels <= 0)
            fail("placeholder " + name + " has no channel count");
        m_inputName = name;
        return Value{nullptr, 0, channels, m_height, m_width};
    }

    static void expectInputs(const std::string& name, const std::vector<Value>& in, std::size_t count)
    {
        if (in.size() != count)
            fail("node " + name + " has " + std::to_string(in.size()) + " inputs, " + std::to_string(count)
                 + " expected");
    }

    static void requireTensor(const std::string& name, const Value& v)
    {
        if (v.constant)
            fail("constant input where a computed one is needed at node " + name);
    }

    Value layer(const std::string& name, const std::string& type, cv::dnn::LayerParams& params,
                const std::vector<Value>& from, int channels, int height, int width)
    {
        params.name = name;
        params.type = type;
        const int id = m_net.addLayer(name, type, params);
        for (std::size_t i = 0; i < from.size(); ++i)
            m_net.connect(from[i].layer, 0, id, static_cast<int>(i));
        return Value{nullptr, id, channels, height, width};
    }

    Value convolution(const std::string& name, const json& n, const std::string& op, const std::vector<Value>& in)
    {
        const bool depthwise = op.find("Depthwise") != std::string::npos;
        const bool fused = op.starts_with("Fused") || op.starts_with("_Fused");
        if (in.size() < 2)
            fail("node " + name + " lacks its filter");
        requireTensor(name, in[0]);
        const Value& x = in[0];
        if (!in[1].constant)
            fail("computed filter at node " + name);
        if (attrText(n, "data_format") != "" && attrText(n, "data_format") != "NHWC")
            fail("data format " + attrText(n, "data_format") + " not supported at node " + name);

        std::vector<std::string> fusedOps = attrTexts(n, "fused_ops");
        const bool bias = fused && !fusedOps.empty() && fusedOps[0] == "BiasAdd";
        std::string activation;
        if (fused) {
            if (!bias || fusedOps.size() > 2)
                fail("fused ops of node " + name + " not supported");
            if (fusedOps.size() == 2) {
                activation = fusedOps[1];
                if (activation != "Relu" && activation != "Relu6")
                    fail("fused activation " + activation + " not supported at node " + name);
            }
            expectInputs(name, in, 3);
        } else {
            expectInputs(name, in, 2);
        }

        const Tensor& filter = *in[1].constant;
        if (filter.shape.size() != 4)
            fail("filter of node " + name + " is not four-dimensional");
        const int kh = filter.shape[0], kw = filter.shape[1], fin = filter.shape[2], fout = filter.shape[3];
        if (fin != x.channels)
            fail("filter of node " + name + " expects " + std::to_string(fin) + " channels, input has "
                 + std::to_string(x.channels));
        const int outChannels = depthwise ? fin * fout : fout;
        const std::vector<int> strides = attrInts(n, "strides", {1, 1, 1, 1});
        const std::vector<int> dilations = attrInts(n, "dilations", {1, 1, 1, 1});
        if (strides.size() != 4 || dilations.size() != 4)
            fail("strides or dilations of node " + name + " malformed");
        const std::string mode = attrText(n, "padding");
        const Padding py = padding(mode, x.height, kh, strides[1], dilations[1], name);
        const Padding px = padding(mode, x.width, kw, strides[2], dilations[2], name);

        // TensorFlow's filter is [kh][kw][in][out] ([kh][kw][C][multiplier] for
        // depthwise); OpenCV's is [out][in / group][kh][kw].
        const int perGroup = depthwise ? 1 : fin;
        cv::Mat kernel({outChannels, perGroup, kh, kw}, CV_32F);
        float* k = kernel.ptr<float>();
        for (int y = 0; y < kh; ++y)
            for (int xk = 0; xk < kw; ++xk)
                for (int i = 0; i < fin; ++i)
                    for (int o = 0; o < fout; ++o) {
                        const float w = filter.values[((static_cast<std::size_t>(y) * kw + xk) * fin + i) * fout + o];
                        const int outIndex = depthwise ? i * fout + o : o;
                        const int inIndex = depthwise ? 0 : i;
                        k[((static_cast<std::size_t>(outIndex) * perGroup + inIndex) * kh + y) * kw + xk] = w;
                    }

        cv::dnn::LayerParams params;
        params.set("kernel_h", kh);
        params.set("kernel_w", kw);
        params.set("num_output", outChannels);
        params.set("group", depthwise ? fin : 1);
        params.set("stride_h", strides[1]);
        params.set("stride_w", strides[2]);
        params.set("dilation_h", dilations[1]);
        params.set("dilation_w", dilations[2]);
        params.set("pad_t", py.before);
        params.set("pad_b", py.before);
        params.set("pad_l", px.before);
        params.set("pad_r", px.before);
        params.set("bias_term", bias);
        params.blobs.push_back(kernel);
        if (bias) {
            if (!in[2].constant || in[2].constant->values.size() != static_cast<std::size_t>(outChannels))
                fail("bias of node " + name + " does not match its " + std::to_string(outChannels) + " channels");
            params.blobs.push_back(cv::Mat(1, outChannels, CV_32F, const_cast<float*>(in[2].constant->values.data()))
                                       .clone());
        }
        // OpenCV pads a convolution the same on both sides: the extra row and
        // column that SAME adds at the end come from a padding layer first.
        Value padded = x;
        if (py.after != py.before || px.after != px.before) {
            cv::dnn::LayerParams pad;
            const int extra[] = {0, 0, 0, 0, 0, py.after - py.before, 0, px.after - px.before};
            pad.set("paddings", cv::dnn::DictValue::arrayInt(extra, 8));
            pad.set("value", 0.0f);
            padded = layer(name + "/pad_end", "Padding", pad, {x}, x.channels, x.height + extra[5],
                           x.width + extra[7]);
        }
        const std::string convName = activation.empty() ? name : name + "/conv";
        Value out = layer(convName, "Convolution", params, {padded}, outChannels, py.out, px.out);
        if (!activation.empty()) {
            cv::dnn::LayerParams act;
            out = layer(name, activation == "Relu" ? "ReLU" : "ReLU6", act, {out}, out.channels, out.height,
                        out.width);
        }
        return out;
    }

    // A constant that applies per channel: one value, or C of them along the
    // last axis.
    static bool perChannel(const Tensor& t, int channels)
    {
        if (t.values.size() != static_cast<std::size_t>(channels))
            return false;
        for (std::size_t i = 0; i + 1 < t.shape.size(); ++i)
            if (t.shape[i] != 1)
                return false;
        return true;
    }

    Value arithmetic(const std::string& name, const std::string& op, std::vector<Value> in)
    {
        expectInputs(name, in, 2);
        const bool multiply = op == "Mul";
        if (in[0].constant && in[1].constant)
            fail("node " + name + " of two constants not supported");
        if (in[0].constant)
            std::swap(in[0], in[1]);
        const Value x = in[0];
        cv::dnn::LayerParams params;
        if (in[1].constant) {
            const Tensor& c = *in[1].constant;
            if (c.values.size() == 1) {
                params.set("power", 1.0f);
                params.set("scale", multiply ? c.values[0] : 1.0f);
                params.set("shift", multiply ? 0.0f : c.values[0]);
                return layer(name, "Power", params, {x}, x.channels, x.height, x.width);
            }
            if (!perChannel(c, x.channels))
                fail("constant of node " + name + " broadcasts in a way not supported");
            params.set("axis", 1);
            params.set("bias_term", !multiply);
            params.blobs.push_back(cv::Mat(1, x.channels, CV_32F, const_cast<float*>(c.values.data())).clone());
            return layer(name, "Scale", params, {x}, x.channels, x.height, x.width);
        }
        const Value& y = in[1];
        if (x.channels == y.channels && x.height == y.height && x.width == y.width) {
            params.set("operation", multiply ? "prod" : "sum");
            return layer(name, "Eltwise", params, {x, y}, x.channels, x.height, x.width);
        }
        // A squeeze-excite product: C×H×W by C×1×1 (either order).
        const bool xSmall = x.height == 1 && x.width == 1;
        const Value& big = xSmall ? y : x;
        const Value& small = xSmall ? x : y;
        if (!multiply || small.channels != big.channels || small.height != 1 || small.width != 1)
            fail("shapes of node " + name + " broadcast in a way not supported");
        params.set("axis", 1);
        params.set("bias_term", false);
        return layer(name, "Scale", params, {big, small}, big.channels, big.height, big.width);
    }

    Value mean(const std::string& name, const json& n, const std::vector<Value>& in)
    {
        expectInputs(name, in, 2);
        requireTensor(name, in[0]);
        std::vector<float> axes = in[1].constant ? in[1].constant->values : std::vector<float>{};
        std::sort(axes.begin(), axes.end());
        if (axes != std::vector<float>{1, 2} || !attrBool(n, "keep_dims", false))
            fail("Mean other than over height and width at node " + name);
        cv::dnn::LayerParams params;
        params.set("pool", "ave");
        params.set("global_pooling", true);
        return layer(name, "Pooling", params, {in[0]}, in[0].channels, 1, 1);
    }

    Value concat(const std::string& name, const std::vector<Value>& in)
    {
        if (in.size() < 2 || !in.back().constant || in.back().constant->values.size() != 1)
            fail("ConcatV2 without a constant axis at node " + name);
        const int axis = static_cast<int>(in.back().constant->values[0]);
        if (axis != 3 && axis != -1)
            fail("ConcatV2 along an axis other than channels at node " + name);
        std::vector<Value> parts(in.begin(), in.end() - 1);
        int channels = 0;
        for (const Value& part : parts) {
            requireTensor(name, part);
            if (part.height != parts[0].height || part.width != parts[0].width)
                fail("ConcatV2 of different sizes at node " + name);
            channels += part.channels;
        }
        cv::dnn::LayerParams params;
        params.set("axis", 1);
        return layer(name, "Concat", params, parts, channels, parts[0].height, parts[0].width);
    }

    Value resize(const std::string& name, const json& n, const std::vector<Value>& in)
    {
        expectInputs(name, in, 2);
        requireTensor(name, in[0]);
        if (!in[1].constant || in[1].constant->values.size() != 2)
            fail("ResizeBilinear without a constant size at node " + name);
        const int height = static_cast<int>(in[1].constant->values[0]);
        const int width = static_cast<int>(in[1].constant->values[1]);
        if (height <= 0 || width <= 0)
            fail("ResizeBilinear to an empty size at node " + name);
        cv::dnn::LayerParams params;
        params.set("interpolation", "bilinear");
        params.set("height", height);
        params.set("width", width);
        params.set("align_corners", attrBool(n, "align_corners", false));
        params.set("half_pixel_centers", attrBool(n, "half_pixel_centers", false));
        return layer(name, "Resize", params, {in[0]}, in[0].channels, height, width);
    }

    const json& m_nodes;
    const std::map<std::string, Tensor>& m_weights;
    const int m_height;
    const int m_width;
    cv::dnn::Net m_net;
    std::string m_inputName;
    std::map<std::string, Value> m_values;
    std::set<std::string> m_visiting;
};

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path.string());
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

float halfToFloat(std::uint16_t half)
{
    const std::uint32_t sign = static_cast<std::uint32_t>(half & 0x8000u) << 16;
    const int exponent = (half >> 10) & 0x1F;
    const std::uint32_t mantissa = half & 0x3FFu;
    if (exponent == 0) {
        // Zero or subnormal: mantissa × 2^-24.
        const float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -magnitude : magnitude;
    }
    std::uint32_t bits;
    if (exponent == 0x1F)
        bits = sign | 0x7F800000u | (mantissa << 13);  // infinity or NaN
    else
        bits = sign | (static_cast<std::uint32_t>(exponent - 15 + 127) << 23) | (mantissa << 13);
    return std::bit_cast<float>(bits);
}

TfjsGraph TfjsGraph::load(const std::filesystem::path& modelJson)
{
    const std::vector<std::uint8_t> text = readFile(modelJson);
    json model = json::parse(text.begin(), text.end(), nullptr, false);
    if (model.is_discarded())
        fail("model file " + modelJson.string() + " is not JSON");
    std::vector<std::uint8_t> bytes;
    if (model.contains("weightsManifest"))
        for (const json& group : model["weightsManifest"])
            for (const json& path : group.value("paths", json::array())) {
                const std::vector<std::uint8_t> shard = readFile(modelJson.parent_path() / path.get<std::string>());
                bytes.insert(bytes.end(), shard.begin(), shard.end());
            }
    return TfjsGraph(std::move(model), bytes);
}

TfjsGraph::TfjsGraph(json model, const std::vector<std::uint8_t>& weightBytes)
{
    try {
        m_nodes = json::object();
        for (const json& n : model.at("modelTopology").at("node"))
            m_nodes[n.at("name").get<std::string>()] = n;

        std::size_t offset = 0;
        for (const json& group : model.at("weightsManifest"))
            for (const json& w : group.at("weights")) {
                const std::string name = w.at("name").get<std::string>();
                Tensor tensor;
                for (const json& d : w.at("shape"))
                    tensor.shape.push_back(jsonInt(d));
                const std::size_t count = elementCount(tensor.shape);
                const std::string dtype = w.at("dtype").get<std::string>();
                std::string stored = dtype;
                float scale = 1, minimum = 0;
                if (w.contains("quantization")) {
                    const json& q = w["quantization"];
                    stored = q.at("dtype").get<std::string>();
                    if (stored != "float16") {
                        scale = q.at("scale").get<float>();
                        minimum = q.at("min").get<float>();
                    }
                }
                std::size_t width;
                if (stored == "float32" || stored == "int32")
                    width = 4;
                else if (stored == "float16" || stored == "uint16")
                    width = 2;
                else if (stored == "uint8")
                    width = 1;
                else
                    fail("weight " + name + " has dtype " + stored + ": not supported");
                if (dtype != "float32" && dtype != "int32")
                    fail("weight " + name + " has dtype " + dtype + ": not supported");
                if (count > (weightBytes.size() - offset) / width)
                    fail("weight " + name + " runs past the end of the weight files");
                tensor.values.resize(count);
                const std::uint8_t* p = weightBytes.data() + offset;
                for (std::size_t i = 0; i < count; ++i, p += width) {
                    if (stored == "float32")
                        tensor.values[i] = readLittle<float>(p);
                    else if (stored == "int32")
                        tensor.values[i] = static_cast<float>(readLittle<std::int32_t>(p));
                    else if (stored == "float16")
                        tensor.values[i] = halfToFloat(readLittle<std::uint16_t>(p));
                    else if (stored == "uint16")
                        tensor.values[i] = readLittle<std::uint16_t>(p) * scale + minimum;
                    else
                        tensor.values[i] = *p * scale + minimum;
                }
                offset += count * width;
                m_weights[name] = std::move(tensor);
            }
        if (offset != weightBytes.size())
            fail("the weight files hold " + std::to_string(weightBytes.size()) + " bytes, the manifest describes "
                 + std::to_string(offset));
    } catch (const json::exception& e) {
        fail(std::string("malformed model: ") + e.what());
    }
}

cv::dnn::Net TfjsGraph::buildNet(const std::vector<std::string>& outputs, int height, int width) const
{
    if (height <= 0 || width <= 0)
        fail("empty input size");
    Builder builder(m_nodes, m_weights, height, width);
    return builder.build(outputs);
}

} // namespace pallix::tfjs
