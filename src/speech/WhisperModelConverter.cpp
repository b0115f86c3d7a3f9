#include "speech/WhisperModelConverter.h"

#include "speech/TensorEncoding.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <span>

namespace harkwell {

namespace {

using Tensor = CTranslate2Model::Tensor;
using DataType = CTranslate2Model::DataType;

constexpr std::uint32_t ctranslate2Version = 6;
constexpr std::uint32_t ggmlMagic = 0x67676d6c; // "ggml"
constexpr std::int32_t ggmlF32 = 0;
constexpr std::int32_t ggmlF16 = 1;
constexpr std::int32_t ggmlQ8_0 = 8;
// The model's weight type as whisper.cpp reads it: ggml's file type, with its quantisation version
// (2) in the thousands.
constexpr std::int32_t fileTypeF32 = 0, fileTypeF16 = 1, fileTypeQ8_0 = 2 * 1000 + 7;

[[noreturn]] void fail(const std::string& what) { throw WhisperModelConversionError(what); }

class Reader {
public:
    explicit Reader(const std::filesystem::path& path) : in_(path, std::ios::binary), path_(path) {
        if (!in_) {
            fail("cannot open " + path.string());
        }
    }
    template <typename T>
    T value() {
        T result{};
        bytes(reinterpret_cast<char*>(&result), sizeof result);
        return result;
    }
    std::string string() {
        const auto length = value<std::uint16_t>();
        std::string text(length, '\0');
        bytes(text.data(), length);
        if (length == 0 || text.back() != '\0') {
            fail(path_.string() + ": a name is not terminated");
        }
        text.pop_back();
        return text;
    }
    void bytes(char* into, std::size_t count) {
        if (!in_.read(into, static_cast<std::streamsize>(count))) {
            fail(path_.string() + ": ends early");
        }
    }
    bool atEnd() { return in_.peek() == std::char_traits<char>::eof(); }

private:
    std::ifstream in_;
    std::filesystem::path path_;
};

class Writer {
public:
    explicit Writer(const std::filesystem::path& path) : out_(path, std::ios::binary | std::ios::trunc), path_(path) {
        if (!out_) {
            fail("cannot write " + path.string());
        }
    }
    template <typename T>
    void value(T value) {
        bytes(&value, sizeof value);
    }
    void bytes(const void* data, std::size_t count) {
        out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
    }
    void close() {
        out_.close();
        if (!out_) {
            fail("cannot write " + path_.string());
        }
    }

private:
    std::ofstream out_;
    std::filesystem::path path_;
};

std::size_t elementSize(DataType type) {
    switch (type) {
    case DataType::int8:
        return 1;
    case DataType::int16:
    case DataType::float16:
    case DataType::bfloat16:
        return 2;
    case DataType::float32:
    case DataType::int32:
        return 4;
    }
    fail("unknown data type " + std::to_string(static_cast<int>(type)));
}

// Rows [first, first + count) of a matrix, or elements of a vector.
Tensor rows(const Tensor& tensor, std::uint32_t first, std::uint32_t count) {
    if (tensor.shape.empty() || first + count > tensor.shape[0]) {
        fail("a fused attention tensor has the wrong size");
    }
    Tensor part = tensor;
    part.shape[0] = count;
    const std::size_t rowBytes = tensor.bytes.size() / tensor.shape[0];
    part.bytes.assign(tensor.bytes.begin() + static_cast<std::ptrdiff_t>(first * rowBytes),
                      tensor.bytes.begin() + static_cast<std::ptrdiff_t>((first + count) * rowBytes));
    return part;
}

class Model {
public:
    explicit Model(CTranslate2Model model) : model_(std::move(model)) {}

    const Tensor& tensor(const std::string& name) const {
        auto found = model_.tensors.find(name);
        if (found == model_.tensors.end()) {
            if (auto alias = model_.aliases.find(name); alias != model_.aliases.end()) {
                found = model_.tensors.find(alias->second);
            }
        }
        if (found == model_.tensors.end()) {
            fail("the model has no tensor " + name);
        }
        return found->second;
    }
    bool has(const std::string& name) const { return model_.tensors.contains(name); }
    std::int32_t scalar(const std::string& name, std::int32_t fallback) const {
        if (!has(name)) {
            return fallback;
        }
        const auto& value = tensor(name);
        switch (value.type) {
        case DataType::int8:
            return static_cast<std::int8_t>(value.bytes.at(0));
        case DataType::int16: {
            std::int16_t result;
            std::memcpy(&result, value.bytes.data(), 2);
            return result;
        }
        case DataType::int32: {
            std::int32_t result;
            std::memcpy(&result, value.bytes.data(), 4);
            return result;
        }
        default:
            fail(name + " is not an integer");
        }
    }
    int layers(const std::string& prefix) const {
        int count = 0;
        while (has(prefix + "/layer_" + std::to_string(count) + "/ffn/linear_0/weight")) {
            ++count;
        }
        return count;
    }

private:
    CTranslate2Model model_;
};

class GgmlWriter {
public:
    GgmlWriter(Writer& out, std::int32_t weightType) : out_(out), weightType_(weightType) {}

    // A matrix of the network, in the model's weight type.
    void weight(const std::string& name, const Tensor& tensor) { write(name, tensor, weightType_); }
    // The convolutions: float16 unless the model is float32, as whisper.cpp expects.
    void convolution(const std::string& name, const Tensor& tensor) {
        write(name, tensor, weightType_ == ggmlF32 ? ggmlF32 : ggmlF16);
    }
    // Biases, norms and positional embeddings stay float32.
    void vector(const std::string& name, const Tensor& tensor) { write(name, tensor, ggmlF32); }

private:
    void write(const std::string& name, const Tensor& tensor, std::int32_t type) {
        const auto data = type == ggmlQ8_0  ? tensorAsQ8_0(tensor)
                          : type == ggmlF16 ? tensorAsFloat16(tensor)
                                            : tensorAsFloat32(tensor);
        out_.value(static_cast<std::int32_t>(tensor.shape.size()));
        out_.value(static_cast<std::int32_t>(name.size()));
        out_.value(type);
        // ggml lists the dimensions fastest-varying first.
        for (auto dimension = tensor.shape.rbegin(); dimension != tensor.shape.rend(); ++dimension) {
            out_.value(static_cast<std::int32_t>(*dimension));
        }
        out_.bytes(name.data(), name.size());
        out_.bytes(data.data(), data.size());
    }

    Writer& out_;
    std::int32_t weightType_;
};

// GPT-2's spelling of bytes as characters: printable bytes stand for themselves, the others for
// the characters from U+0100 on, in byte order.
std::array<int, 512> byteOfCharacter() {
    std::array<int, 512> table;
    table.fill(-1);
    int next = 256;
    for (int byte = 0; byte < 256; ++byte) {
        const bool printable = (byte >= '!' && byte <= '~') || (byte >= 0xa1 && byte <= 0xac) || byte >= 0xae;
        table[static_cast<std::size_t>(printable ? byte : next++)] = byte;
    }
    return table;
}

std::string tokenBytes(const QString& token) {
    static const auto table = byteOfCharacter();
    std::string bytes;
    for (const auto character : token.toUcs4()) {
        if (character >= table.size() || table[character] < 0) {
            fail("vocabulary token " + token.toStdString() + " is not in GPT-2's byte spelling");
        }
        bytes.push_back(static_cast<char>(table[character]));
    }
    return bytes;
}

void writeLayers(GgmlWriter& out, const Model& model, const std::string& from, const std::string& to, int count,
                 std::uint32_t state, bool decoder) {
    for (int i = 0; i < count; ++i) {
        const auto in = from + "/layer_" + std::to_string(i) + "/";
        const auto block = to + ".blocks." + std::to_string(i) + ".";
        const auto& qkvWeight = model.tensor(in + "self_attention/linear_0/weight");
        const auto& qkvBias = model.tensor(in + "self_attention/linear_0/bias");
        out.vector(block + "attn_ln.weight", model.tensor(in + "self_attention/layer_norm/gamma"));
        out.vector(block + "attn_ln.bias", model.tensor(in + "self_attention/layer_norm/beta"));
        out.weight(block + "attn.query.weight", rows(qkvWeight, 0, state));
        out.vector(block + "attn.query.bias", rows(qkvBias, 0, state));
        out.weight(block + "attn.key.weight", rows(qkvWeight, state, state)); // Whisper's keys have no bias
        out.weight(block + "attn.value.weight", rows(qkvWeight, 2 * state, state));
        out.vector(block + "attn.value.bias", rows(qkvBias, 2 * state, state));
        out.weight(block + "attn.out.weight", model.tensor(in + "self_attention/linear_1/weight"));
        out.vector(block + "attn.out.bias", model.tensor(in + "self_attention/linear_1/bias"));
        if (decoder) {
            const auto& kvWeight = model.tensor(in + "attention/linear_1/weight");
            const auto& kvBias = model.tensor(in + "attention/linear_1/bias");
            out.vector(block + "cross_attn_ln.weight", model.tensor(in + "attention/layer_norm/gamma"));
            out.vector(block + "cross_attn_ln.bias", model.tensor(in + "attention/layer_norm/beta"));
            out.weight(block + "cross_attn.query.weight", model.tensor(in + "attention/linear_0/weight"));
            out.vector(block + "cross_attn.query.bias", model.tensor(in + "attention/linear_0/bias"));
            out.weight(block + "cross_attn.key.weight", rows(kvWeight, 0, state));
            out.weight(block + "cross_attn.value.weight", rows(kvWeight, state, state));
            out.vector(block + "cross_attn.value.bias", rows(kvBias, state, state));
            out.weight(block + "cross_attn.out.weight", model.tensor(in + "attention/linear_2/weight"));
            out.vector(block + "cross_attn.out.bias", model.tensor(in + "attention/linear_2/bias"));
        }
        out.vector(block + "mlp_ln.weight", model.tensor(in + "ffn/layer_norm/gamma"));
        out.vector(block + "mlp_ln.bias", model.tensor(in + "ffn/layer_norm/beta"));
        out.weight(block + "mlp.0.weight", model.tensor(in + "ffn/linear_0/weight"));
        out.vector(block + "mlp.0.bias", model.tensor(in + "ffn/linear_0/bias"));
        out.weight(block + "mlp.2.weight", model.tensor(in + "ffn/linear_1/weight"));
        out.vector(block + "mlp.2.bias", model.tensor(in + "ffn/linear_1/bias"));
    }
}

} // namespace

CTranslate2Model CTranslate2Model::read(const std::filesystem::path& path) {
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(path, error);
    Reader in(path);
    if (const auto version = in.value<std::uint32_t>(); version != ctranslate2Version) {
        fail(path.string() + ": not a CTranslate2 model of format version 6 (found " + std::to_string(version) + ")");
    }
    CTranslate2Model model;
    model.specName = in.string();
    model.revision = in.value<std::uint32_t>();
    const auto count = in.value<std::uint32_t>();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto name = in.string();
        Tensor tensor;
        const auto rank = in.value<std::uint8_t>();
        for (std::uint8_t d = 0; d < rank; ++d) {
            tensor.shape.push_back(in.value<std::uint32_t>());
        }
        tensor.type = static_cast<DataType>(in.value<std::uint8_t>());
        const auto size = in.value<std::uint32_t>();
        if (size != elementCount(tensor) * elementSize(tensor.type) || size > fileSize) {
            fail(path.string() + ": tensor " + name + " has the wrong size");
        }
        tensor.bytes.resize(size);
        in.bytes(reinterpret_cast<char*>(tensor.bytes.data()), size);
        model.tensors.emplace(std::move(name), std::move(tensor));
    }
    if (!in.atEnd()) {
        const auto aliasCount = in.value<std::uint32_t>();
        for (std::uint32_t i = 0; i < aliasCount; ++i) {
            auto alias = in.string();
            model.aliases.emplace(std::move(alias), in.string());
        }
    }
    return model;
}

void CTranslate2Model::write(const std::filesystem::path& path) const {
    Writer out(path);
    const auto string = [&out](const std::string& text) {
        out.value(static_cast<std::uint16_t>(text.size() + 1));
        out.bytes(text.c_str(), text.size() + 1);
    };
    out.value(ctranslate2Version);
    string(specName);
    out.value(revision);
    out.value(static_cast<std::uint32_t>(tensors.size()));
    for (const auto& [name, tensor] : tensors) {
        string(name);
        out.value(static_cast<std::uint8_t>(tensor.shape.size()));
        for (const auto dimension : tensor.shape) {
            out.value(dimension);
        }
        out.value(static_cast<std::uint8_t>(tensor.type));
        out.value(static_cast<std::uint32_t>(tensor.bytes.size()));
        out.bytes(tensor.bytes.data(), tensor.bytes.size());
    }
    out.value(static_cast<std::uint32_t>(aliases.size()));
    for (const auto& [alias, name] : aliases) {
        string(alias);
        string(name);
    }
    out.close();
}

std::vector<std::string> readWhisperVocabulary(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        fail("cannot open " + path.string());
    }
    const auto content = file.readAll();
    QStringList tokens;
    if (path.extension() == ".json") {
        QJsonParseError error;
        const auto document = QJsonDocument::fromJson(content, &error);
        if (!document.isArray()) {
            fail(path.string() + ": not a JSON array of tokens");
        }
        for (const auto& token : document.array()) {
            tokens.append(token.toString());
        }
    } else {
        tokens = QString::fromUtf8(content).split(QLatin1Char('\n'));
        if (!tokens.isEmpty() && tokens.back().isEmpty()) {
            tokens.removeLast();
        }
    }
    std::vector<std::string> vocabulary;
    for (const auto& token : tokens) {
        if (token == QStringLiteral("<|endoftext|>")) {
            return vocabulary;
        }
        vocabulary.push_back(tokenBytes(token));
    }
    fail(path.string() + ": no <|endoftext|> token");
}

std::vector<float> whisperMelFilters(int nMels, int fftSize, double sampleRate) {
    // Slaney's mel scale: linear below 1 kHz, logarithmic above.
    constexpr double linearStep = 200.0 / 3, logStart = 1000.0, logStartMel = logStart / linearStep;
    const double logStep = std::log(6.4) / 27.0;
    const auto toMel = [&](double hz) {
        return hz < logStart ? hz / linearStep : logStartMel + std::log(hz / logStart) / logStep;
    };
    const auto toHz = [&](double mel) {
        return mel < logStartMel ? mel * linearStep : logStart * std::exp(logStep * (mel - logStartMel));
    };
    const int bins = 1 + fftSize / 2;
    const double maxMel = toMel(sampleRate / 2);
    std::vector<double> edges(static_cast<std::size_t>(nMels + 2));
    for (std::size_t i = 0; i < edges.size(); ++i) {
        edges[i] = toHz(maxMel * static_cast<double>(i) / static_cast<double>(nMels + 1));
    }
    std::vector<float> filters(static_cast<std::size_t>(nMels * bins));
    for (int m = 0; m < nMels; ++m) {
        const auto i = static_cast<std::size_t>(m);
        const double norm = 2.0 / (edges[i + 2] - edges[i]);
        for (int b = 0; b < bins; ++b) {
            const double hz = sampleRate / 2 * b / (bins - 1);
            const double lower = (hz - edges[i]) / (edges[i + 1] - edges[i]);
            const double upper = (edges[i + 2] - hz) / (edges[i + 2] - edges[i + 1]);
            filters[i * static_cast<std::size_t>(bins) + static_cast<std::size_t>(b)] =
                static_cast<float>(std::max(0.0, std::min(lower, upper)) * norm);
        }
    }
    return filters;
}

namespace {

void writeGgmlModel(const std::filesystem::path& ctranslate2Model, const std::filesystem::path& vocabularyPath,
                    const std::filesystem::path& partial, WhisperWeights weights) {
    auto source = CTranslate2Model::read(ctranslate2Model);
    if (source.specName != "WhisperSpec") {
        fail(ctranslate2Model.string() + ": a " + source.specName + ", not a Whisper model");
    }
    const Model model(std::move(source));
    const auto vocabulary = readWhisperVocabulary(vocabularyPath);

    const auto& embeddings = model.tensor("decoder/embeddings/weight");
    const auto& conv1 = model.tensor("encoder/conv1/weight");
    const auto& audioPositions = model.tensor("encoder/position_encodings/encodings");
    const auto& textPositions = model.tensor("decoder/position_encodings/encodings");
    if (embeddings.shape.size() != 2 || conv1.shape.size() != 3 || audioPositions.shape.size() != 2 ||
        textPositions.shape.size() != 2) {
        fail(ctranslate2Model.string() + ": not shaped like a Whisper model");
    }
    const auto state = embeddings.shape[1];
    const auto nMels = static_cast<int>(conv1.shape[1]);
    const int audioLayers = model.layers("encoder");
    const int textLayers = model.layers("decoder");
    if (audioLayers == 0 || textLayers == 0 || vocabulary.size() > embeddings.shape[0]) {
        fail(ctranslate2Model.string() + ": not shaped like a Whisper model");
    }
    const bool half = embeddings.type == DataType::float16;
    const auto weightType = weights == WhisperWeights::q8_0 ? ggmlQ8_0 : half ? ggmlF16 : ggmlF32;
    const auto fileType = weights == WhisperWeights::q8_0 ? fileTypeQ8_0 : half ? fileTypeF16 : fileTypeF32;

    Writer out(partial);
    out.value(ggmlMagic);
    for (const auto value :
         {static_cast<std::int32_t>(embeddings.shape[0]), static_cast<std::int32_t>(audioPositions.shape[0]),
          static_cast<std::int32_t>(state), model.scalar("encoder/num_heads", static_cast<std::int32_t>(state / 64)),
          static_cast<std::int32_t>(audioLayers), static_cast<std::int32_t>(textPositions.shape[0]),
          static_cast<std::int32_t>(state), model.scalar("decoder/num_heads", static_cast<std::int32_t>(state / 64)),
          static_cast<std::int32_t>(textLayers), static_cast<std::int32_t>(nMels), fileType}) {
        out.value(value);
    }
    const auto filters = whisperMelFilters(nMels);
    out.value(static_cast<std::int32_t>(nMels));
    out.value(static_cast<std::int32_t>(filters.size() / static_cast<std::size_t>(nMels)));
    out.bytes(filters.data(), filters.size() * sizeof(float));
    out.value(static_cast<std::int32_t>(vocabulary.size()));
    for (const auto& token : vocabulary) {
        out.value(static_cast<std::uint32_t>(token.size()));
        out.bytes(token.data(), token.size());
    }

    GgmlWriter tensors(out, weightType);
    tensors.vector("encoder.positional_embedding", audioPositions);
    for (const std::string conv : {"conv1", "conv2"}) {
        tensors.convolution("encoder." + conv + ".weight", model.tensor("encoder/" + conv + "/weight"));
        auto bias = model.tensor("encoder/" + conv + "/bias");
        bias.shape = {bias.shape.at(0), 1};
        tensors.vector("encoder." + conv + ".bias", bias);
    }
    writeLayers(tensors, model, "encoder", "encoder", audioLayers, state, false);
    tensors.vector("encoder.ln_post.weight", model.tensor("encoder/layer_norm/gamma"));
    tensors.vector("encoder.ln_post.bias", model.tensor("encoder/layer_norm/beta"));
    tensors.vector("decoder.positional_embedding", textPositions);
    tensors.weight("decoder.token_embedding.weight", embeddings);
    writeLayers(tensors, model, "decoder", "decoder", textLayers, state, true);
    tensors.vector("decoder.ln.weight", model.tensor("decoder/layer_norm/gamma"));
    tensors.vector("decoder.ln.bias", model.tensor("decoder/layer_norm/beta"));
    out.close();
}

} // namespace

void convertWhisperModel(const std::filesystem::path& ctranslate2Model, const std::filesystem::path& vocabulary,
                         const std::filesystem::path& output, WhisperWeights weights) {
    // Written next to the output and renamed into place: a failed conversion leaves no half file.
    auto partial = output;
    partial += ".partial";
    std::error_code error;
    try {
        writeGgmlModel(ctranslate2Model, vocabulary, partial, weights);
    } catch (...) {
        std::filesystem::remove(partial, error);
        throw;
    }
    std::filesystem::rename(partial, output, error);
    if (error) {
        fail("cannot write " + output.string() + ": " + error.message());
    }
}

} // namespace harkwell
