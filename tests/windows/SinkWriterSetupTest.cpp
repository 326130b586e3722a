// setupSinkWriter: the media types it builds, the order of its steps, and the fallback to
// the built-in writer when the platform's writer cannot be set up.
#include "FakeSinkWriter.h"
#include "recording/Recorder.h"
#include "recording/SinkWriterFactory.h"

#include <gtest/gtest.h>

#include <mfapi.h>

namespace {

FakeSinkWriterScript* platformScript = nullptr;
FakeSinkWriterScript* builtInScript = nullptr;
HRESULT platformCreateResult = S_OK;

HRESULT CreatePlatformFake(const wchar_t*, IMFSinkWriter** writer) {
    if (FAILED(platformCreateResult)) return platformCreateResult;
    return CreateFakeSinkWriter(*platformScript, writer);
}
HRESULT CreateBuiltInFake(const wchar_t*, IMFSinkWriter** writer) { return CreateFakeSinkWriter(*builtInScript, writer); }

class SinkWriterSetup : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ActiveSinkWriterFactories();
        platformScript = &platform_;
        builtInScript = &builtIn_;
        platformCreateResult = S_OK;
        ActiveSinkWriterFactories() = {CreatePlatformFake, CreateBuiltInFake};
    }
    void TearDown() override {
        ActiveSinkWriterFactories() = saved_;
        ClearAttributes(platform_.outputType);
        ClearAttributes(platform_.inputType);
        ClearAttributes(builtIn_.outputType);
        ClearAttributes(builtIn_.inputType);
    }
    // Ends the recording the way stop() does, so the writer is finalized and let go of.
    void finish(Recorder& recorder) {
        recorder.state = Recording;
        recorder.stop();
    }

    SinkWriterFactories saved_{};
    FakeSinkWriterScript platform_;
    FakeSinkWriterScript builtIn_;
};

void ExpectGuid(const AttributeRecord& record, const GUID& key, const GUID& value, const char* what) {
    EXPECT_TRUE(IsEqualGUID(record.key, key)) << what;
    ASSERT_EQ(record.value.vt, VT_CLSID) << what;
    EXPECT_TRUE(IsEqualGUID(*record.value.puuid, value)) << what;
}
void ExpectUInt32(const AttributeRecord& record, const GUID& key, UINT32 value, const char* what) {
    EXPECT_TRUE(IsEqualGUID(record.key, key)) << what;
    ASSERT_EQ(record.value.vt, VT_UI4) << what;
    EXPECT_EQ(record.value.ulVal, value) << what;
}
void ExpectUInt64(const AttributeRecord& record, const GUID& key, UINT64 value, const char* what) {
    EXPECT_TRUE(IsEqualGUID(record.key, key)) << what;
    ASSERT_EQ(record.value.vt, VT_UI8) << what;
    EXPECT_EQ(record.value.uhVal.QuadPart, value) << what;
}

TEST_F(SinkWriterSetup, BuildsTheH264OutputTypeAndRgb32InputTypeInOrder) {
    Recorder recorder;
    recorder.frameWidth = 1920;
    recorder.frameHeight = 1080;
    recorder.outputPath = L"C:\\out\\a.mp4";
    platform_.streamIndexToGive = 3;
    ASSERT_EQ(recorder.setupSinkWriter(), S_OK);

    ASSERT_EQ(platform_.outputType.size(), 7u);
    const auto& out = platform_.outputType;
    ExpectGuid(out[0], MF_MT_MAJOR_TYPE, MFMediaType_Video, "output major type");
    ExpectGuid(out[1], MF_MT_SUBTYPE, MFVideoFormat_H264, "output subtype");
    ExpectUInt32(out[2], MF_MT_AVG_BITRATE, 4'000'000, "bit rate");
    ExpectUInt32(out[3], MF_MT_INTERLACE_MODE, 2, "output interlace");
    ExpectUInt64(out[4], MF_MT_FRAME_SIZE, 0x0000078000000438ull, "output frame size");
    ExpectUInt64(out[5], MF_MT_FRAME_RATE, 0x0000001E00000001ull, "output frame rate");
    ExpectUInt64(out[6], MF_MT_PIXEL_ASPECT_RATIO, 0x0000000100000001ull, "output pixel aspect");

    ASSERT_EQ(platform_.inputType.size(), 6u);
    const auto& in = platform_.inputType;
    ExpectGuid(in[0], MF_MT_MAJOR_TYPE, MFMediaType_Video, "input major type");
    ExpectGuid(in[1], MF_MT_SUBTYPE, MFVideoFormat_RGB32, "input subtype");
    ExpectUInt32(in[2], MF_MT_INTERLACE_MODE, 2, "input interlace");
    ExpectUInt64(in[3], MF_MT_FRAME_SIZE, 0x0000078000000438ull, "input frame size");
    ExpectUInt64(in[4], MF_MT_FRAME_RATE, 0x0000001E00000001ull, "input frame rate");
    ExpectUInt64(in[5], MF_MT_PIXEL_ASPECT_RATIO, 0x0000000100000001ull, "input pixel aspect");

    EXPECT_EQ(platform_.calls, (std::vector<std::string>{"AddStream", "SetInputMediaType", "BeginWriting"}));
    EXPECT_EQ(recorder.streamIndex, 3u);
    EXPECT_TRUE(recorder.sinkWriter);
    EXPECT_TRUE(builtIn_.calls.empty()) << "the built-in writer is only a fallback";
    EXPECT_EQ(platform_.liveObjects.load(), 1);
    finish(recorder);
    EXPECT_EQ(platform_.calls.back(), "Finalize");
    EXPECT_EQ(platform_.liveObjects.load(), 0);
}

TEST_F(SinkWriterSetup, SmallestFrameIsSetUpLikeAnyOther) {
    Recorder recorder;
    recorder.frameWidth = 16;
    recorder.frameHeight = 16;
    ASSERT_EQ(recorder.setupSinkWriter(), S_OK);
    ExpectUInt64(platform_.outputType[4], MF_MT_FRAME_SIZE, 0x0000001000000010ull, "16 x 16");
    ExpectUInt64(platform_.inputType[3], MF_MT_FRAME_SIZE, 0x0000001000000010ull, "16 x 16");
    finish(recorder);
}

TEST_F(SinkWriterSetup, FallsBackToTheBuiltInWriterWhenThePlatformHasNone) {
    platformCreateResult = E_INVALIDARG;  // what Wine answers for an .mp4 path
    Recorder recorder;
    recorder.frameWidth = 640;
    recorder.frameHeight = 480;
    ASSERT_EQ(recorder.setupSinkWriter(), S_OK);
    EXPECT_TRUE(platform_.calls.empty());
    EXPECT_EQ(builtIn_.calls, (std::vector<std::string>{"AddStream", "SetInputMediaType", "BeginWriting"}));
    EXPECT_TRUE(recorder.sinkWriter);
    finish(recorder);
    EXPECT_EQ(builtIn_.liveObjects.load(), 0);
}

TEST_F(SinkWriterSetup, PlatformWriterThatFailsLaterIsReleasedBeforeTheFallback) {
    platform_.failAddStream = MF_E_TOPO_CODEC_NOT_FOUND;  // no H.264 encoder on this system
    builtIn_.streamIndexToGive = 0;
    platform_.streamIndexToGive = 5;
    Recorder recorder;
    ASSERT_EQ(recorder.setupSinkWriter(), S_OK);
    EXPECT_EQ(platform_.liveObjects.load(), 0) << "the failed platform writer must be released";
    EXPECT_EQ(builtIn_.liveObjects.load(), 1);
    EXPECT_EQ(recorder.streamIndex, 0u);
    finish(recorder);
}

TEST_F(SinkWriterSetup, BothFailingLeavesTheRecorderReadyWithNothingHeld) {
    platform_.failBeginWriting = E_ACCESSDENIED;
    builtIn_.failSetInputMediaType = MF_E_INVALIDMEDIATYPE;
    Recorder recorder;
    EXPECT_EQ(recorder.setupSinkWriter(), MF_E_INVALIDMEDIATYPE);
    EXPECT_FALSE(recorder.sinkWriter);
    EXPECT_EQ(recorder.state.load(), Ready);
    EXPECT_EQ(platform_.liveObjects.load(), 0);
    EXPECT_EQ(builtIn_.liveObjects.load(), 0);
    // The first failing step ends each chain.
    EXPECT_EQ(builtIn_.calls, (std::vector<std::string>{"AddStream", "SetInputMediaType"}));
}

TEST(SinkWriterSetupReal, MissingFolderFailsAndLeavesTheRecorderReady) {
    Recorder recorder;
    recorder.frameWidth = 64;
    recorder.frameHeight = 64;
    recorder.outputPath = L"C:\\no\\such\\folder\\zentrovia-test.mp4";
    EXPECT_TRUE(FAILED(recorder.setupSinkWriter()));
    EXPECT_FALSE(recorder.sinkWriter);
    EXPECT_EQ(recorder.state.load(), Ready);
    recorder.stop();  // nothing to do on a Ready recorder
    EXPECT_EQ(recorder.state.load(), Ready);
}

}  // namespace
