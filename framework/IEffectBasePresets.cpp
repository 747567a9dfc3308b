// IEffectBase: the state chunk and the preset slots.
#include "framework/IEffectBase.h"

#include "framework/Trace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kUserPresetName = "user preset";
} // namespace

bool IEffectBase::SerializeState(ByteChunk* chunk) {
    FW_TRACE();
    return SerializeParams(chunk);
}

int IEffectBase::UnserializeState(ByteChunk* chunk, int startPos) {
    FW_TRACE();
    return UnserializeParams(chunk, startPos);
}

bool IEffectBase::SerializeParams(ByteChunk* chunk) {
    FW_TRACE();
    if (!chunk) return false;
    KIT_Mutex::ScopedLock lock(&mMutex);
    for (int i = 0; i < NParams(); ++i) {
        const double value = GetParam(i)->Value();
        if (chunk->Put(&value) <= 0) return false;
    }
    return true;
}

int IEffectBase::UnserializeParams(ByteChunk* chunk, int startPos) {
    FW_TRACE();
    if (!chunk) return -1;
    KIT_Mutex::ScopedLock lock(&mMutex);
    int pos = startPos;
    for (int i = 0; i < NParams() && pos >= 0; ++i) {
        double value = 0.0;
        pos = chunk->Get(&value, pos);
        // A parameter the chunk does not reach keeps its value, and so does
        // one whose stored value is not a number.
        if (pos < 0) break;
        if (std::isnan(value)) continue;
        IParam* param = GetParam(i);
        param->Set(value < param->GetMin() ? param->GetMin() : std::min(value, param->GetMax()));
    }
    for (int i = 0; i < NParams(); ++i) OnParamChange(i);
    return pos < 0 ? -1 : pos;
}

bool IEffectBase::CompareState(const double* state, int startPos) {
    FW_TRACE();
    if (!state || startPos < 0) return NParams() == 0;
    for (int i = 0; i < NParams(); ++i) {
        const float current = static_cast<float>(GetParam(i)->Value());
        const float stored = static_cast<float>(state[startPos + i]);
        if (!(std::fabs(current - stored) < 1e-5f)) return false;
    }
    return true;
}

const char* IEffectBase::GetPresetName(int idx) const {
    FW_TRACE();
    const IPreset* preset = mPresets.Get(idx);
    return preset ? preset->mName : "";
}

bool IEffectBase::CaptureState(IPreset* preset) {
    FW_TRACE();
    preset->mChunk.Clear();
    return SerializeState(&preset->mChunk);
}

void IEffectBase::MakeDefaultPreset(const char* name, int count) {
    FW_TRACE();
    for (int n = 0; n < count; ++n) {
        IPreset* slot = nullptr;
        for (int i = 0; i < NPresets() && !slot; ++i)
            if (!mPresets.Get(i)->mInitialized) slot = mPresets.Get(i);
        if (!slot) return;
        slot->mInitialized = true;
        slot->SetName(name ? name : "Empty");
        SerializeState(&slot->mChunk);
    }
}

void IEffectBase::MakeDefaultUserPresetName(char* out, int outSize) const {
    FW_TRACE();
    int count = 0;
    for (int i = 0; i < NPresets(); ++i)
        if (std::strstr(mPresets.Get(i)->mName, kUserPresetName)) ++count;
    std::snprintf(out, static_cast<size_t>(outSize), "%s %d", kUserPresetName, count + 1);
}

void IEffectBase::PruneUninitializedPresets() {
    FW_TRACE();
    for (int i = 0; i < NPresets();) {
        if (!mPresets.Get(i)->mInitialized)
            mPresets.Delete(i, true);
        else
            ++i;
    }
}

bool IEffectBase::RestorePreset(int idx) {
    FW_TRACE();
    IPreset* preset = mPresets.Get(idx);
    if (!preset) return false;
    if (!preset->mInitialized) {
        preset->mInitialized = true;
        char name[IPreset::kNameSize];
        MakeDefaultUserPresetName(name, sizeof name);
        preset->SetName(name);
        if (!SerializeState(&preset->mChunk)) return false;
    } else if (UnserializeState(&preset->mChunk, 0) <= 0) {
        return false;
    }
    mCurrentPresetIdx = idx;
    PresetsChangedByHost();
    RedrawParamControls();
    return true;
}

bool IEffectBase::RestorePresetByName(const char* name) {
    FW_TRACE();
    if (!name || !name[0]) return false;
    for (int i = 0; i < NPresets(); ++i)
        if (std::strcmp(mPresets.Get(i)->mName, name) == 0) return RestorePreset(i);
    return false;
}

void IEffectBase::ModifyCurrentPreset(const char* name) {
    FW_TRACE();
    IPreset* preset = mPresets.Get(mCurrentPresetIdx);
    if (!preset) return;
    CaptureState(preset);
    if (name && name[0]) preset->SetName(name);
}

bool IEffectBase::SerializePresets(ByteChunk* chunk) {
    FW_TRACE();
    if (!chunk) return false;
    for (int i = 0; i < NPresets(); ++i) {
        const IPreset* preset = mPresets.Get(i);
        if (chunk->PutStr(preset->mName) <= 0) return false;
        if (chunk->PutBool(preset->mInitialized) <= 0) return false;
        if (preset->mInitialized && chunk->PutChunk(preset->mChunk) <= 0) return false;
    }
    return true;
}

int IEffectBase::UnserializePresets(ByteChunk* chunk, int startPos) {
    FW_TRACE();
    if (!chunk) return -1;
    int pos = startPos;
    for (int i = 0; i < NPresets() && pos >= 0; ++i) {
        IPreset* preset = mPresets.Get(i);
        char name[IPreset::kNameSize];
        pos = chunk->GetStr(name, sizeof name, pos);
        if (pos < 0) break;
        preset->SetName(name);
        pos = chunk->GetBool(&preset->mInitialized, pos);
        if (pos >= 0 && preset->mInitialized) {
            pos = UnserializeState(chunk, pos);
            if (pos > 0) CaptureState(preset);
        }
    }
    RestorePreset(mCurrentPresetIdx);
    return pos;
}
