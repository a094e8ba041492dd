// Parses motion files from memory, grouping keys by name quickly for motions of any length.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "formats/byte_reader.h"
#include "formats/content_file.h"
#include "formats/non_finite.h"
#include "formats/record_limits.h"
#include "formats/text_decode.h"
#include "formats/vmd_motion.h"
#include "formats/vmd_names.h"
#include "platform/code_page.h"
#include "platform/memory_advice.h"

namespace qv {

namespace {

constexpr std::uint32_t kSignatureBytes = 30;
constexpr std::uint32_t kModelNameBytes = 20;
// Files of the first version carry a 10-byte model name.
constexpr std::uint32_t kOldModelNameBytes = 10;

template <typename T>
T Load(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

// A motion names a few hundred bones at most, so names are keyed once and
// their map entry is remembered by the raw bytes (up to the first NUL, as
// nothing after it reaches the name).
template <typename Key>
class NameIndex {
public:
    using Map = std::map<std::u16string, std::vector<Key>>;
    struct Slot {
        typename Map::iterator entry;
        std::uint32_t keyCount = 0;
    };
    NameIndex(Map& map, VmdNameCodec& codec) : map_(map), codec_(codec) {}

    Slot& Find(const std::uint8_t* field) {
        std::size_t length = 0;
        while (length < kVmdKeyNameBytes && field[length] != 0) {
            ++length;
        }
        std::string raw(reinterpret_cast<const char*>(field), length);
        auto found = byRaw_.find(raw);
        if (found == byRaw_.end()) {
            std::u16string name = codec_.KeyOf({field, length});
            auto entry = map_.try_emplace(std::move(name)).first;
            found = byRaw_.emplace(std::move(raw), Slot{entry}).first;
        }
        return found->second;  // node-based: stays valid while the index lives
    }

private:
    Map& map_;
    VmdNameCodec& codec_;
    std::unordered_map<std::string, Slot> byRaw_;
};

class VmdParser {
public:
    VmdParser(VmdMotion& motion, std::span<const std::uint8_t> bytes) : m_(motion), r_(bytes) {}

    void Parse() {
        std::uint32_t modelNameBytes = kModelNameBytes;
        if (std::span<const std::uint8_t> sig = r_.Take(kSignatureBytes); !sig.empty()) {
            m_.signature = decoder_.Decode(sig);
            std::string_view text(reinterpret_cast<const char*>(sig.data()), sig.size());
            if (text.starts_with(kVmdFirstSignature)) {
                modelNameBytes = kOldModelNameBytes;
            }
        }
        if (std::span<const std::uint8_t> name = r_.Take(modelNameBytes); !name.empty()) {
            m_.modelName = decoder_.Decode(name);
        }
        ReadBoneKeys();
        ReadMorphKeys();
        ReadFixedKeys(m_.cameraKeys, kVmdCameraKeySize,
                      [&](VmdCameraKey& k, const std::uint8_t* p) {
                          k.frame = Load<std::uint32_t>(p);
                          k.distance = Load<float>(p + 4);
                          k.position = Load<Float3>(p + 8);
                          k.rotation = Load<Float3>(p + 20);
                          std::memcpy(k.interpolation.data(), p + 32, 24);
                          k.viewAngle = Load<std::uint32_t>(p + 56);
                          k.perspective = p[60];
                          Check(MakeFinite(k.distance), "camera", k.frame, "distance");
                          Check(MakeFiniteEach(k.position), "camera", k.frame, "position");
                          Check(MakeFiniteEach(k.rotation), "camera", k.frame, "rotation");
                      });
        ReadFixedKeys(m_.lightKeys, kVmdLightKeySize, [&](VmdLightKey& k, const std::uint8_t* p) {
            k.frame = Load<std::uint32_t>(p);
            Float3 rgb = Load<Float3>(p + 4);
            Check(MakeFiniteEach(rgb), "light", k.frame, "colour");
            k.color = {rgb.x, rgb.y, rgb.z, 1.0f};
            k.direction = Load<Float3>(p + 16);
            Check(MakeFiniteEach(k.direction), "light", k.frame, "direction");
        });
        ReadFixedKeys(m_.shadowKeys, kVmdShadowKeySize,
                      [&](VmdShadowKey& k, const std::uint8_t* p) {
                          k.frame = Load<std::uint32_t>(p);
                          k.mode = p[4];
                          k.distance = Load<float>(p + 5);
                          Check(MakeFinite(k.distance), "self-shadow", k.frame, "distance");
                      });
        ReadIkKeys();
        // Anything after the IK switches is not used by the player.
    }

private:
    // Bone and morph keys go to one vector per name. A first pass splits the
    // keys into runs of one name, looking the name up once per run, and counts
    // each name's keys, so every vector is allocated once at its final size (a
    // dance has a million keys) and the second pass only copies numbers.
    template <typename Key, typename Fill>
    void ReadNamedKeys(std::map<std::u16string, std::vector<Key>>& map, std::uint32_t keySize,
                       Fill fill) {
        NameIndex<Key> names(map, codec_);
        const std::uint32_t count = r_.ReadU32();
        const std::uint32_t n = RecordCapacity(r_, count, keySize);
        std::span<const std::uint8_t> keys = r_.Take(n * keySize);
        EndSection(r_, n, count);
        struct Run {
            typename NameIndex<Key>::Slot* slot;
            std::uint32_t first;
            std::uint32_t count;
        };
        std::vector<Run> runs;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* p = keys.data() + i * keySize;
            // Equal fields are the same name; unequal ones may still be, when
            // they differ only after a NUL, which the index sorts out.
            if (runs.empty() || std::memcmp(p, p - keySize, kVmdKeyNameBytes) != 0) {
                auto* slot = &names.Find(p);
                if (runs.empty() || runs.back().slot != slot) {
                    runs.push_back({slot, i, 0});
                }
            }
            ++runs.back().count;
            ++runs.back().slot->keyCount;
        }
        for (const Run& run : runs) {
            std::vector<Key>& list = run.slot->entry->second;
            if (list.capacity() == 0) {
                list.reserve(run.slot->keyCount);
                PreferHugePages(list.data(), run.slot->keyCount * sizeof(Key));
                PrefaultForWriting(list.data(), run.slot->keyCount * sizeof(Key));
            }
            const std::u16string& name = run.slot->entry->first;
            for (std::uint32_t i = run.first; i < run.first + run.count; ++i) {
                fill(list.emplace_back(), name, keys.data() + i * keySize);
            }
        }
    }

    void ReadBoneKeys() {
        ReadNamedKeys(m_.boneKeys, kVmdBoneKeySize,
                      [&](VmdBoneKey& k, const std::u16string& name, const std::uint8_t* p) {
                          k.boneName = name;
                          k.frame = Load<std::uint32_t>(p + 15);
                          k.position = Load<Float3>(p + 19);
                          k.rotation = Load<Float4>(p + 31);
                          std::memcpy(k.interpolation.data(), p + 47, 64);
                          Check(MakeFiniteEach(k.position), name, k.frame, "position");
                          Check(MakeFiniteRotation(k.rotation), name, k.frame, "rotation");
                      });
    }

    void ReadMorphKeys() {
        ReadNamedKeys(m_.morphKeys, kVmdMorphKeySize,
                      [&](VmdMorphKey& k, const std::u16string& name, const std::uint8_t* p) {
                          k.morphName = name;
                          k.frame = Load<std::uint32_t>(p + 15);
                          k.weight = Load<float>(p + 19);
                          Check(MakeFinite(k.weight), name, k.frame, "weight");
                      });
    }

    template <typename Key, typename Fill>
    void ReadFixedKeys(std::vector<Key>& out, std::uint32_t keySize, Fill fill) {
        const std::uint32_t count = r_.ReadU32();
        out.reserve(RecordCapacity(r_, count, keySize));
        std::uint32_t i = 0;
        for (; i < count && HasRoomFor(r_, keySize); ++i) {
            fill(out.emplace_back(), r_.Take(keySize).data());
        }
        EndSection(r_, i, count);
    }

    // Each key holds a frame, visibility and a count of IK switches. Keys
    // are taken while their switches fit in the bytes that remain.
    void ReadIkKeys() {
        const std::uint32_t count = r_.ReadU32();
        m_.ikKeys.reserve(RecordCapacity(r_, count, kVmdIkKeyHeaderSize));
        std::uint32_t i = 0;
        for (; i < count && HasRoomFor(r_, kVmdIkKeyHeaderSize); ++i) {
            const std::uint8_t* p = r_.Take(kVmdIkKeyHeaderSize).data();
            const std::uint32_t switches = Load<std::uint32_t>(p + 5);
            if (static_cast<std::uint64_t>(switches) * kVmdIkSwitchSize > r_.remaining()) {
                break;
            }
            VmdIkKey& key = m_.ikKeys.emplace_back();
            key.frame = Load<std::uint32_t>(p);
            key.visible = p[4];
            key.switches.reserve(switches);
            for (std::uint32_t s = 0; s < switches; ++s) {
                const std::uint8_t* q = r_.Take(kVmdIkSwitchSize).data();
                key.switches.push_back({codec_.KeyOf({q, kVmdIkNameBytes}), q[kVmdIkNameBytes]});
            }
        }
        EndSection(r_, i, count);
    }

    // Notes a key field whose number was replaced.
    void Check(bool finite, const char* section, std::uint32_t frame, const char* field) {
        if (!finite) {
            m_.nonFinite.Note(std::string(section) + " key at frame " + std::to_string(frame) +
                              " " + field);
        }
    }
    void Check(bool finite, const std::u16string& name, std::uint32_t frame, const char* field) {
        if (!finite) {
            m_.nonFinite.Note("key of " + ToUtf8(name) + " at frame " + std::to_string(frame) +
                              " " + field);
        }
    }

    VmdMotion& m_;
    ByteReader r_;
    Cp932Decoder decoder_;
    VmdNameCodec codec_;
};

}  // namespace

HRESULT ParseVmdMotion(VmdMotion& motion, std::span<const std::uint8_t> bytes) {
    VmdParser(motion, bytes).Parse();
    return S_OK;
}

HRESULT LoadVmdMotion(VmdMotion& motion, const std::filesystem::path& path) {
    return LoadContentFile(motion, path, ParseVmdMotion);
}

}  // namespace qv
