#pragma once
// Test support: turns encoder output into an Annex-B file and asks ffmpeg/ffprobe about it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "H264Encoder.h"

using namespace zv::h264;

struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// Start codes, with SPS and PPS before every key frame.
std::vector<uint8_t> toAnnexB(const H264Encoder& encoder, const std::vector<EncodedFrame>& frames);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::filesystem::path& path);

struct DecodeResult {
    int exitCode = -1;
    std::string messages;        // everything ffmpeg printed at -v error
    std::vector<uint8_t> yuv;    // yuv420p frames of the visible size
};
DecodeResult decodeWithFfmpeg(const std::filesystem::path& h264File, const std::filesystem::path& workDir);

struct ProbeResult {
    std::string profile;
    int width = 0, height = 0, frames = 0;
};
ProbeResult probe(const std::filesystem::path& h264File, const std::filesystem::path& workDir);

// Expected yuv420p of a bottom-up BGRA frame (the encoder's own reference conversion).
std::vector<uint8_t> expectedYuv(const uint8_t* bgraBottomUp, int width, int height);
double lumaPsnr(const uint8_t* a, const uint8_t* b, int width, int height);
double planePsnr(const uint8_t* a, const uint8_t* b, size_t samples);
bool lengthPrefixedNalsWellFormed(const std::vector<uint8_t>& data, int& nalCount);
