// The container of a video file: streams, interleaved packets, a clean close.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace qv {

// Protocol: Open, AddStream for each encoder, Begin, WritePacket for every
// packet the encoders give, Finish. Finish (or the destructor) always closes
// the file; after a failed write the file is still closed with what made it
// in. One thread uses it.
class VideoMuxer {
public:
    VideoMuxer() = default;
    VideoMuxer(const VideoMuxer&) = delete;
    VideoMuxer& operator=(const VideoMuxer&) = delete;
    ~VideoMuxer();

    // Chooses the container by the file name (.mp4, .mkv) and opens the file
    // for writing. false with a reason when the name or the path will not do.
    bool Open(const std::filesystem::path& path, std::string* error);
    // Whether encoders must put their headers in the container, not the stream.
    bool WantsGlobalHeader() const;
    // A stream for the encoder's output; its parameters are copied now.
    AVStream* AddStream(const AVCodecContext& encoder, std::string* error);
    bool Begin(std::string* error);
    // Rescales the packet from the encoder's time base to the stream's and
    // hands it to the interleaver, which takes the packet's data.
    bool WritePacket(AVPacket* packet, const AVCodecContext& encoder, AVStream* stream,
                     std::string* error);
    // Writes the index and closes the file. false when that failed.
    bool Finish(std::string* error);
    // Closes and removes a file that never received a frame.
    void Discard();

private:
    AVFormatContext* format_ = nullptr;
    std::filesystem::path path_;
    bool begun_ = false;
};

// The container a file name asks for ("mp4", "matroska"), or "" for none.
std::string ContainerForName(const std::filesystem::path& path);

}  // namespace qv
