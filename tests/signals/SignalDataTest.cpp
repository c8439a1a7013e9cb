// Evaluation of spans and the span structure operations of a signal set.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "signals/SignalSet.h"

namespace {
// A component made of the given spans (lengths), all of `kind`.
CDataArray MakeArray(std::initializer_list<int> lengths, int kind = kSpanPoints) {
    CDataArray a;
    a.spans.clear();
    for (int n : lengths) a.spans.push_back(std::make_unique<CDataSpan>(kind, n));
    return a;
}

// A signal set whose three components share the given boundaries; samples are numbered so that
// moves of samples between spans can be seen (component c, sample i of the line: c * 1000 + i).
SignalSet MakeSet(std::initializer_list<int> lengths) {
    SignalSet set;
    for (int c = 0; c < kComponents; ++c) {
        set[c] = MakeArray(lengths);
        int i = 0;
        for (auto& s : set[c].spans) {
            s->param[kC1] = c * 10 + 1;
            s->param[kReserved] = 42.0;
            for (double& v : s->samples) v = c * 1000 + i++;
        }
    }
    return set;
}

std::vector<int> Lengths(const CDataArray& a) {
    std::vector<int> out;
    for (const auto& s : a.spans) out.push_back(s->length);
    return out;
}

void ExpectSameStructure(const SignalSet& set) {
    EXPECT_TRUE(set.IsConsistent());
    for (int c = 0; c < kComponents; ++c)
        for (const auto& s : set[c].spans) EXPECT_EQ(s->samples.size(), size_t(s->length));
}
}  // namespace

TEST(SignalEvaluation, ConstIsClampedIntoEachComponentsLegalRange) {
    struct Case {
        int component;
        double c1;
        double expected;
    } cases[] = {
        {0, 300.0, 254.0}, {0, -5.0, 1.0},    {0, 128.0, 128.0}, {1, -200.0, -126.0},
        {1, 200.0, 126.0}, {2, -127.0, -126.0}, {2, 30.5, 30.5},
    };
    for (const auto& c : cases) {
        CDataArray a = MakeArray({702}, kSpanConst);
        a.spans[0]->param[kC1] = c.c1;
        auto curve = EvaluateComponent(a, c.component, 1);
        ASSERT_EQ(curve.size(), 702u);
        for (size_t i = 0; i < 702; ++i) {
            ASSERT_EQ(a.spans[0]->samples[i], c.expected) << "component " << c.component << " c1 " << c.c1;
            ASSERT_EQ(curve[i], c.expected);
        }
    }
}

TEST(SignalEvaluation, SlopeStopsOneStepShortOfC2) {
    CDataArray a = MakeArray({4, 698}, kSpanConst);
    a.spans[0]->kind = kSpanSlope;
    a.spans[0]->param[kC1] = 0.0;
    a.spans[0]->param[kC2] = 100.0;
    EvaluateComponent(a, 1, 1);
    const auto& s = a.spans[0]->samples;
    EXPECT_NEAR(s[0], 0.0, 1e-9);
    EXPECT_NEAR(s[1], 25.0, 1e-9);
    EXPECT_NEAR(s[2], 50.0, 1e-9);
    EXPECT_NEAR(s[3], 75.0, 1e-9);
}

TEST(SignalEvaluation, SineAtQuarterPhaseIsItsPeak) {
    CDataArray a = MakeArray({702}, kSpanSin);
    auto& p = a.spans[0]->param;
    p[kC1] = 128.0;
    p[kA] = 50.0;
    p[kT] = 0.0;
    p[kF] = 0.25;
    EvaluateComponent(a, 0, 1);
    for (double v : a.spans[0]->samples) ASSERT_NEAR(v, 178.0, 1e-5);
}

TEST(SignalEvaluation, SineFollowsItsFrequencyInMicroseconds) {
    // 1 MHz: one period every 13.5 samples, so sample 27 (2 us) is back at the start value and
    // sample 3.375-ish is near the peak; check whole-period points only.
    CDataArray a = MakeArray({702}, kSpanSin);
    auto& p = a.spans[0]->param;
    p[kC1] = 0.0;
    p[kA] = 100.0;
    p[kT] = 1.0;
    EvaluateComponent(a, 1, 1);
    const auto& s = a.spans[0]->samples;
    for (int j : {0, 27, 54, 270}) EXPECT_NEAR(s[size_t(j)], 0.0, 1e-3) << j;
    EXPECT_NEAR(s[351], 100.0 * std::sin(2 * M_PI * 26.0), 1e-3);  // 26 us
}

TEST(SignalEvaluation, ModulatedSineWithoutAmplitudeIsC1WhateverTheWidth) {
    for (double w : {0.0, 0.25, 3.0, -1.0}) {
        CDataArray a = MakeArray({351, 351}, kSpanModulatedSin);
        for (auto& s : a.spans) {
            s->param[kC1] = 60.0;
            s->param[kA] = 0.0;
            s->param[kT] = 2.0;
            s->param[kW] = w;
            s->param[kC3] = 5.0;
        }
        auto curve = EvaluateComponent(a, 0, 4);
        for (double v : curve) ASSERT_EQ(v, 60.0) << "w " << w;
    }
}

TEST(SignalEvaluation, ModulatedSineHasItsPeakInTheMiddleAndFadesAtTheEnds) {
    CDataArray a = MakeArray({702}, kSpanModulatedSin);
    auto& p = a.spans[0]->param;
    p[kC1] = 20.0;
    p[kA] = 100.0;
    p[kT] = 0.0;
    p[kF] = 0.5;  // sin^2 of pi/2: the carrier is 1 everywhere
    p[kW] = 2.0;  // us; the line is 52 us
    EvaluateComponent(a, 0, 1);
    const auto& s = a.spans[0]->samples;
    EXPECT_NEAR(s[351], 120.0, 0.1);
    EXPECT_NEAR(s[0], 20.0, 1e-6);
    EXPECT_NEAR(s[701], 20.0, 1e-6);
    // Gaussian: one width (13.5 samples per us * 2) from the centre the envelope is 1/e.
    EXPECT_NEAR(s[351 + 27], 20.0 + 100.0 / M_E, 0.5);
}

TEST(SignalEvaluation, OversamplingKeepsTheSamplesAndMultipliesTheCurve) {
    SignalSet base;
    base[0] = MakeArray({100, 300, 302}, kSpanSinSlope);
    int i = 0;
    for (auto& s : base[0].spans) {
        s->param[kC1] = 40.0 + 10 * i;
        s->param[kC2] = 200.0 - 20 * i;
        s->param[kA] = 30.0;
        s->param[kT] = 0.7 + i;
        s->param[kF] = 0.1 * i;
        ++i;
    }
    CDataArray one = base[0], three = base[0];
    auto c1 = EvaluateComponent(one, 0, 1);
    auto c3 = EvaluateComponent(three, 0, 3);
    EXPECT_EQ(c1.size(), 702u);
    EXPECT_EQ(c3.size(), 2106u);
    for (size_t s = 0; s < one.spans.size(); ++s)
        for (size_t j = 0; j < one.spans[s]->samples.size(); ++j)
            ASSERT_NEAR(one.spans[s]->samples[j], three.spans[s]->samples[j], 1e-6);
    // Every third curve value is a sample.
    for (size_t k = 0; k < 702; ++k) ASSERT_NEAR(c3[3 * k], c1[k], 1e-6);
}

TEST(SignalEvaluation, PointsAreClampedAndWrittenBackUnknownKindsGiveZero) {
    CDataArray a = MakeArray({2, 700});
    a.spans[0]->samples = {300.0, -3.0};
    a.spans[1]->kind = 9;
    a.spans[1]->param[kC1] = 77.0;
    auto curve = EvaluateComponent(a, 0, 2);
    EXPECT_EQ(a.spans[0]->samples[0], 254.0);
    EXPECT_EQ(a.spans[0]->samples[1], 1.0);
    EXPECT_EQ(curve[1], 254.0);  // sub-step 1 repeats point 0
    EXPECT_EQ(a.spans[1]->samples[5], 1.0);  // 0 clamped into Y's range
    CDataArray d = MakeArray({702});
    d.spans[0]->kind = 9;
    EvaluateComponent(d, 1, 1);
    EXPECT_EQ(d.spans[0]->samples[100], 0.0);
}

TEST(SignalEvaluation, NonNumbersFromAFileNeverBecomeSamples) {
    CDataArray a = MakeArray({702}, kSpanConst);
    a.spans[0]->param[kC1] = std::numeric_limits<double>::quiet_NaN();
    EvaluateComponent(a, 1, 1);
    for (double v : a.spans[0]->samples) ASSERT_EQ(v, -126.0);
}

TEST(SignalStructure, SplitAtTheMiddleOrAtTheCursor) {
    struct Case {
        int cursor;  // line sample index, -1 for none; the span of 7 starts at sample 10
        int first, second;
    } cases[] = {{-1, 3, 4}, {13, 3, 4}, {10, 3, 4}, {15, 5, 2}, {16, 6, 1}, {11, 1, 6}, {500, 3, 4}};
    for (const auto& c : cases) {
        SignalSet set = MakeSet({10, 7, 685});
        set[2].spans[1]->kind = kSpanSin;
        ASSERT_TRUE(SplitSpan(set, 1, c.cursor));
        for (int comp = 0; comp < kComponents; ++comp) {
            EXPECT_EQ(Lengths(set[comp]), (std::vector<int>{10, c.first, c.second, 685})) << "cursor " << c.cursor;
            const auto& a = *set[comp].spans[1];
            const auto& b = *set[comp].spans[2];
            EXPECT_EQ(a.kind, b.kind);
            EXPECT_EQ(a.param[kC1], comp * 10 + 1);
            EXPECT_EQ(b.param[kReserved], 42.0);
            EXPECT_EQ(a.samples.front(), comp * 1000 + 10);
            EXPECT_EQ(b.samples.front(), comp * 1000 + 10 + c.first);
            EXPECT_EQ(b.samples.back(), comp * 1000 + 16);
        }
        EXPECT_EQ(set[2].spans[1]->kind, kSpanSin);
        ExpectSameStructure(set);
    }
}

TEST(SignalStructure, SpanOfOneSampleIsNotSplit) {
    SignalSet set = MakeSet({1, 701});
    EXPECT_FALSE(SplitSpan(set, 0, -1));
    EXPECT_EQ(Lengths(set[1]), (std::vector<int>{1, 701}));
}

TEST(SignalStructure, CombineKeepsTheCurrentSpansKindAndJoinsSamplesInOrder) {
    SignalSet set = MakeSet({10, 20, 672});
    for (int comp = 0; comp < kComponents; ++comp) {
        set[comp].spans[0]->kind = kSpanConst;
        set[comp].spans[1]->kind = kSpanSlope;
        set[comp].spans[1]->param[kC2] = 9.0;
    }
    int current = 1;
    ASSERT_TRUE(CombineWithPrevious(set, current));
    EXPECT_EQ(current, 0);
    for (int comp = 0; comp < kComponents; ++comp) {
        EXPECT_EQ(Lengths(set[comp]), (std::vector<int>{30, 672}));
        const auto& s = *set[comp].spans[0];
        EXPECT_EQ(s.kind, kSpanSlope);
        EXPECT_EQ(s.param[kC2], 9.0);
        for (int i = 0; i < 30; ++i) ASSERT_EQ(s.samples[size_t(i)], comp * 1000 + i);
    }

    ASSERT_TRUE(CombineWithNext(set, 0));
    for (int comp = 0; comp < kComponents; ++comp) {
        EXPECT_EQ(Lengths(set[comp]), (std::vector<int>{702}));
        EXPECT_EQ(set[comp].spans[0]->kind, kSpanSlope);
        for (int i = 0; i < 702; ++i) ASSERT_EQ(set[comp].spans[0]->samples[size_t(i)], comp * 1000 + i);
    }
    ExpectSameStructure(set);
}

TEST(SignalStructure, CombineBeyondTheEndsDoesNothing) {
    SignalSet set = MakeSet({10, 20, 672});
    int current = 0;
    EXPECT_FALSE(CombineWithPrevious(set, current));
    EXPECT_EQ(current, 0);
    EXPECT_FALSE(CombineWithNext(set, 2));
    EXPECT_EQ(Lengths(set[0]), (std::vector<int>{10, 20, 672}));
}

TEST(SignalStructure, ChangeLengthMovesTheBoundaryWithZeros) {
    SignalSet set = MakeSet({10, 20, 672});
    ASSERT_TRUE(ChangeSpanLength(set, 0, true));
    for (int comp = 0; comp < kComponents; ++comp) {
        EXPECT_EQ(Lengths(set[comp]), (std::vector<int>{11, 19, 672}));
        EXPECT_EQ(set[comp].spans[0]->samples.back(), 0.0);
        EXPECT_EQ(set[comp].spans[1]->samples.back(), comp * 1000 + 28);
    }
    ASSERT_TRUE(ChangeSpanLength(set, 1, false));
    EXPECT_EQ(Lengths(set[2]), (std::vector<int>{11, 18, 673}));
    EXPECT_EQ(set[2].spans[2]->samples.back(), 0.0);
    ExpectSameStructure(set);

    SignalSet tight = MakeSet({1, 1, 700});
    EXPECT_FALSE(ChangeSpanLength(tight, 0, true));   // next span has one sample
    EXPECT_FALSE(ChangeSpanLength(tight, 0, false));  // current span has one sample
    EXPECT_FALSE(ChangeSpanLength(tight, 2, true));   // the last span follows from the others
    EXPECT_EQ(Lengths(tight[0]), (std::vector<int>{1, 1, 700}));
}

TEST(SignalStructure, MoveStartShiftsTheFollowingSpansAndTheLastAbsorbs) {
    SignalSet set = MakeSet({10, 20, 672});
    ASSERT_TRUE(MoveSpanStart(set, 1, true));
    EXPECT_EQ(Lengths(set[1]), (std::vector<int>{11, 20, 671}));
    ASSERT_TRUE(MoveSpanStart(set, 1, false));
    ASSERT_TRUE(MoveSpanStart(set, 1, false));
    EXPECT_EQ(Lengths(set[1]), (std::vector<int>{9, 20, 673}));
    // The last span itself: a later start shortens it, an earlier one lengthens it.
    ASSERT_TRUE(MoveSpanStart(set, 2, true));
    EXPECT_EQ(Lengths(set[0]), (std::vector<int>{9, 21, 672}));
    ASSERT_TRUE(MoveSpanStart(set, 2, false));
    EXPECT_EQ(Lengths(set[0]), (std::vector<int>{9, 20, 673}));
    ExpectSameStructure(set);

    EXPECT_FALSE(MoveSpanStart(set, 0, true));  // the first span starts the line
    SignalSet tight = MakeSet({1, 700, 1});
    EXPECT_FALSE(MoveSpanStart(tight, 1, true));   // last span has one sample
    EXPECT_FALSE(MoveSpanStart(tight, 1, false));  // previous span has one sample
    EXPECT_EQ(Lengths(tight[0]), (std::vector<int>{1, 700, 1}));
}
