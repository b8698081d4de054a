#include "acquisition/StartStop.h"
#include "acquisition/AcqState.h"
#include "base/NumberParse.h"
#include "tests/support/FakeDriver.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(RateParameters, FollowTheRateTable) {
    const struct {
        const char* text;
        std::int32_t sampFreq;
        std::int32_t pointsPerBuf;
        std::int16_t sampDiv;
    } cases[] = {
        {"20000", 20000, 500, 1},  {"10000", 10000, 500, 1},
        {"9999", 10000, 100, 1},   {"6000", 10000, 100, 2},
        {"4000", 10000, 100, 2},   {"3000", 10000, 100, 3},
        {"800", 10000, 100, 12},   {"160", 10000, 100, 62},
        {"32", 10000, 100, 312},   {"1", 10000, 100, 10000},
        {"9999.5", 10000, 500, 1}, {"9998.5", 10000, 100, 1},
        {"20 000", 20000, 500, 1}, {"1000000", 1000000, 500, 1},
        {"0.5", 0, 0, 0}, // rounds to 0 (ties to even): refused below
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto p = rateParameters(parseLeadingNumber(c.text));
        if (c.sampFreq == 0) {
            EXPECT_FALSE(p.has_value());
            continue;
        }
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->SampFreq, c.sampFreq);
        EXPECT_EQ(p->PointsPerBuf, c.pointsPerBuf);
        EXPECT_EQ(p->SampDiv, c.sampDiv);
    }
    for (const char* bad : {"0", "", "abc", "-5", "-1e9", "0.4", "3e9", "1e999", "2147483648"})
        EXPECT_FALSE(rateParameters(parseLeadingNumber(bad)).has_value()) << bad;
    EXPECT_TRUE(rateParameters(parseLeadingNumber("1.5")).has_value()); // rounds to 2
}

namespace {

AcqState loadedState() {
    AcqState s;
    s.AdZero = 2048;
    s.AdSpan = 4096;
    s.XNum = 200;
    s.CurChn = 1;
    return s;
}

} // namespace

TEST(StartAcquisition, PassesTheParametersAndPreparesTheRing) {
    FakeDriver card;
    AcqState s = loadedState();
    s.DataPtr = 123;
    s.SampDivCnt = 5;
    s.BlockTotal = 40;
    const StartResult r = startAcquisition(card, s, "20000");
    EXPECT_EQ(r.outcome, StartOutcome::Started);
    EXPECT_EQ(card.calls, (std::vector<std::string>{"StopIntr", "Initial", "StartIntr"}));
    EXPECT_EQ(card.initialArgs, (std::vector<std::int32_t>{0, 0, 0, 0}));
    ASSERT_EQ(card.startCalls.size(), 1U);
    const auto& a = card.startCalls[0];
    EXPECT_EQ(a.a, 50);
    EXPECT_EQ(a.pointsPerBuf, 500);
    EXPECT_EQ(a.b, 0);
    EXPECT_EQ(a.chnCount, 17);
    EXPECT_EQ(a.sampFreq, 20000);
    EXPECT_EQ(a.c, 0);
    EXPECT_EQ(a.d, 1);
    EXPECT_EQ(s.AdBuf.size(), 8502U);
    EXPECT_TRUE(std::all_of(s.AdBuf.begin(), s.AdBuf.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(s.SampDiv, 1);
    EXPECT_EQ(s.SampDivCnt, 0);
    EXPECT_EQ(s.ChnCount, 17);
    EXPECT_EQ(s.DataPtr, 0);
    EXPECT_EQ(s.AdData(0, 0), 2048);
    EXPECT_EQ(s.AdData(16, 31999), 2048);
    EXPECT_EQ(s.AdData(17, 100), 0);
    EXPECT_EQ(s.BlockTotal, 40); // keeps counting across runs

    startAcquisition(card, s, "3000");
    EXPECT_EQ(s.AdBuf.size(), 1702U);
    EXPECT_EQ(card.startCalls.back().pointsPerBuf, 100);
    EXPECT_EQ(card.startCalls.back().sampFreq, 10000);
    EXPECT_EQ(s.SampDiv, 3);
}

TEST(StartAcquisition, DriverFailuresLeaveTheRingAndSayWhichStepFailed) {
    for (bool failAtInitial : {true, false}) {
        SCOPED_TRACE(failAtInitial ? "Initial" : "StartIntr");
        FakeDriver card;
        (failAtInitial ? card.initialResult : card.startResult) = 0;
        card.lastError = failAtInitial ? -7 : 1234;
        AcqState s = loadedState();
        s.AdData(3, 10) = 777;
        s.DataPtr = 11;
        s.AdBuf.assign(5, 9);
        const StartResult r = startAcquisition(card, s, "20000");
        EXPECT_EQ(r.outcome, failAtInitial ? StartOutcome::InitFailed : StartOutcome::StartFailed);
        EXPECT_EQ(startFailureText(r),
                  failAtInitial ? "初始化错误，Error=-7" : "启动采集错误，Error=1234");
        EXPECT_EQ(s.AdData(3, 10), 777);
        EXPECT_EQ(s.DataPtr, 11);
        // The buffer is sized only once the card initialised.
        EXPECT_EQ(s.AdBuf.size(), failAtInitial ? 5U : 8502U);
        EXPECT_EQ(card.count("StartIntr"), failAtInitial ? 0 : 1);
        EXPECT_EQ(card.count("GetLastADError"), 1);
        EXPECT_EQ(s.ChnCount, 17); // set before any driver call, even when the start fails
        EXPECT_EQ(s.SampFreq, 20000);
    }
}

TEST(StartAcquisition, ABadRateIsRefusedBeforeAnyDriverCallOrStateChange) {
    for (const char* text : {"0", "abc", "", "-100", "0.5", "99999999999"}) {
        SCOPED_TRACE(text);
        FakeDriver card;
        AcqState s = loadedState();
        s.SampDiv = 4;
        s.SampFreq = 10000;
        s.DataPtr = 9;
        const StartResult r = startAcquisition(card, s, text);
        EXPECT_EQ(r.outcome, StartOutcome::BadRate);
        EXPECT_EQ(startFailureText(r), "采样频率错误，请输入不小于1的数值");
        EXPECT_TRUE(card.calls.empty());
        EXPECT_EQ(s.SampDiv, 4);
        EXPECT_EQ(s.SampFreq, 10000);
        EXPECT_EQ(s.ChnCount, 0);
        EXPECT_EQ(s.DataPtr, 9);
        EXPECT_TRUE(s.AdBuf.empty());
    }
}

TEST(StopAcquisition, OnlyStopsTheCard) {
    FakeDriver card;
    stopAcquisition(card);
    EXPECT_EQ(card.calls, std::vector<std::string>{"StopIntr"});
}
