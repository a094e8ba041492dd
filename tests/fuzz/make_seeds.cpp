// Writes the seed inputs of a fuzzer: generated files of every variant the reader knows and,
// when given folders of real files, those of that kind.
#include <stb_image_write.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "demo/demo_content.h"
#include "demo/pmd_writer.h"
#include "formats/vpd_pose.h"
#include "tests/support/content_writers.h"
#include "tests/support/song_writer.h"
#include "tests/support/x_writer.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    Write(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void WritePmxSeeds(const fs::path& out) {
    PmxModel sample = SamplePmxModel();
    Write(out / "sample-utf16.pmx", EncodePmx(sample));
    sample.textEncoding = 1;
    sample.version = 2.1f;
    sample.vertexIndexSize = sample.boneIndexSize = 4;
    Write(out / "sample-utf8.pmx", EncodePmx(sample));
}

// The sample model and the demo figure in the older format: every section,
// and one file that ends before the optional ones.
void WritePmdSeeds(const fs::path& out) {
    Write(out / "sample.pmd", EncodePmd(PmdFileOf(SamplePmxModel())));
    PmdFile demo = PmdFileOf(DemoModel());
    demo.toonNames.emplace();
    (*demo.toonNames)[2] = "own\\toon.bmp";
    Write(out / "demo.pmd", EncodePmd(demo));
    demo.english.reset();
    demo.toonNames.reset();
    demo.physics = false;
    Write(out / "demo-bare.pmd", EncodePmd(demo));
}

void WriteVmdSeeds(const fs::path& out) {
    VmdFile f;
    f.bones = {{"\x83\x5A\x83\x93\x83\x5E\x81\x5B", 0}, {"arm", 10}};
    f.morphs = {{"\x82\xA0", 0, 1.0f}};
    f.cameras.resize(1);
    f.lights.resize(1);
    f.shadows.resize(1);
    Write(out / "sample.vmd", EncodeVmd(f));
}

// Poses as files hold them: comments, CRLF, Shift-JIS names, a morph; and one
// with a bad line of each kind.
void WriteVpdSeeds(const fs::path& out) {
    const std::string first = kVpdFirstLine;
    WriteText(out / "pose.vpd", first +
                                    "\r\n\r\nmodel.osm;\t\t// file\r\n2;\r\n\r\n"
                                    "Bone0{\x83\x5A\x83\x93\x83\x5E\x81\x5B\r\n"
                                    "  0.5,-1.25,3e-2;\t// trans x,y,z\r\n"
                                    "  0.000000,0.707107,0.000000,0.707107;\r\n}\r\n"
                                    "Bone1{arm\r\n  0,0,0;\r\n  0,0,0,1;\r\n}\r\n"
                                    "Morph0{\x82\xA0\r\n  0.75;\r\n}\r\n");
    WriteText(out / "bad-lines.vpd", first +
                                         "\nm.osm;\nx;\nBone0{a\n1,2;\nnan,0,0,1;\n9;\n}\n"
                                         "stray\nMorph0{\n}\nBone1{b\n0,0,0;\n");
}

// Every sample format the decoder takes, with a little data each.
void WriteWavSeeds(const fs::path& out) {
    const std::vector<std::uint8_t> data = {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x3F,
                                            0x00, 0x00, 0x80, 0xBF, 0x12, 0x34, 0x56, 0x78,
                                            0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44};
    Write(out / "silent.wav", SilentWav(16));
    for (std::uint16_t bits : {8, 16, 24, 32}) {
        WavHeader spec;
        spec.bitsPerSample = bits;
        spec.channels = bits == 8 ? 1 : 2;
        Write(out / ("pcm" + std::to_string(bits) + ".wav"), EncodeWav(spec, data));
    }
    WavHeader floats;
    floats.format = 3;
    floats.bitsPerSample = 32;
    Write(out / "float.wav", EncodeWav(floats, data));
    WavHeader extensible;
    extensible.format = 0xFFFE;
    extensible.extraChunkBeforeData = true;
    Write(out / "extensible.wav", EncodeWav(extensible, data));
}

// A short song in every compressed form, in stereo and mono, and one cut in half.
void WriteAudioSeeds(const fs::path& out) {
    const WavAudio stereo = TestTone(48000, 0.3);
    WavAudio mono = TestTone(44100, 0.2);
    for (std::size_t f = 0; f < mono.frameCount(); ++f)
        mono.samples[f] = mono.samples[2 * f];
    mono.samples.resize(mono.samples.size() / 2);
    mono.channels = 1;
    for (const SongForm& form : SongForms()) {
        const std::string base = std::string(form.ending + 1);
        std::string error;
        if (!WriteSong(out / ("stereo-" + base + form.ending), form, stereo, &error)) {
            std::cerr << "qv-fuzz-seeds: " << form.encoder << ": " << error << "\n";
        }
        if (std::string(form.ending) != ".opus") {
            WriteSong(out / ("mono-" + base + form.ending), form, mono, &error);
        }
    }
    const fs::path whole = out / "stereo-mp3.mp3";
    if (fs::exists(whole)) {
        fs::copy_file(whole, out / "cut-mp3.mp3", fs::copy_options::overwrite_existing);
        fs::resize_file(out / "cut-mp3.mp3", fs::file_size(whole) / 2);
    }
}

// Every block kind of the text mesh form, in both float widths.
void WriteXSeeds(const fs::path& out) {
    WriteText(out / "cube.x", XTexturedCube());
    WriteText(out / "frames.x", XFrameHierarchy());
    WriteText(out / "fan.x", XPolygonFan());
    WriteText(out / "sphere.x", XSphereMapped());
    WriteText(out / "grid.x", XLargeGrid(8 * 1024));
}

// A DDS header and its pixel data; masks select the uncompressed form.
std::vector<std::uint8_t> Dds(std::uint32_t width, std::uint32_t height, const std::string& fourCc,
                              bool dx10, std::uint32_t dxgi, std::size_t dataBytes) {
    ByteWriter w;
    w.Raw("DDS ");
    w.U32(124), w.U32(0x1007), w.U32(height), w.U32(width), w.U32(0), w.U32(0), w.U32(1);
    for (int i = 0; i < 11; ++i)
        w.U32(0);
    w.U32(32);
    if (fourCc.empty()) {
        w.U32(0x41), w.U32(0), w.U32(32);
        w.U32(0x00FF0000), w.U32(0x0000FF00), w.U32(0x000000FF), w.U32(0xFF000000);
    } else {
        w.U32(0x4);
        w.Raw(dx10 ? "DX10" : fourCc);
        for (int i = 0; i < 5; ++i)
            w.U32(0);
    }
    w.U32(0x1000), w.U32(0), w.U32(0), w.U32(0), w.U32(0);
    if (dx10) {
        w.U32(dxgi), w.U32(3), w.U32(0), w.U32(1), w.U32(0);
    }
    for (std::size_t i = 0; i < dataBytes; ++i)
        w.U8(static_cast<std::uint32_t>(i * 37 + 11));
    return w.bytes;
}

void WriteDdsSeeds(const fs::path& out) {
    Write(out / "bc1.dds", Dds(8, 4, "DXT1", false, 0, 16));
    Write(out / "bc2.dds", Dds(4, 4, "DXT3", false, 0, 16));
    Write(out / "bc3-odd.dds", Dds(5, 3, "DXT5", false, 0, 32));
    Write(out / "rgba.dds", Dds(2, 2, "", false, 0, 16));
    Write(out / "dx10-bc1.dds", Dds(4, 4, "DXT1", true, 71, 8));
    Write(out / "dx10-rgba.dds", Dds(2, 1, "RGBA", true, 28, 8));
}

void Append(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes->insert(bytes->end(), p, p + size);
}

// Small pictures of every format the texture loader recognises, DDS included.
void WriteImageSeeds(const fs::path& out) {
    WriteDdsSeeds(out);
    std::vector<std::uint8_t> rgba(6 * 5 * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<std::uint8_t>(i * 29 + (i % 4 == 3 ? 200 : 0));
    std::vector<std::uint8_t> bytes;
    for (int channels : {1, 2, 3, 4}) {
        bytes.clear();
        stbi_write_png_to_func(Append, &bytes, 6, 5, channels, rgba.data(), 6 * channels);
        Write(out / ("png" + std::to_string(channels) + ".png"), bytes);
    }
    bytes.clear();
    stbi_write_bmp_to_func(Append, &bytes, 6, 5, 4, rgba.data());
    Write(out / "rgba.bmp", bytes);
    bytes.clear();
    stbi_write_bmp_to_func(Append, &bytes, 6, 5, 3, rgba.data());
    Write(out / "rgb.bmp", bytes);
    for (int rle : {0, 1}) {
        stbi_write_tga_with_rle = rle;
        bytes.clear();
        stbi_write_tga_to_func(Append, &bytes, 6, 5, 4, rgba.data());
        Write(out / (rle ? "rle.tga" : "plain.tga"), bytes);
    }
    for (int channels : {1, 3}) {
        bytes.clear();
        stbi_write_jpg_to_func(Append, &bytes, 6, 5, channels, rgba.data(), 80);
        Write(out / ("jpeg" + std::to_string(channels) + ".jpg"), bytes);
    }
    // A one-pixel GIF with a graphic control block.
    const std::string gif(
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
        "!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
        43);
    WriteText(out / "pixel.gif", gif);
    // A 2x2 RGB PSD, raw and RLE-packed.
    for (std::uint32_t compression : {0u, 1u}) {
        ByteWriter w;
        w.Raw("8BPS");
        w.U8(0), w.U8(1);
        for (int i = 0; i < 6; ++i)
            w.U8(0);
        auto be16 = [&](std::uint32_t v) { w.U8(v >> 8), w.U8(v); };
        auto be32 = [&](std::uint32_t v) { be16(v >> 16), be16(v & 0xFFFF); };
        be16(3), be32(2), be32(2), be16(8), be16(3);
        be32(0), be32(0), be32(0);
        be16(compression);
        if (compression == 0) {
            for (int i = 0; i < 12; ++i)
                w.U8(static_cast<std::uint32_t>(i * 20));
        } else {
            for (int row = 0; row < 6; ++row)
                be16(2);
            for (int row = 0; row < 6; ++row)
                w.U8(0xFF), w.U8(static_cast<std::uint32_t>(row * 40));  // two repeats
        }
        Write(out / (compression ? "rle.psd" : "raw.psd"), w.bytes);
    }
}

// Effect shaders as users write them: the contract's registers, helpers, and a broken one.
void WriteHlslSeeds(const fs::path& out) {
    WriteText(out / "effect.hlsl", R"(
cbuffer SceneConstants : register(b0) { float4x4 mMVP; float4x4 mModel; float4 lightDir; };
cbuffer MaterialConstants : register(b1) { float4 baseColor; float specularPower; };
Texture2D g_texture : register(t0);
Texture2D g_toon : register(t8);
SamplerState g_samWarp : register(s0);
SamplerState g_samClamp : register(s2);
struct VS_OUT { float4 pos : SV_POSITION; float3 normal : NORMAL; float2 uv : TEXCOORD0; };
VS_OUT VS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
    VS_OUT o;
    o.pos = mul(float4(pos, 1), mMVP);
    o.normal = normalize(mul(normal, (float3x3)mModel));
    o.uv = uv;
    return o;
}
float Ramp(float x) { return saturate(x * 0.5 + 0.5); }
float4 PS(VS_OUT i) : SV_TARGET {
    float d = Ramp(dot(i.normal, -lightDir.xyz));
    float4 c = g_texture.Sample(g_samWarp, i.uv) * baseColor;
    [unroll] for (int k = 0; k < 2; ++k) c.rgb *= g_toon.Sample(g_samClamp, float2(0, d)).rgb;
    return c;
}
)");
    WriteText(out / "macros.hlsl", R"(
#define SCALE 2.0
#if defined(SCALE)
static const float3x3 kTurn = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
#endif
float4 VS(float4 p : POSITION, uint id : SV_VertexID) : SV_POSITION {
    return float4(mul(p.xyz, kTurn) * SCALE, id % 2);
}
float4 PS(float4 p : SV_POSITION) : SV_TARGET { return frac(p * 0.01); }
)");
    WriteText(out / "broken.hlsl", "float4 VS() : SV_POSITION { return 1 }\nfloat4 PS( {\n");
}

}  // namespace

}  // namespace qv

using namespace qv;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: qv-fuzz-seeds pmx|pmd|vmd|vpd|wav|audio|x|dds|image|hlsl OUTDIR "
                     "[FOLDER...]\n";
        return 2;
    }
    const std::string kind = argv[1];
    const fs::path out = argv[2];
    fs::create_directories(out);
    const std::map<std::string, void (*)(const fs::path&)> writers = {
        {"pmx", WritePmxSeeds},     {"pmd", WritePmdSeeds},   {"vmd", WriteVmdSeeds},
        {"vpd", WriteVpdSeeds},     {"wav", WriteWavSeeds},   {"dds", WriteDdsSeeds},
        {"image", WriteImageSeeds}, {"hlsl", WriteHlslSeeds}, {"audio", WriteAudioSeeds},
        {"x", WriteXSeeds}};
    const auto writer = writers.find(kind);
    if (writer == writers.end()) {
        std::cerr << "qv-fuzz-seeds: no seeds for '" << kind << "'\n";
        return 2;
    }
    writer->second(out);
    // Real files of the kind, found by their endings.
    const std::map<std::string, std::vector<std::string>> endings = {
        {"pmx", {".pmx"}},
        {"pmd", {".pmd"}},
        {"vmd", {".vmd"}},
        {"vpd", {".vpd"}},
        {"wav", {".wav"}},
        {"x", {".x"}},
        {"audio", {".mp3", ".m4a", ".aac", ".ogg", ".oga", ".opus", ".flac"}},
        {"dds", {".dds"}},
        {"image",
         {".png", ".jpg", ".jpeg", ".bmp", ".tga", ".gif", ".psd", ".dds", ".spa", ".sph"}},
        {"hlsl", {".hlsl", ".hlsli", ".fx"}}};
    for (int i = 3; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            const auto& wanted = endings.at(kind);
            // Real files up to 512 KiB: larger ones slow every run to a crawl.
            if (entry.is_regular_file() && entry.file_size() <= 512 * 1024 &&
                std::find(wanted.begin(), wanted.end(), ext) != wanted.end()) {
                fs::copy_file(entry.path(), out / entry.path().filename(),
                              fs::copy_options::overwrite_existing);
            }
        }
    }
    return 0;
}
