// The Recorder with a counting fake writer: setupSinkWriter's media types, step order and
// fallback to the built-in writer; start and stop with the real worker thread (the writer is
// never finalized while a grab is still writing, nothing touches it afterwards); and a writer
// that fails ends the recording with exactly one report.
#include "FakeAudioClient.h"
#include "FakeSinkWriter.h"
#include "recording/mediafoundation/SinkWriterFactory.h"
#include "recording/Recorder.h"

#include <gtest/gtest.h>

#include <mfapi.h>

namespace {

constexpr UINT kEndedMessage = WM_APP + 7;

FakeSinkWriterScript* platformScript = nullptr;
FakeSinkWriterScript* builtInScript = nullptr;
HRESULT platformCreateResult = S_OK;

HRESULT CreatePlatformFake(const wchar_t*, IMFSinkWriter** writer) {
    if (FAILED(platformCreateResult)) return platformCreateResult;
    return CreateFakeSinkWriter(*platformScript, writer);
}
HRESULT CreateBuiltInFake(const wchar_t*, IMFSinkWriter** writer) { return CreateFakeSinkWriter(*builtInScript, writer); }

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = sinkWriterFactories;
        use(script_, builtIn_);
        sinkWriterFactories = {CreatePlatformFake, CreateBuiltInFake};
    }
    void TearDown() override { sinkWriterFactories = saved_; }
    void use(FakeSinkWriterScript& platform, FakeSinkWriterScript& builtIn, HRESULT createResult = S_OK) {
        platformScript = &platform;
        builtInScript = &builtIn;
        platformCreateResult = createResult;
    }
    bool start(Recorder& recorder, HRESULT* failure = nullptr) {
        return StartRecording(recorder, 0, 0, 64, 48, L"C:\\unused.mp4", failure);
    }
    // Starts a recording whose first WriteSample takes 1.5 s (longer than stop's wait) and
    // returns once that write is under way.
    bool startWithASlowWriteUnderWay(FakeSinkWriterScript& script, Recorder& recorder) {
        script.writeSampleDelayMs = 1500;
        if (!start(recorder)) return false;
        for (int i = 0; i < 1000 && script.writesInProgress.load() == 0; ++i) Sleep(10);
        return script.writesInProgress.load() == 1;
    }
    void expectAllReleasedAndNoOverlap(FakeSinkWriterScript& script) {
        EXPECT_EQ(script.count("Finalize"), 1u);
        EXPECT_FALSE(script.overlapSeen.load()) << "Finalize ran while WriteSample was still writing";
        EXPECT_FALSE(script.writeAfterFinalize.load());
        EXPECT_EQ(script.liveObjects.load(), 0);
    }

    SinkWriterFactories saved_{};
    FakeSinkWriterScript script_;
    FakeSinkWriterScript builtIn_;
};

UINT64 Get64(IMFMediaType* type, const GUID& key) { return MFGetAttributeUINT64(type, key, 0); }
GUID Guid(IMFMediaType* type, const GUID& key) {
    GUID value{};
    return type->GetGUID(key, &value), value;
}

TEST_F(RecorderTest, TellsTheWriterTheFrameItWillGetOnThePlatformWriterFirst) {
    script_.streamIndexToGive = 3;
    Recorder recorder;
    ASSERT_TRUE(StartRecording(recorder, 0, 0, 65, 49, L"C:\\unused.mp4"));
    EXPECT_EQ(recorder.streamIndex, 3u);
    for (int i = 0; i < 1000 && script_.count("WriteSample") < 2; ++i) Sleep(10);
    recorder.stop();
    IMFMediaType *output = script_.outputType.get(), *input = script_.inputType.get();
    ASSERT_TRUE(output && input && !script_.samples.empty());
    const RecordedSample& sample = script_.samples.front();
    EXPECT_EQ(sample.bytes.size(), 64u * 48 * 4) << "the frame size made even";
    EXPECT_EQ(MFGetAttributeUINT32(output, MF_MT_AVG_BITRATE, 0), 4'000'000u);
    // A stride on the input would turn the bottom-up rows upside down.
    EXPECT_EQ(MFGetAttributeUINT32(input, MF_MT_DEFAULT_STRIDE, 0), 0u);
    for (auto [type, subtype] : {std::pair{output, MFVideoFormat_H264}, std::pair{input, MFVideoFormat_RGB32}}) {
        EXPECT_TRUE(IsEqualGUID(Guid(type, MF_MT_MAJOR_TYPE), MFMediaType_Video) &&
                    IsEqualGUID(Guid(type, MF_MT_SUBTYPE), subtype));
        EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_INTERLACE_MODE, 0), UINT32{MFVideoInterlace_Progressive});
        EXPECT_EQ(Get64(type, MF_MT_PIXEL_ASPECT_RATIO), 0x100000001ull) << "square pixels";
        // What the grabs hand over: frames of that size, one sample's duration each.
        EXPECT_EQ(Get64(type, MF_MT_FRAME_SIZE), (UINT64{64} << 32 | 48));
        const UINT64 rate = Get64(type, MF_MT_FRAME_RATE);
        EXPECT_NEAR(double(sample.duration) * (rate >> 32) / (rate & 0xFFFFFFFF), 1e7, 100) << std::hex << rate;
    }
    ASSERT_GE(script_.calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(script_.calls.begin(), script_.calls.begin() + 3),
              (std::vector<std::string>{"AddStream", "SetInputMediaType", "BeginWriting"}));
    EXPECT_EQ(script_.calls.back(), "Finalize");
    EXPECT_TRUE(builtIn_.calls.empty()) << "the built-in writer is only a fallback";
    expectAllReleasedAndNoOverlap(script_);
}

TEST_F(RecorderTest, FailuresFallBackToTheBuiltInWriterOrSayWhyAndReleaseWhatFailed) {
    // When all fails, the first failing step ends each chain: `builtInCalls` steps on the built-in writer.
    struct {
        HRESULT createFails, addStreamFails, builtInInputFails, builtInBeginFails, expected;
        size_t builtInCalls;
    } cases[] = {
        {E_INVALIDARG, S_OK, S_OK, S_OK, S_OK, 0},                  // what Wine answers for .mp4
        {S_OK, MF_E_TOPO_CODEC_NOT_FOUND, S_OK, S_OK, S_OK, 0},     // no H.264 encoder
        {S_OK, E_ACCESSDENIED, MF_E_INVALIDMEDIATYPE, S_OK, MF_E_INVALIDMEDIATYPE, 2},
        {S_OK, E_INVALIDARG, S_OK, E_ACCESSDENIED, E_ACCESSDENIED, 3},
    };
    for (const auto& c : cases) {
        FakeSinkWriterScript platform, builtIn;
        use(platform, builtIn, c.createFails);
        platform.failAddStream = c.addStreamFails;
        platform.streamIndexToGive = 5;
        builtIn.failSetInputMediaType = c.builtInInputFails;
        builtIn.failBeginWriting = c.builtInBeginFails;
        Recorder recorder;
        HRESULT failure = E_FAIL;
        EXPECT_EQ(start(recorder, &failure), SUCCEEDED(c.expected));
        EXPECT_EQ(failure, c.expected);
        EXPECT_EQ(platform.liveObjects.load(), 0) << "the failed platform writer must be released";
        EXPECT_EQ(recorder.state.load(), SUCCEEDED(c.expected) ? Recording : Ready);
        EXPECT_EQ(recorder.workerThread.joinable(), SUCCEEDED(c.expected));
        if (SUCCEEDED(c.expected)) { EXPECT_EQ(recorder.streamIndex, 0u); }
        if (FAILED(c.expected)) { EXPECT_EQ(builtIn.calls.size(), c.builtInCalls); }
        recorder.stop();
        EXPECT_EQ(builtIn.liveObjects.load(), 0);
    }
}

TEST_F(RecorderTest, AGrabInProgressFinishesBeforeFinalizeAndBeforeANewRecordingOrTheRecorderEnds) {
    FakeSinkWriterScript second;
    {
        Recorder recorder;
        ASSERT_TRUE(startWithASlowWriteUnderWay(script_, recorder)) << "the first grab should be writing now";
        recorder.stop();
        EXPECT_TRUE(script_.finalized.load());
        EXPECT_FALSE(recorder.workerThread.joinable());
        use(second, builtIn_);
        // Waits for the late worker before it starts; then ends with the recorder, in a slow write again.
        ASSERT_TRUE(startWithASlowWriteUnderWay(second, recorder));
    }
    EXPECT_EQ(second.writesInProgress.load(), 0) << "the recorder was gone while its worker was still writing";
    expectAllReleasedAndNoOverlap(script_);
    expectAllReleasedAndNoOverlap(second);
    EXPECT_GE(second.samples.size(), 1u);
}

// The worker's reports waiting on a message-only window.
int CountReports(HWND window) {
    MSG msg;
    int reports = 0;
    while (PeekMessageW(&msg, window, kEndedMessage, kEndedMessage, PM_REMOVE)) ++reports;
    return reports;
}

TEST_F(RecorderTest, StopOrAFailingWriterEndsTheRecordingFinalizedWithOneReport) {
    const HRESULT diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL), noPath = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    struct Case { HRESULT writes; size_t from; HRESULT finalize, reported; } cases[] = {
        {S_OK, 0, S_OK, S_OK},              // stopped by the user
        {diskFull, 0, S_OK, diskFull},      // the first frame
        {noPath, 3, diskFull, noPath},      // the first failure is the one reported
        {S_OK, 0, diskFull, diskFull},      // only Finalize fails, at Stop
    };
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    for (const Case& c : cases) {
        FakeSinkWriterScript script;
        use(script, builtIn_);
        script.failWrites = c.writes;
        script.failWritesFrom = c.from;
        script.finalizeResult = c.finalize;
        Recorder recorder;
        recorder.notifyWindow = window;
        recorder.notifyMessage = kEndedMessage;
        ASSERT_TRUE(start(recorder));
        // A failing worker ends by itself, its report posted before it leaves; the state changes
        // only on the UI thread.
        if (FAILED(c.writes)) {
            EXPECT_TRUE(WaitForWorker(recorder, 5000));
            EXPECT_EQ(script.count("WriteSample"), c.from + 1) << "no write after the failing one";
        } else {
            for (int i = 0; i < 1000 && script.count("WriteSample") < 5; ++i) Sleep(10);
            EXPECT_GE(script.count("WriteSample"), 5u);
        }
        EXPECT_EQ(CountReports(window), FAILED(c.writes) ? 1 : 0);
        EXPECT_EQ(recorder.state.load(), Recording);
        EXPECT_EQ(recorder.stop(), c.reported);
        EXPECT_EQ(recorder.state.load(), Ready);
        EXPECT_FALSE(recorder.workerThread.joinable());
        EXPECT_FALSE(recorder.sinkWriter);
        EXPECT_FALSE(recorder.memoryDC) << "the grab's surface outlived the recording";
        EXPECT_EQ(recorder.stop(), S_OK) << "one failure, one report";
        expectAllReleasedAndNoOverlap(script);
    }
    DestroyWindow(window);
}

}  // namespace

// "System sound" through a fake client, as Wine refuses loopback: each failing step's own code
// with everything released; then the loopback flag, packets on the performance counter one
// after another, and a lost device reported once, after its last packet, with no packet after.
TEST(AudioCaptureTest, LoopbackFailingStepsAndALostDevice) {
    FakeAudioScript script;
    fakeAudioScript = &script;
    const ActivateAudioClientFn saved = std::exchange(activateAudioClient, ActivateFakeAudioClient);
    const SoundSource systemSound{SoundSourceKind::SystemSound, L""};
    for (const char* step : {"Activate", "GetMixFormat", "Initialize", "GetService", "Start"}) {
        script.failStep = step, script.failWith = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x300 + step[3]);
        AudioCapture capture;
        EXPECT_EQ(StartAudioCapture(capture, systemSound, {}), script.failWith) << step;
        EXPECT_EQ(script.liveObjects.load(), 0) << step;
    }
    script.failStep.clear(), script.loseAfterPackets = 20;
    std::vector<int64_t> times;
    std::atomic<int> losses{0};
    int64_t lostAt = 0;
    AudioCapture capture;
    ASSERT_EQ(StartAudioCapture(capture, systemSound,
                                {[&](const CapturedPacket& p) {
                                     EXPECT_EQ(p.frames, FakeAudioClient::kPacket);
                                     EXPECT_EQ(p.data ? *reinterpret_cast<const float*>(p.data) : 0.f, script.level);
                                     times.push_back(p.time100ns);
                                 },
                                 [&](int64_t time, HRESULT why) {
                                     EXPECT_EQ(why, AUDCLNT_E_DEVICE_INVALIDATED);
                                     lostAt = time, ++losses;
                                 },
                                 {}}),
              S_OK);
    EXPECT_EQ(script.initializeFlags & AUDCLNT_STREAMFLAGS_LOOPBACK, DWORD{AUDCLNT_STREAMFLAGS_LOOPBACK});
    for (int i = 0; i < 500 && losses.load() == 0; ++i) Sleep(10);
    StopAudioCapture(capture);
    EXPECT_EQ(losses.load(), 1);
    ASSERT_EQ(times.size(), 20u);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 100'000) << i;
    EXPECT_GE(lostAt, times.back());
    EXPECT_EQ(script.liveObjects.load(), 0);
    activateAudioClient = saved;
}

// "System sound" through the recorder, the fake client's device lost after 0.5 s: a second
// stream (AAC from 16-bit PCM, 48 kHz stereo), buffers back to back holding the source's level,
// then silence to the end of the picture, and the moment the sound went missing.
TEST_F(RecorderTest, SoundIsASecondStreamSilentToThePicturesEndAfterTheDeviceIsLost) {
    FakeAudioScript audio;
    audio.loseAfterPackets = 50;
    fakeAudioScript = &audio;
    const ActivateAudioClientFn saved = std::exchange(activateAudioClient, ActivateFakeAudioClient);
    Recorder recorder;
    recorder.soundSource = {SoundSourceKind::SystemSound, L""};
    ASSERT_TRUE(start(recorder));
    EXPECT_EQ(recorder.soundStartFailure, S_OK);
    for (int i = 0; i < 500 && recorder.soundMissingFromMs.load() < 0; ++i) Sleep(10);
    for (int i = 0; i < 500 && RecordingClockMs(recorder) < recorder.soundMissingFromMs.load() + 600; ++i) Sleep(10);
    recorder.stop();
    activateAudioClient = saved;
    // AAC out at 160 kbit/s, 16-bit PCM in, both 48 kHz stereo.
    for (auto [type, subtype] : {std::pair{script_.soundOutputType.get(), MFAudioFormat_AAC},
                                 std::pair{script_.soundInputType.get(), MFAudioFormat_PCM}}) {
        EXPECT_TRUE(IsEqualGUID(Guid(type, MF_MT_MAJOR_TYPE), MFMediaType_Audio) &&
                    IsEqualGUID(Guid(type, MF_MT_SUBTYPE), subtype));
        EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0), 48000u);
        EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0), 2u);
        EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 0), 16u);
    }
    EXPECT_EQ(MFGetAttributeUINT32(script_.soundOutputType.get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), 20000u);
    EXPECT_EQ(MFGetAttributeUINT32(script_.soundInputType.get(), MF_MT_AUDIO_BLOCK_ALIGNMENT, 0), 4u);
    LONGLONG soundEnd = 0, videoEnd = 0;
    std::vector<int16_t> sound;
    for (const RecordedSample& s : script_.samples) {
        if (s.stream == 0) { videoEnd = s.time + s.duration; continue; }
        EXPECT_EQ(s.time, soundEnd) << "sound buffers follow one another";
        soundEnd = s.time + s.duration;
        sound.insert(sound.end(), reinterpret_cast<const int16_t*>(s.bytes.data()),
                     reinterpret_cast<const int16_t*>(s.bytes.data() + s.bytes.size()));
    }
    EXPECT_LE(std::abs(soundEnd - videoEnd), 333'333) << "the sound ends with the picture";
    const auto heard = std::find_if(sound.rbegin(), sound.rend(), [](int16_t v) { return v != 0; });
    const int64_t lastHeardMs = (sound.rend() - heard) / 2 * 1000 / 48000;
    // The converter's filter rings for a few samples where the sound stops: leave 5 ms of it out.
    EXPECT_TRUE(std::all_of(heard.base() - (heard.base() - sound.begin()) / 2, heard.base() - 2 * 240,
                            [](int16_t v) { return std::abs(v - 8192) <= 82; })) << "the source's level before";
    const int64_t missingMs = recorder.soundMissingFromMs.load();
    EXPECT_GE(missingMs, 300);
    EXPECT_LE(std::abs(missingMs - lastHeardMs), 100) << "reported from where the silence begins";
    EXPECT_GE(videoEnd - missingMs * 10'000, 300 * 10'000) << "the picture went on after the loss";
    EXPECT_EQ(audio.liveObjects.load(), 0);
}
