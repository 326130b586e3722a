// The Recorder with a counting fake writer: setupSinkWriter's media types, step order and
// fallback to the built-in writer; start and stop with the real worker thread (the writer is
// never finalized while a grab is still writing, nothing touches it afterwards); and a writer
// that fails ends the recording with exactly one report.
#include "FakeSinkWriter.h"
#include "recording/Recorder.h"
#include "recording/SinkWriterFactory.h"

#include <gtest/gtest.h>

#include <mfapi.h>

#include <algorithm>

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
        saved_ = ActiveSinkWriterFactories();
        use(script_, builtIn_);
        ActiveSinkWriterFactories() = {CreatePlatformFake, CreateBuiltInFake};
    }
    void TearDown() override { ActiveSinkWriterFactories() = saved_; }
    void use(FakeSinkWriterScript& platform, FakeSinkWriterScript& builtIn, HRESULT createResult = S_OK) {
        platformScript = &platform;
        builtInScript = &builtIn;
        platformCreateResult = createResult;
    }
    HRESULT setUp(int32_t width, int32_t height) {
        recorder_.frameWidth = width;
        recorder_.frameHeight = height;
        recorder_.outputPath = L"C:\\out\\a.mp4";
        return recorder_.setupSinkWriter();
    }
    // Ends the recording the way stop() does, so the writer is finalized and let go of.
    void finish() {
        recorder_.state = Recording;
        recorder_.stop();
    }
    bool start(Recorder& recorder) { return StartRecording(recorder, 0, 0, 64, 48, L"C:\\unused.mp4"); }
    // Starts a recording whose first WriteSample takes 1.5 s (longer than stop's wait) and
    // returns once that write is under way.
    bool startWithASlowWriteUnderWay(Recorder& recorder) {
        script_.writeSampleDelayMs = 1500;
        if (!start(recorder)) return false;
        for (int i = 0; i < 100 && script_.writesInProgress.load() == 0; ++i) Sleep(10);
        return script_.writesInProgress.load() == 1;
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
    Recorder recorder_;
};

// Attribute `index` of `records` is `key` with the value `expected`, of the variant type `vt`.
void ExpectAttribute(const std::vector<AttributeRecord>& records, size_t index, const GUID& key, VARTYPE vt,
                     UINT64 expected, const GUID& expectedGuid = GUID_NULL) {
    ASSERT_LT(index, records.size());
    const AttributeRecord& record = records[index];
    EXPECT_TRUE(IsEqualGUID(record.key, key)) << "attribute " << index;
    ASSERT_EQ(record.value.vt, vt) << "attribute " << index;
    if (vt == VT_CLSID) { EXPECT_TRUE(IsEqualGUID(*record.value.puuid, expectedGuid)) << "attribute " << index; }
    if (vt == VT_UI4) { EXPECT_EQ(record.value.ulVal, expected) << "attribute " << index; }
    if (vt == VT_UI8) { EXPECT_EQ(record.value.uhVal.QuadPart, expected) << "attribute " << index; }
}

TEST_F(RecorderTest, BuildsTheH264OutputTypeAndRgb32InputTypeInOrderOnThePlatformWriterFirst) {
    for (const auto& size : {std::pair<int32_t, int32_t>{1920, 1080}, {16, 16}}) {
        script_.streamIndexToGive = 3;
        ASSERT_EQ(setUp(size.first, size.second), S_OK);
        const UINT64 packed = (UINT64(size.first) << 32) | UINT64(size.second);
        const auto& out = script_.outputType;
        ASSERT_EQ(out.size(), 7u);
        ExpectAttribute(out, 0, MF_MT_MAJOR_TYPE, VT_CLSID, 0, MFMediaType_Video);
        ExpectAttribute(out, 1, MF_MT_SUBTYPE, VT_CLSID, 0, MFVideoFormat_H264);
        ExpectAttribute(out, 2, MF_MT_AVG_BITRATE, VT_UI4, 4'000'000);
        ExpectAttribute(out, 3, MF_MT_INTERLACE_MODE, VT_UI4, MFVideoInterlace_Progressive);
        ExpectAttribute(out, 4, MF_MT_FRAME_SIZE, VT_UI8, packed);
        ExpectAttribute(out, 5, MF_MT_FRAME_RATE, VT_UI8, 0x0000001E00000001ull);
        ExpectAttribute(out, 6, MF_MT_PIXEL_ASPECT_RATIO, VT_UI8, 0x0000000100000001ull);
        const auto& in = script_.inputType;
        ASSERT_EQ(in.size(), 6u) << "no bit rate and no stride on the input";
        ExpectAttribute(in, 0, MF_MT_MAJOR_TYPE, VT_CLSID, 0, MFMediaType_Video);
        ExpectAttribute(in, 1, MF_MT_SUBTYPE, VT_CLSID, 0, MFVideoFormat_RGB32);
        ExpectAttribute(in, 3, MF_MT_FRAME_SIZE, VT_UI8, packed);
        EXPECT_EQ(recorder_.streamIndex, 3u);
        finish();
    }
    EXPECT_EQ(script_.calls, (std::vector<std::string>{"AddStream", "SetInputMediaType", "BeginWriting", "Finalize",
                                                          "AddStream", "SetInputMediaType", "BeginWriting", "Finalize"}));
    EXPECT_TRUE(builtIn_.calls.empty()) << "the built-in writer is only a fallback";
    EXPECT_EQ(script_.liveObjects.load(), 0);
}

TEST_F(RecorderTest, FailuresFallBackToTheBuiltInWriterAndReleaseWhatFailed) {
    struct Case {
        HRESULT createFails, addStreamFails, builtInInputFails, expected;
    } cases[] = {
        {E_INVALIDARG, S_OK, S_OK, S_OK},                                  // what Wine answers for .mp4
        {S_OK, MF_E_TOPO_CODEC_NOT_FOUND, S_OK, S_OK},                     // no H.264 encoder
        {S_OK, E_ACCESSDENIED, MF_E_INVALIDMEDIATYPE, MF_E_INVALIDMEDIATYPE},  // both fail
    };
    for (const Case& c : cases) {
        FakeSinkWriterScript platform, builtIn;
        use(platform, builtIn, c.createFails);
        platform.failAddStream = c.addStreamFails;
        platform.streamIndexToGive = 5;
        builtIn.failSetInputMediaType = c.builtInInputFails;
        EXPECT_EQ(setUp(640, 480), c.expected);
        EXPECT_EQ(platform.liveObjects.load(), 0) << "the failed platform writer must be released";
        EXPECT_EQ(bool(recorder_.sinkWriter), SUCCEEDED(c.expected));
        EXPECT_EQ(recorder_.state.load(), Ready);
        if (SUCCEEDED(c.expected)) { EXPECT_EQ(recorder_.streamIndex, 0u); }
        finish();
        EXPECT_EQ(builtIn.liveObjects.load(), 0);
        // The first failing step ends each chain.
        if (FAILED(c.expected)) { EXPECT_EQ(builtIn.calls, (std::vector<std::string>{"AddStream", "SetInputMediaType"})); }
    }
}

TEST_F(RecorderTest, AGrabInProgressFinishesBeforeFinalizeAndANewRecordingWaitsForIt) {
    Recorder recorder;
    ASSERT_TRUE(startWithASlowWriteUnderWay(recorder)) << "the first grab should be writing now";
    recorder.stop();
    EXPECT_TRUE(script_.finalized.load());
    EXPECT_FALSE(recorder.workerThread.joinable());
    FakeSinkWriterScript second;
    use(second, builtIn_);
    ASSERT_TRUE(start(recorder));  // waits for the late worker before it starts
    Sleep(300);
    recorder.stop();
    expectAllReleasedAndNoOverlap(script_);
    expectAllReleasedAndNoOverlap(second);
    EXPECT_GE(second.samples.size(), 1u);
}

TEST_F(RecorderTest, DestroyingTheRecorderDuringALongWriteWaitsForTheWorker) {
    {
        Recorder recorder;
        ASSERT_TRUE(startWithASlowWriteUnderWay(recorder));
    }
    EXPECT_EQ(script_.writesInProgress.load(), 0) << "the recorder was gone while its worker was still writing";
    expectAllReleasedAndNoOverlap(script_);
}

TEST_F(RecorderTest, AFailingSetUpSaysWhyAndLeavesTheRecorderReady) {
    script_.failAddStream = E_INVALIDARG;
    builtIn_.failBeginWriting = E_ACCESSDENIED;
    Recorder recorder;
    HRESULT failure = S_OK;
    EXPECT_FALSE(StartRecording(recorder, 0, 0, 64, 48, L"C:\\unused.mp4", &failure));
    EXPECT_EQ(failure, E_ACCESSDENIED);
    EXPECT_EQ(recorder.state.load(), Ready);
    EXPECT_FALSE(recorder.workerThread.joinable());
}

// Counts the worker's reports on a message-only window: until `waitMs` have passed, or until
// half a second after the first (time enough for a second one to show).
int CountReports(HWND window, DWORD waitMs) {
    int reports = 0;
    ULONGLONG end = GetTickCount64() + waitMs;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, window, kEndedMessage, kEndedMessage, PM_REMOVE))
            if (++reports == 1) end = std::min(end, GetTickCount64() + 500);
        Sleep(10);
    }
    return reports;
}

TEST_F(RecorderTest, StopOrAFailingWriterEndsTheRecordingFinalizedWithOneReport) {
    const HRESULT diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    struct Case {
        HRESULT writes;
        size_t from;
        HRESULT finalize;
        HRESULT reported;
    } cases[] = {
        {S_OK, 0, S_OK, S_OK},                                                // stopped by the user
        {diskFull, 0, S_OK, diskFull},                                        // the first frame
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), 3, diskFull, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {S_OK, 0, diskFull, diskFull},                                        // only Finalize fails, at Stop
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
        // A failing worker ends by itself; the state changes only on the UI thread.
        EXPECT_EQ(CountReports(window, FAILED(c.writes) ? 5000 : 1500), FAILED(c.writes) ? 1 : 0);
        if (FAILED(c.writes)) {
            EXPECT_TRUE(WaitForWorker(recorder, 2000));
            EXPECT_EQ(script.count("WriteSample"), c.from + 1) << "no write after the failing one";
        } else {
            EXPECT_GE(script.samples.size(), 5u);
        }
        EXPECT_EQ(recorder.stop(), c.reported);
        EXPECT_EQ(recorder.state.load(), Ready);
        EXPECT_FALSE(recorder.workerThread.joinable());
        EXPECT_FALSE(recorder.sinkWriter);
        EXPECT_EQ(recorder.stop(), S_OK) << "one failure, one report";
        expectAllReleasedAndNoOverlap(script);
    }
    DestroyWindow(window);
}

}  // namespace
