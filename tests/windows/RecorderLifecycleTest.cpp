// Start, pause, resume and stop of the Recorder with its real worker thread and a fake
// writer: the writer is never finalized while a grab is still writing, and nothing touches
// it afterwards.
#include "FakeSinkWriter.h"
#include "PatternWindow.h"
#include "recording/Recorder.h"
#include "recording/SinkWriterFactory.h"

#include <gtest/gtest.h>

namespace {

FakeSinkWriterScript* activeScript = nullptr;
HRESULT CreateScriptedFake(const wchar_t*, IMFSinkWriter** writer) { return CreateFakeSinkWriter(*activeScript, writer); }
HRESULT RefuseWriter(const wchar_t*, IMFSinkWriter**) { return E_INVALIDARG; }

class RecorderLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ActiveSinkWriterFactories();
        activeScript = &script_;
        ActiveSinkWriterFactories() = {CreateScriptedFake, nullptr};
    }
    void TearDown() override {
        ActiveSinkWriterFactories() = saved_;
        ClearAttributes(script_.outputType);
        ClearAttributes(script_.inputType);
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
    size_t sampleCount() {
        std::lock_guard<std::mutex> guard(script_.lock);
        return script_.samples.size();
    }

    SinkWriterFactories saved_{};
    FakeSinkWriterScript script_;
};

TEST_F(RecorderLifecycle, StopFinalizesOnceAndReleasesEverything) {
    {
        Recorder recorder;
        ASSERT_TRUE(start(recorder));
        EXPECT_EQ(recorder.state.load(), Recording);
        PumpMessages(400);
        recorder.stop();
        EXPECT_EQ(recorder.state.load(), Ready);
        EXPECT_FALSE(recorder.workerThread.joinable());
        EXPECT_FALSE(recorder.sinkWriter);
        EXPECT_TRUE(script_.finalized.load());
        EXPECT_GE(sampleCount(), 5u);
        recorder.stop();  // a second stop does nothing
    }
    EXPECT_EQ(std::count(script_.calls.begin(), script_.calls.end(), "Finalize"), 1);
    EXPECT_EQ(script_.liveObjects.load(), 0);
    EXPECT_FALSE(script_.overlapSeen.load());
}

TEST_F(RecorderLifecycle, AGrabInProgressFinishesBeforeFinalize) {
    Recorder recorder;
    ASSERT_TRUE(startWithASlowWriteUnderWay(recorder)) << "the first grab should be writing now";
    recorder.stop();
    EXPECT_TRUE(script_.finalized.load());
    EXPECT_FALSE(script_.overlapSeen.load()) << "Finalize ran while WriteSample was still writing";
    EXPECT_EQ(recorder.state.load(), Ready);
    EXPECT_FALSE(recorder.workerThread.joinable());
    // The detached worker ends by itself and never writes to the finalized writer.
    for (int i = 0; i < 300 && recorder.workerActive.load(); ++i) Sleep(10);
    EXPECT_FALSE(recorder.workerActive.load());
    EXPECT_FALSE(script_.writeAfterFinalize.load());
    EXPECT_EQ(script_.liveObjects.load(), 0);
}

TEST_F(RecorderLifecycle, DestroyingTheRecorderDuringALongWriteFinalizesAfterIt) {
    {
        Recorder recorder;
        ASSERT_TRUE(startWithASlowWriteUnderWay(recorder));
    }  // stop() gives up waiting after a second; the write in progress still finishes first
    EXPECT_EQ(script_.writesInProgress.load(), 0) << "the recorder was gone while its worker was still writing";
    EXPECT_FALSE(script_.overlapSeen.load());
    EXPECT_FALSE(script_.writeAfterFinalize.load());
    EXPECT_EQ(script_.liveObjects.load(), 0);
}

TEST_F(RecorderLifecycle, ANewRecordingWaitsForALateWorkerOfTheLastOne) {
    Recorder recorder;
    ASSERT_TRUE(startWithASlowWriteUnderWay(recorder));
    recorder.stop();
    FakeSinkWriterScript second;
    activeScript = &second;
    ASSERT_TRUE(start(recorder));  // waits for the late worker before it starts
    PumpMessages(300);
    recorder.stop();
    EXPECT_FALSE(script_.writeAfterFinalize.load());
    EXPECT_EQ(script_.liveObjects.load(), 0);
    EXPECT_EQ(second.liveObjects.load(), 0);
    EXPECT_GE(second.samples.size(), 1u);
    ClearAttributes(second.outputType);
    ClearAttributes(second.inputType);
}

TEST_F(RecorderLifecycle, PausedTimeIsLeftOutOfTheSampleTimes) {
    Recorder recorder;
    ASSERT_TRUE(start(recorder));
    Sleep(500);
    PauseRecording(recorder);
    EXPECT_EQ(recorder.state.load(), Paused);
    Sleep(100);
    const size_t atPause = sampleCount();
    Sleep(1500);
    EXPECT_EQ(sampleCount(), atPause) << "frames were taken while paused";
    ResumeRecording(recorder);
    EXPECT_EQ(recorder.state.load(), Recording);
    Sleep(500);
    recorder.stop();  // stopping is the same from either state
    std::lock_guard<std::mutex> guard(script_.lock);
    const auto& samples = script_.samples;
    ASSERT_GT(samples.size(), atPause);
    LONGLONG largestGap = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        ASSERT_GT(samples[i].time, samples[i - 1].time) << "sample " << i;
        largestGap = std::max(largestGap, samples[i].time - samples[i - 1].time);
    }
    // About 1.6 s of pause, none of it in the timeline (allow for a slow machine's grabs).
    EXPECT_LT(largestGap, 4'000'000) << "the pause shows in the timeline";
    EXPECT_LT(samples.back().time, 15'000'000);
}

TEST_F(RecorderLifecycle, FailedSetUpLeavesTheRecorderReady) {
    ActiveSinkWriterFactories() = {RefuseWriter, RefuseWriter};
    Recorder recorder;
    EXPECT_FALSE(start(recorder));
    EXPECT_EQ(recorder.state.load(), Ready);
    EXPECT_FALSE(recorder.workerThread.joinable());
    EXPECT_FALSE(recorder.sinkWriter);
}

TEST_F(RecorderLifecycle, OddAndTinyRegionsBecomeEvenFramesOfAtLeastSixteen) {
    Recorder recorder;
    ASSERT_TRUE(StartRecording(recorder, 100, 50, 1921, 1081, L"C:\\unused.mp4"));
    EXPECT_EQ(recorder.frameWidth, 1920);
    EXPECT_EQ(recorder.frameHeight, 1080);
    EXPECT_EQ(recorder.captureX, 100);
    EXPECT_EQ(recorder.captureY, 50);
    recorder.stop();
    ClearAttributes(script_.outputType);
    ASSERT_TRUE(StartRecording(recorder, 0, 0, 10, 300, L"C:\\unused.mp4"));
    EXPECT_EQ(recorder.frameWidth, 16);
    EXPECT_EQ(recorder.frameHeight, 300);
    recorder.stop();
}

}  // namespace
