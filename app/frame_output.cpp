// Where rendered frames go: numbered PNG pictures or a video file with the song.
#include "app/frame_output.h"

#include <fstream>
#include <system_error>

#include "core/presenter.h"
#include "formats/png_file.h"
#include "platform/wav_file.h"
#include "video/picture_encoder.h"
#include "video/sound_encoder.h"
#include "video/video_muxer.h"

namespace qv {

namespace {

// The encoders say why in a line of text; an output that fails is E_FAIL
// with that line.
Result Outcome(bool ok, std::string error) {
    return ok ? Result{} : Result::Failure(E_FAIL, std::move(error));
}

class PngSequence final : public FrameOutput {
public:
    explicit PngSequence(std::filesystem::path pattern) : pattern_(std::move(pattern)) {}

    Result Open() override {
        // Trying the first name now stops a render that could never write.
        const std::filesystem::path first = PathOf(0);
        std::ofstream probe(first, std::ios::binary);
        if (!probe) {
            return Result::Failure(E_FAIL, "cannot write " + first.string());
        }
        probe.close();
        std::error_code ec;
        std::filesystem::remove(first, ec);
        return {};
    }

    Result Write(const CapturedImage& image, std::uint64_t index) override {
        const std::filesystem::path path = PathOf(index);
        if (Failed(WritePng(path, image))) {
            return Result::Failure(E_FAIL,
                                   "cannot write " + path.string() + " (is the disk full?)");
        }
        std::error_code ec;
        bytes_ += std::filesystem::file_size(path, ec);
        return {};
    }

    Result Finish(std::uint64_t) override { return {}; }
    void Discard() override {}
    std::uintmax_t BytesWritten() const override { return bytes_; }

private:
    std::filesystem::path PathOf(std::uint64_t index) const {
        return pattern_.parent_path() / *FrameFileName(pattern_.filename().string(), index);
    }

    std::filesystem::path pattern_;
    std::uintmax_t bytes_ = 0;
};

class VideoFile final : public FrameOutput {
public:
    VideoFile(const RenderOptions& options, const WavAudio* song)
        : path_(options.output),
          width_(options.width),
          height_(options.height),
          fps_(options.fps),
          quality_(options.quality),
          from_(options.from),
          song_(song) {}

    Result Open() override {
        std::string error;
        const bool ok = OpenParts(&error);
        return Outcome(ok, std::move(error));
    }

    Result Write(const CapturedImage& image, std::uint64_t index) override {
        std::string error;
        const bool ok = WriteParts(image, index, &error);
        return Outcome(ok, std::move(error));
    }

    Result Finish(std::uint64_t frames) override {
        // Each part is finished even when one before it failed, so the file
        // is closed with everything that made it in.
        std::string first;
        bool ok = pictures_.Flush(PictureSink(), &first);
        std::string more;
        if (sound_ != nullptr &&
            !sound_->Finish(static_cast<double>(frames) / fps_, SoundSink(), &more) && ok) {
            ok = false;
            first = more;
        }
        if (!muxer_.Finish(&more) && ok) {
            ok = false;
            first = more;
        }
        return Outcome(ok, std::move(first));
    }

    void Discard() override { muxer_.Discard(); }

    std::uintmax_t BytesWritten() const override {
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(path_, ec);
        return ec ? 0 : size;
    }

private:
    bool OpenParts(std::string* error) {
        if (!muxer_.Open(path_, error)) {
            return false;
        }
        const bool global = muxer_.WantsGlobalHeader();
        if (!pictures_.Open(width_, height_, fps_, global, quality_, error)) {
            return false;
        }
        pictureStream_ = muxer_.AddStream(pictures_.Context(), error);
        if (pictureStream_ == nullptr) {
            return false;
        }
        if (song_ != nullptr) {
            sound_ = std::make_unique<SoundEncoder>();
            if (!sound_->Open(*song_, from_, global, error)) {
                return false;
            }
            soundStream_ = muxer_.AddStream(sound_->Context(), error);
            if (soundStream_ == nullptr) {
                return false;
            }
        }
        return muxer_.Begin(error);
    }

    bool WriteParts(const CapturedImage& image, std::uint64_t index, std::string* error) {
        if (!pictures_.Encode(image, static_cast<std::int64_t>(index), PictureSink(), error)) {
            return false;
        }
        // The sound follows the pictures frame by frame, so the muxer never
        // holds more than a frame of either.
        return sound_ == nullptr ||
               sound_->EncodeUntil(static_cast<double>(index + 1) / fps_, SoundSink(), error);
    }

    PacketSink PictureSink() {
        return [this](AVPacket* packet, std::string* error) {
            return muxer_.WritePacket(packet, pictures_.Context(), pictureStream_, error);
        };
    }
    PacketSink SoundSink() {
        return [this](AVPacket* packet, std::string* error) {
            return muxer_.WritePacket(packet, sound_->Context(), soundStream_, error);
        };
    }

    std::filesystem::path path_;
    std::uint32_t width_, height_, fps_;
    PictureQuality quality_;
    double from_;
    const WavAudio* song_;
    // Destroyed in reverse: the muxer closes the file after the encoders go.
    VideoMuxer muxer_;
    PictureEncoder pictures_;
    std::unique_ptr<SoundEncoder> sound_;
    AVStream* pictureStream_ = nullptr;
    AVStream* soundStream_ = nullptr;
};

}  // namespace

std::unique_ptr<FrameOutput> MakeFrameOutput(const RenderOptions& options, const WavAudio* song) {
    if (options.kind == RenderOutputKind::PngSequence) {
        return std::make_unique<PngSequence>(options.output);
    }
    return std::make_unique<VideoFile>(options, song);
}

}  // namespace qv
