#include "framework/IParam.h"

#include "framework/Trace.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
// ln(10) / 20: decibels to the natural-log exponent of the amplitude.
constexpr double kDBToAmpFactor = 0.1151292546497;
} // namespace

void IParam::CopyText(char* dst, const char* src) {
    FW_TRACE();
    if (!src) src = "";
    std::strncpy(dst, src, kTextSize - 1);
    dst[kTextSize - 1] = '\0';
}

int IParam::ToIntClamped(double value) {
    FW_TRACE();
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

void IParam::InitBool(const char* name, bool defaultValue, const char* label, const char* group) {
    FW_TRACE();
    if (mType == kTypeNone) mType = kTypeBool;
    InitInt(name, defaultValue ? 1 : 0, 0, 1, label, group);
    SetDisplayText(0, "off");
    SetDisplayText(1, "on");
}

void IParam::InitEnum(const char* name, int defaultValue, int count, const char* label,
                      const char* group) {
    FW_TRACE();
    if (mType == kTypeNone) mType = kTypeEnum;
    InitInt(name, defaultValue, 0, count - 1, label, group);
}

void IParam::InitInt(const char* name, int defaultValue, int minValue, int maxValue,
                     const char* label, const char* group) {
    FW_TRACE();
    if (mType == kTypeNone) mType = kTypeInt;
    InitDouble(name, defaultValue, minValue, maxValue, 1.0, label, group, 1.0);
}

void IParam::InitDouble(const char* name, double defaultValue, double minValue, double maxValue,
                        double step, const char* label, const char* group, double shape) {
    FW_TRACE();
    if (mType == kTypeNone) mType = kTypeDouble;
    CopyText(mName, name);
    CopyText(mLabel, label);
    CopyText(mGroup, group);

    mValue = defaultValue;
    mMin = minValue;
    mMax = std::max(minValue + step, maxValue);
    mStep = step;
    mDefault = defaultValue;

    // One decimal per factor of ten until the step is whole.
    mDisplayPrecision = 0;
    for (double s = step; mDisplayPrecision < kMaxDisplayPrecision && s != std::floor(s); s *= 10.0)
        ++mDisplayPrecision;

    SetShape(shape);
}

void IParam::SetDisplayText(int value, const char* text) {
    FW_TRACE();
    DisplayText entry{};
    entry.mValue = value;
    CopyText(entry.mText, text);
    mDisplayTexts.Add(&entry, 1);
}

void IParam::SetShape(double shape) {
    FW_TRACE();
    if (shape != 0.0) mShape = shape;
}

void IParam::SetNormalized(double normalized) {
    FW_TRACE();
    mValue = mMin + (mMax - mMin) * std::pow(normalized, mShape);
    if (mType != kTypeDouble) mValue = std::floor(mValue / mStep + 0.5) * mStep;
    mValue = std::min(mValue, mMax);
}

double IParam::GetNormalized(double value) const {
    FW_TRACE();
    const double range = mMax - mMin;
    if (!(range > 0.0)) return 0.0; // max == min only through a zero step
    const double clamped = value < mMin ? mMin : std::min(value, mMax);
    return std::pow((clamped - mMin) / range, 1.0 / mShape);
}

double IParam::GetNonNormalized(double normalized) const {
    FW_TRACE();
    return mMin + (mMax - mMin) * std::pow(normalized, mShape);
}

double IParam::DBToAmp() const {
    FW_TRACE();
    return std::exp(mValue * kDBToAmpFactor);
}

void IParam::GetDisplayForHost(double value, bool normalized, char* out, int outSize,
                               bool withDisplayText) const {
    FW_TRACE();
    if (!out || outSize < 1) return;
    if (normalized) value = GetNonNormalized(value);

    if (withDisplayText) {
        const char* text = GetDisplayTextForValue(ToIntClamped(value));
        if (text[0]) {
            std::snprintf(out, static_cast<size_t>(outSize), "%s", text);
            return;
        }
    }

    if (mNegateDisplay) value = -value;

    if (mDisplayPrecision > 0)
        std::snprintf(out, static_cast<size_t>(outSize), "%.*f", mDisplayPrecision, value);
    else
        std::snprintf(out, static_cast<size_t>(outSize), "%d", ToIntClamped(value));
}

const char* IParam::GetDisplayTextForValue(int value) const {
    FW_TRACE();
    const int n = mDisplayTexts.GetSize();
    for (int i = 0; i < n; ++i)
        if (mDisplayTexts[i].mValue == value) return mDisplayTexts[i].mText;
    return "";
}

const char* IParam::GetDisplayLabel() const {
    FW_TRACE();
    const char* text = GetDisplayTextForValue(ToIntClamped(mValue));
    return text[0] ? "" : mLabel;
}

const char* IParam::GetDisplayTextAtIndex(int i, int* value) const {
    FW_TRACE();
    if (i < 0 || i >= mDisplayTexts.GetSize()) return "";
    if (value) *value = mDisplayTexts[i].mValue;
    return mDisplayTexts[i].mText;
}

bool IParam::FindDisplayTextValue(const char* text, int* value) const {
    FW_TRACE();
    if (!text) return false;
    const int n = mDisplayTexts.GetSize();
    for (int i = 0; i < n; ++i) {
        if (std::strcmp(mDisplayTexts[i].mText, text) == 0) {
            if (value) *value = mDisplayTexts[i].mValue;
            return true;
        }
    }
    return false;
}

void IParam::GetBounds(double* minValue, double* maxValue) const {
    FW_TRACE();
    if (minValue) *minValue = mMin;
    if (maxValue) *maxValue = mMax;
}
