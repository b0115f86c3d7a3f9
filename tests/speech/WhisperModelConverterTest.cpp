// The converter on a tiny Whisper model with random weights that the test makes itself: what it
// writes must be what whisper.cpp loads, tensor for tensor.
#include "speech/WhisperModelConverter.h"
#include "speech/WhisperTranscriber.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <tuple>

namespace harkwell {
namespace {

using Tensor = CTranslate2Model::Tensor;
using DataType = CTranslate2Model::DataType;

constexpr std::uint32_t heads = 2, mels = 80, vocabulary = 51864, audioContext = 1500, textContext = 448;

Tensor randomTensor(std::vector<std::uint32_t> shape, std::mt19937& random) {
    Tensor tensor{std::move(shape), DataType::float16, {}};
    std::normal_distribution<float> value(0, 0.5f);
    const auto count = std::accumulate(tensor.shape.begin(), tensor.shape.end(), std::size_t{1}, std::multiplies<>());
    for (std::size_t i = 0; i < count; ++i) {
        const auto bits = std::bit_cast<std::uint16_t>(static_cast<_Float16>(value(random)));
        tensor.bytes.push_back(static_cast<std::uint8_t>(bits & 0xff));
        tensor.bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return tensor;
}

Tensor scalar16(std::int16_t value) {
    Tensor tensor{{}, DataType::int16, {}};
    tensor.bytes = {static_cast<std::uint8_t>(value & 0xff), static_cast<std::uint8_t>(value >> 8)};
    return tensor;
}

// A Whisper model shaped like CTranslate2 writes one: fused attention projections, one layer a side.
CTranslate2Model tinyModel(std::uint32_t state = 8) {
    std::mt19937 random(7);
    CTranslate2Model model;
    model.specName = "WhisperSpec";
    model.revision = 3;
    auto& t = model.tensors;
    const auto linear = [&](const std::string& name, std::uint32_t out, std::uint32_t in) {
        t[name + "/weight"] = randomTensor({out, in}, random);
        t[name + "/bias"] = randomTensor({out}, random);
    };
    const auto norm = [&](const std::string& name) {
        t[name + "/gamma"] = randomTensor({state}, random);
        t[name + "/beta"] = randomTensor({state}, random);
    };
    t["encoder/conv1/weight"] = randomTensor({state, mels, 3}, random);
    t["encoder/conv1/bias"] = randomTensor({state}, random);
    t["encoder/conv2/weight"] = randomTensor({state, state, 3}, random);
    t["encoder/conv2/bias"] = randomTensor({state}, random);
    t["encoder/position_encodings/encodings"] = randomTensor({audioContext, state}, random);
    t["encoder/num_heads"] = scalar16(heads);
    norm("encoder/layer_norm");
    t["decoder/embeddings/weight"] = randomTensor({vocabulary, state}, random);
    t["decoder/position_encodings/encodings"] = randomTensor({textContext, state}, random);
    t["decoder/num_heads"] = scalar16(heads);
    norm("decoder/layer_norm");
    for (const std::string side : {"encoder", "decoder"}) {
        const auto layer = side + "/layer_0/";
        norm(layer + "self_attention/layer_norm");
        linear(layer + "self_attention/linear_0", 3 * state, state);
        linear(layer + "self_attention/linear_1", state, state);
        norm(layer + "ffn/layer_norm");
        linear(layer + "ffn/linear_0", 4 * state, state);
        linear(layer + "ffn/linear_1", state, 4 * state);
    }
    norm("decoder/layer_0/attention/layer_norm");
    linear("decoder/layer_0/attention/linear_0", state, state);
    linear("decoder/layer_0/attention/linear_1", 2 * state, state);
    linear("decoder/layer_0/attention/linear_2", state, state);
    model.aliases["decoder/projection/weight"] = "decoder/embeddings/weight";
    return model;
}

// GPT-2 spells the byte 0x20 as 'Ġ' and 0x0a as 'Ċ'.
void writeVocabulary(const std::filesystem::path& path, bool withEnd = true) {
    QJsonArray tokens{QStringLiteral("Ġhello"), QStringLiteral("Ċ"), QStringLiteral("ë")};
    while (tokens.size() < 50256) {
        tokens.append(QStringLiteral("t%1").arg(tokens.size()));
    }
    if (withEnd) {
        tokens.append(QStringLiteral("<|endoftext|>"));
        tokens.append(QStringLiteral("<|startoftranscript|>"));
    }
    std::ofstream(path) << QJsonDocument(tokens).toJson().toStdString();
}

struct GgmlTensor {
    std::vector<std::int32_t> ne;
    std::int32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

struct GgmlFile {
    std::vector<std::int32_t> hparams;
    std::vector<float> filters;
    std::vector<std::string> tokens;
    std::map<std::string, GgmlTensor> tensors;
};

GgmlFile readGgml(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const auto value = [&in] {
        std::int32_t v = 0;
        in.read(reinterpret_cast<char*>(&v), 4);
        return v;
    };
    GgmlFile file;
    EXPECT_EQ(static_cast<std::uint32_t>(value()), 0x67676d6cu);
    for (int i = 0; i < 11; ++i) {
        file.hparams.push_back(value());
    }
    const auto nMel = value(), nFft = value();
    file.filters.resize(static_cast<std::size_t>(nMel * nFft));
    in.read(reinterpret_cast<char*>(file.filters.data()), static_cast<std::streamsize>(file.filters.size() * 4));
    const auto count = value();
    for (int i = 0; i < count; ++i) {
        std::string token(static_cast<std::size_t>(value()), '\0');
        in.read(token.data(), static_cast<std::streamsize>(token.size()));
        file.tokens.push_back(token);
    }
    for (;;) {
        const auto dims = value();
        if (!in) {
            break;
        }
        const auto nameLength = value();
        GgmlTensor tensor;
        tensor.type = value();
        std::size_t elements = 1;
        for (int d = 0; d < dims; ++d) {
            tensor.ne.push_back(value());
            elements *= static_cast<std::size_t>(tensor.ne.back());
        }
        std::string name(static_cast<std::size_t>(nameLength), '\0');
        in.read(name.data(), nameLength);
        tensor.bytes.resize(tensor.type == 8 ? elements / 32 * 34 : elements * (tensor.type == 1 ? 2 : 4));
        in.read(reinterpret_cast<char*>(tensor.bytes.data()), static_cast<std::streamsize>(tensor.bytes.size()));
        file.tensors[name] = std::move(tensor);
    }
    return file;
}

float f16At(const Tensor& tensor, std::size_t i) {
    std::uint16_t bits;
    std::memcpy(&bits, tensor.bytes.data() + 2 * i, 2);
    return static_cast<float>(std::bit_cast<_Float16>(bits));
}

float f32At(const GgmlTensor& tensor, std::size_t i) {
    float value;
    std::memcpy(&value, tensor.bytes.data() + 4 * i, 4);
    return value;
}

std::vector<std::uint8_t> rowBytes(const Tensor& tensor, std::uint32_t first, std::uint32_t count) {
    const auto row = tensor.bytes.size() / tensor.shape[0];
    return {tensor.bytes.begin() + first * row, tensor.bytes.begin() + (first + count) * row};
}

class WhisperModelConverterTest : public ::testing::Test {
protected:
    void SetUp() override { writeVocabulary(folder / "vocabulary.json"); }

    // The model converted as whisper.cpp reads it; whisper.cpp itself must load it too.
    GgmlFile converted(const CTranslate2Model& model, WhisperWeights weights) {
        model.write(folder / "model.bin");
        convertWhisperModel(folder / "model.bin", folder / "vocabulary.json", folder / "ggml.bin", weights);
        EXPECT_NO_THROW(WhisperTranscriber::load((folder / "ggml.bin").string()));
        return readGgml(folder / "ggml.bin");
    }

    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
};

TEST_F(WhisperModelConverterTest, WritesTheFileWhisperCppLoadsTensorForTensor) {
    constexpr std::uint32_t state = 8;
    const auto model = tinyModel(state);
    const auto file = converted(model, WhisperWeights::asSource);
    EXPECT_EQ(file.hparams, (std::vector<std::int32_t>{vocabulary, audioContext, state, heads, 1, textContext, state,
                                                       heads, 1, mels, 1}));
    ASSERT_EQ(file.tokens.size(), 50256u) << "the text tokens, up to <|endoftext|>";
    EXPECT_EQ(file.tokens[0], " hello");
    EXPECT_EQ(file.tokens[1], "\n");
    EXPECT_EQ(file.tokens[2], "\xeb") << "printable Latin-1 characters stand for their own byte";
    EXPECT_EQ(file.tensors.size(), 5u + 2 + 2 + 2 + 15 + 24) << "every tensor whisper.cpp asks for, once";

    const auto& fused = model.tensors.at("decoder/layer_0/self_attention/linear_0/weight");
    const auto& crossKv = model.tensors.at("decoder/layer_0/attention/linear_1/weight");
    // Fused projections come apart row by row: query, key, value; keys have no bias.
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<std::uint8_t>>>{
             {"decoder.blocks.0.attn.query.weight", rowBytes(fused, 0, state)},
             {"decoder.blocks.0.attn.key.weight", rowBytes(fused, state, state)},
             {"decoder.blocks.0.attn.value.weight", rowBytes(fused, 2 * state, state)},
             {"decoder.blocks.0.cross_attn.key.weight", rowBytes(crossKv, 0, state)},
             {"decoder.blocks.0.cross_attn.value.weight", rowBytes(crossKv, state, state)},
             {"decoder.token_embedding.weight", model.tensors.at("decoder/embeddings/weight").bytes}}) {
        ASSERT_TRUE(file.tensors.contains(name)) << name;
        EXPECT_EQ(file.tensors.at(name).type, 1) << name << " stays float16";
        EXPECT_EQ(file.tensors.at(name).bytes, bytes) << name;
    }
    EXPECT_FALSE(file.tensors.contains("decoder.blocks.0.attn.key.bias"));
    // Biases, norms and positions become float32; a value's bias is its part of the fused bias.
    for (const auto& [name, source, first] : std::vector<std::tuple<std::string, std::string, std::uint32_t>>{
             {"encoder.blocks.0.attn.value.bias", "encoder/layer_0/self_attention/linear_0/bias", 2 * state},
             {"decoder.blocks.0.cross_attn.value.bias", "decoder/layer_0/attention/linear_1/bias", state}}) {
        const auto& bias = file.tensors.at(name);
        EXPECT_EQ(bias.type, 0) << name;
        for (std::size_t i = 0; i < state; ++i) {
            EXPECT_EQ(f32At(bias, i), f16At(model.tensors.at(source), first + i)) << name << " " << i;
        }
    }
    EXPECT_EQ(file.tensors.at("encoder.conv1.bias").ne, (std::vector<std::int32_t>{1, state}));
    EXPECT_EQ(file.tensors.at("encoder.conv1.weight").ne, (std::vector<std::int32_t>{3, mels, state}));
    EXPECT_EQ(file.tensors.at("decoder.positional_embedding").ne, (std::vector<std::int32_t>{state, textContext}));
}

TEST_F(WhisperModelConverterTest, QuantisesTheMatricesToQ8_0ForWhisperCpp) {
    const auto model = tinyModel(32); // rows of whole blocks of 32
    const auto file = converted(model, WhisperWeights::q8_0);
    EXPECT_EQ(file.hparams.back(), 2007) << "Q8_0, quantisation version 2";
    EXPECT_EQ(file.tensors.at("encoder.conv1.weight").type, 1) << "convolutions stay float16";
    EXPECT_EQ(file.tensors.at("encoder.blocks.0.attn.query.bias").type, 0);
    // Each block of 32: a float16 scale, then 32 signed bytes; every weight within half a step.
    const auto& source = model.tensors.at("decoder/layer_0/ffn/linear_0/weight");
    const auto& quantised = file.tensors.at("decoder.blocks.0.mlp.0.weight");
    ASSERT_EQ(quantised.type, 8);
    for (std::size_t block = 0; block < 4; ++block) {
        std::uint16_t scaleBits;
        std::memcpy(&scaleBits, quantised.bytes.data() + block * 34, 2);
        const float scale = static_cast<float>(std::bit_cast<_Float16>(scaleBits));
        for (std::size_t i = 0; i < 32; ++i) {
            const auto q = static_cast<std::int8_t>(quantised.bytes[block * 34 + 2 + i]);
            EXPECT_NEAR(q * scale, f16At(source, block * 32 + i), scale * 0.51f + 1e-3f);
        }
    }
    // Rows that are no whole number of blocks cannot be quantised.
    tinyModel().write(folder / "narrow.bin");
    EXPECT_THROW(convertWhisperModel(folder / "narrow.bin", folder / "vocabulary.json", folder / "narrow.q8",
                                     WhisperWeights::q8_0),
                 WhisperModelConversionError);
}

TEST(WhisperMelFiltersTest, AreSlaneyTrianglesOfUnitArea) {
    const auto filters = whisperMelFilters(80);
    ASSERT_EQ(filters.size(), 80u * 201);
    int lastPeak = -1;
    for (int m = 0; m < 80; ++m) {
        const auto row = std::span(filters).subspan(static_cast<std::size_t>(m) * 201, 201);
        const auto peak = static_cast<int>(std::max_element(row.begin(), row.end()) - row.begin());
        EXPECT_GE(peak, lastPeak) << "filter " << m << " peaks at or above the one before";
        lastPeak = peak;
        if (m >= 50) { // wide enough to be sampled well by 40 Hz bins
            double area = 0;
            for (const float weight : row) {
                area += weight * 40.0;
            }
            EXPECT_NEAR(area, 1.0, 0.05) << "filter " << m;
        }
    }
    EXPECT_GT(filters[0 * 201 + 1], 0.0f) << "the first filter starts at 0 Hz";
}

TEST_F(WhisperModelConverterTest, RefusesWhatItCannotConvertWithAReason) {
    writeVocabulary(folder / "no-end.json", false);
    // A tiny model written after a change.
    const auto changed = [](std::function<void(CTranslate2Model&)> change) {
        return [change = std::move(change)](const std::filesystem::path& path) {
            auto model = tinyModel();
            change(model);
            model.write(path);
        };
    };
    const struct {
        std::string name;
        std::function<void(const std::filesystem::path&)> make;
        std::string vocabulary;
        std::string reason;
    } cases[]{
        {"truncated",
         [](const auto& path) {
             tinyModel().write(path);
             std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
         },
         "vocabulary.json", "wrong size"},
        {"another format", [](const auto& path) { std::ofstream(path) << "lmgg not a model at all"; },
         "vocabulary.json", "format version 6"},
        {"quantised", changed([](auto& model) {
             auto& weight = model.tensors.at("decoder/embeddings/weight");
             weight.type = DataType::int8;
             weight.bytes.resize(weight.bytes.size() / 2);
         }),
         "vocabulary.json", "quantised"},
        {"missing tensor",
         changed([](auto& model) { model.tensors.erase("decoder/layer_0/attention/linear_2/weight"); }),
         "vocabulary.json", "decoder/layer_0/attention/linear_2/weight"},
        {"not Whisper", changed([](auto& model) { model.specName = "TransformerSpec"; }), "vocabulary.json",
         "not a Whisper model"},
        {"vocabulary without its end", changed([](auto&) {}), "no-end.json", "<|endoftext|>"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const auto source = folder / (each.name + ".bin");
        const auto output = folder / (each.name + ".ggml");
        each.make(source);
        try {
            convertWhisperModel(source, folder / each.vocabulary, output);
            ADD_FAILURE() << "converted";
        } catch (const WhisperModelConversionError& error) {
            EXPECT_NE(std::string(error.what()).find(each.reason), std::string::npos) << error.what();
        }
        EXPECT_FALSE(std::filesystem::exists(output)) << "no half-written model is left behind";
    }
}

} // namespace
} // namespace harkwell
