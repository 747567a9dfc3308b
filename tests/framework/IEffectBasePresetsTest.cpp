#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

constexpr int kParams = 13;

// The separation plug-in's shape: 13 parameters, the first nine initialised.
class IEffectBaseState : public ::testing::Test {
protected:
    explicit IEffectBaseState(int nPresets = 1) : plug("1-1-0 2-2-0", kParams, nPresets) {
        const char* levels[] = {"Vocal", "Bass", "Drums", "Other"};
        for (int i = 0; i < 4; ++i) {
            plug.GetParam(i)->InitDouble(levels[i], 0, -120, 12, 0.1, "dB");
            plug.GetParam(4 + i)->InitDouble("Sensitivity", 100, 0, 100, 0.1, "%");
        }
        plug.GetParam(8)->InitDouble("SoftHard", 0, 0, 100, 0.1, "%");
    }

    // Distinct in-range values for every parameter; offset in [0, 1).
    static double ValueFor(const IParam* p, int i, double offset) {
        return p->GetMin() + (p->GetMax() - p->GetMin()) * (i + 1 + offset) / (kParams + 2);
    }
    void SetValues(double offset) {
        for (int i = 0; i < kParams; ++i)
            plug.GetParam(i)->Set(ValueFor(plug.GetParam(i), i, offset));
    }

    TestEffect plug;
};

TEST_F(IEffectBaseState, SerialisesEveryValueAndRestoresBitExactly) {
    SetValues(0.123456789);
    ByteChunk chunk;
    ASSERT_TRUE(plug.SerializeState(&chunk));
    ASSERT_EQ(chunk.Size(), 8 * kParams);
    double saved[kParams];
    for (int i = 0; i < kParams; ++i) {
        saved[i] = plug.GetParam(i)->Value();
        double stored;
        std::memcpy(&stored, chunk.GetBytes() + 8 * i, 8);
        EXPECT_EQ(stored, saved[i]);
    }
    EXPECT_TRUE(plug.CompareState(saved, 0));

    SetValues(0.5);
    EXPECT_FALSE(plug.CompareState(saved, 0));
    plug.mLog.clear();
    EXPECT_EQ(plug.UnserializeState(&chunk, 0), 8 * kParams);
    for (int i = 0; i < kParams; ++i) EXPECT_EQ(plug.GetParam(i)->Value(), saved[i]);
    EXPECT_EQ(plug.mLog.size(), static_cast<size_t>(kParams));
}

TEST_F(IEffectBaseState, RestoredValuesAreClamped) {
    ByteChunk chunk;
    const double values[] = {1e9, -1e9, std::numeric_limits<double>::quiet_NaN(), 5.0};
    for (double v : values) chunk.Put(&v);
    plug.GetParam(2)->Set(-3.0);
    plug.UnserializeParams(&chunk, 0);
    EXPECT_EQ(plug.GetParam(0)->Value(), 12.0);
    EXPECT_EQ(plug.GetParam(1)->Value(), -120.0);
    EXPECT_EQ(plug.GetParam(2)->Value(), -3.0) << "a stored NaN keeps the value";
    EXPECT_EQ(plug.GetParam(3)->Value(), 5.0);
}

TEST_F(IEffectBaseState, ShortChunkRestoresWhatItHolds) {
    SetValues(0.0);
    ByteChunk chunk;
    plug.SerializeParams(&chunk);
    ByteChunk shortChunk;
    shortChunk.PutBytes(chunk.GetBytes(), 8 * (kParams - 1) + 5); // 12 values and a partial one
    SetValues(0.5);
    const double kept = plug.GetParam(kParams - 1)->Value();
    plug.mLog.clear();
    EXPECT_EQ(plug.UnserializeParams(&shortChunk, 0), -1);
    for (int i = 0; i < kParams - 1; ++i)
        EXPECT_EQ(plug.GetParam(i)->Value(), ValueFor(plug.GetParam(i), i, 0.0));
    EXPECT_EQ(plug.GetParam(kParams - 1)->Value(), kept);
    EXPECT_EQ(plug.mLog.size(), static_cast<size_t>(kParams)) << "every parameter is announced";

    EXPECT_EQ(plug.UnserializeParams(&chunk, -8), -1);
    EXPECT_EQ(plug.UnserializeParams(nullptr, 0), -1);
}

TEST_F(IEffectBaseState, CompareStateInSinglePrecision) {
    double state[kParams + 2] = {};
    for (int i = 0; i < kParams; ++i) state[2 + i] = plug.GetParam(i)->Value() + 1e-12;
    EXPECT_TRUE(plug.CompareState(state, 2));
    state[2 + 5] += 0.01;
    EXPECT_FALSE(plug.CompareState(state, 2));
    EXPECT_FALSE(plug.CompareState(state + 2, -2)) << "no read before the state";
    EXPECT_FALSE(plug.CompareState(nullptr, 0));
    TestEffect none("1-1-0");
    EXPECT_TRUE(none.CompareState(state, 0));
}

TEST_F(IEffectBaseState, DefaultPresetHoldsDefaults) {
    plug.MakeDefaultPreset("-", 1);
    EXPECT_STREQ(plug.GetPresetName(0), "-");
    SetValues(0.2);
    ASSERT_TRUE(plug.RestorePresetByName("-"));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(plug.GetParam(i)->Value(), plug.GetParam(i)->GetDefault());
    EXPECT_EQ(plug.GetParam(4)->Value(), 100.0);
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 0);
}

class IEffectBasePresets : public IEffectBaseState {
protected:
    IEffectBasePresets() : IEffectBaseState(4) {}
};

TEST_F(IEffectBasePresets, MakeDefaultPresetFillsFreeSlots) {
    plug.MakeDefaultPreset(nullptr, 1);
    plug.MakeDefaultPreset("Two", 2);
    plug.MakeDefaultPreset("Full", 5); // one slot left
    const char* names[] = {"Empty", "Two", "Two", "Full"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(plug.GetPresetName(i), names[i]);
        EXPECT_TRUE(plug.GetPreset(i)->mInitialized);
        EXPECT_EQ(plug.GetPreset(i)->mChunk.Size(), 8 * kParams);
    }
}

TEST_F(IEffectBasePresets, RestoreByIndexAndName) {
    plug.MakeDefaultPreset("A", 1);
    SetValues(0.3);
    const double changed = plug.GetParam(0)->Value();

    // A never-initialised slot captures the current state as a user preset.
    plug.mLog.clear();
    EXPECT_TRUE(plug.RestorePreset(2));
    EXPECT_STREQ(plug.GetPresetName(2), "user preset 1");
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 2);
    EXPECT_EQ(plug.mLog, std::vector<std::string>({"PresetsChanged"}));
    EXPECT_TRUE(plug.RestorePreset(1));
    EXPECT_STREQ(plug.GetPresetName(1), "user preset 2");

    EXPECT_TRUE(plug.RestorePresetByName("A"));
    EXPECT_EQ(plug.GetParam(0)->Value(), 0.0);
    EXPECT_TRUE(plug.RestorePresetByName("user preset 1"));
    EXPECT_EQ(plug.GetParam(0)->Value(), changed);

    for (const char* bad : {"a", "A ", "user preset", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(plug.RestorePresetByName(bad)) << (bad ? bad : "null");
    EXPECT_FALSE(plug.RestorePreset(-1));
    EXPECT_FALSE(plug.RestorePreset(4));
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 2);
}

TEST_F(IEffectBasePresets, RestoreOfEmptyChunkFails) {
    plug.MakeDefaultPreset("A", 1);
    ByteChunk& chunk = const_cast<IPreset*>(plug.GetPreset(0))->mChunk;
    chunk.Clear();
    EXPECT_FALSE(plug.RestorePreset(0));
}

TEST_F(IEffectBasePresets, PruneKeepsInitialisedInOrder) {
    plug.RestorePreset(1);
    plug.RestorePreset(3);
    plug.PruneUninitializedPresets();
    ASSERT_EQ(plug.NPresets(), 2);
    EXPECT_STREQ(plug.GetPresetName(0), "user preset 1");
    EXPECT_STREQ(plug.GetPresetName(1), "user preset 2");
}

TEST_F(IEffectBasePresets, PresetsChunkRoundTrips) {
    plug.MakeDefaultPreset("Default", 1);
    SetValues(0.4);
    plug.RestorePreset(2);
    plug.ModifyCurrentPreset("Mine");
    EXPECT_STREQ(plug.GetPresetName(2), "Mine");

    ByteChunk chunk;
    ASSERT_TRUE(plug.SerializePresets(&chunk));
    // Per slot: int32 length, name, flag byte, state when initialised.
    const int expected =
        (4 + 7 + 1 + 8 * kParams) + (4 + 5 + 1) + (4 + 4 + 1 + 8 * kParams) + (4 + 5 + 1);
    EXPECT_EQ(chunk.Size(), expected);

    TestEffect other("1-1-0 2-2-0", kParams, 4);
    for (int i = 0; i < kParams; ++i) {
        const IParam* p = plug.GetParam(i);
        other.GetParam(i)->InitDouble(p->GetName(), p->GetDefault(), p->GetMin(), p->GetMax(),
                                      p->GetStep());
    }
    EXPECT_EQ(other.UnserializePresets(&chunk, 0), chunk.Size());
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(other.GetPresetName(i), plug.GetPresetName(i));
        EXPECT_EQ(other.GetPreset(i)->mInitialized, plug.GetPreset(i)->mInitialized);
        EXPECT_EQ(other.GetPreset(i)->mChunk.Size(), plug.GetPreset(i)->mChunk.Size());
    }
    // The current slot (0) is restored at the end.
    EXPECT_EQ(other.GetParam(0)->Value(), 0.0);

    // A truncated presets chunk stops with -1 and leaves the later slots alone.
    ByteChunk cut;
    cut.PutBytes(chunk.GetBytes(), 20);
    TestEffect third("1-1-0", kParams, 2);
    EXPECT_EQ(third.UnserializePresets(&cut, 0), -1);
    EXPECT_STREQ(third.GetPresetName(1), "empty");
}

} // namespace
