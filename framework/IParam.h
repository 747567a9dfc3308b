#pragma once
// One automatable plug-in parameter. The value is stored in plain units; the
// host and the GUI exchange normalised values in [0, 1] through the shape
// curve: plain = min + (max - min) * n^shape.
// Not thread-safe by itself: the plug-in base guards its parameters with the
// plug-in mutex.
#include "toolkit/KIT_TypedBuf.h"

#include <cstdint>

class IParam {
public:
    enum EParamType { kTypeNone = 0, kTypeBool = 1, kTypeInt = 2, kTypeEnum = 3, kTypeDouble = 4 };

    // Name, label, group and display texts hold up to 31 bytes and the NUL;
    // longer texts are cut.
    static constexpr int kTextSize = 32;
    // Most decimals a step can ask for.
    static constexpr int kMaxDisplayPrecision = 6;

    struct DisplayText {
        int32_t mValue;
        char mText[kTextSize];
    };

    IParam() = default;
    IParam(const IParam&) = delete;
    IParam& operator=(const IParam&) = delete;

    // [construction] allocates (display texts). The Init calls set the type
    // only while it is still kTypeNone, so a bool keeps kTypeBool through the
    // InitInt and InitDouble calls it makes. Null texts count as empty.
    void InitBool(const char* name, bool defaultValue, const char* label = "",
                  const char* group = "");
    // Values 0 .. count - 1; the caller adds the texts with SetDisplayText.
    void InitEnum(const char* name, int defaultValue, int count, const char* label = "",
                  const char* group = "");
    void InitInt(const char* name, int defaultValue, int minValue, int maxValue,
                 const char* label = "", const char* group = "");
    // max becomes at least min + step; the display precision is the number of
    // decimals of step (at most kMaxDisplayPrecision); shape 0 keeps the shape.
    void InitDouble(const char* name, double defaultValue, double minValue, double maxValue,
                    double step, const char* label = "", const char* group = "",
                    double shape = 1.0);

    // [construction] allocates. Appends a text for value; an earlier text for
    // the same value wins lookups.
    void SetDisplayText(int value, const char* text);
    // Ignores 0.
    void SetShape(double shape);
    // Stores value as given, without clamping.
    void Set(double value) { mValue = value; }
    // [any thread, under the plug-in mutex] no allocation. Non-double types
    // round to the step; the result is clamped at max only (n is not
    // clamped, so n < 0 can go below min).
    void SetNormalized(double normalized);

    // Value clamped into [min, max], mapped through the inverse shape to [0, 1].
    // 0 for an empty range.
    double GetNormalized() const { return GetNormalized(mValue); }
    double GetNormalized(double value) const;
    // min + (max - min) * n^shape, neither rounded nor clamped.
    double GetNonNormalized(double normalized) const;

    double Value() const { return mValue; }
    // [audio thread] no allocation, no locks. The value read as decibels, as
    // an amplitude factor: exp(value * ln(10) / 20).
    double DBToAmp() const;

    // [host thread] no allocation. Writes the text shown to the host for
    // value (plain, or normalised when normalized) into out, at most outSize
    // bytes with the NUL (nothing when out is null or outSize < 1). With
    // withDisplayText a non-empty display text for the value (truncated to
    // int) is written instead of the number.
    void GetDisplayForHost(double value, bool normalized, char* out, int outSize,
                           bool withDisplayText = true) const;

    // First display text for value, else "".
    const char* GetDisplayTextForValue(int value) const;
    // "" when the current value has a non-empty display text, else the label.
    const char* GetDisplayLabel() const;
    int GetNumDisplayTexts() const { return mDisplayTexts.GetSize(); }
    // Text i and, when value is not null, its value; "" (value untouched) when
    // i is out of range.
    const char* GetDisplayTextAtIndex(int i, int* value) const;
    // Exact, case-sensitive match of the first equal text; false when none.
    bool FindDisplayTextValue(const char* text, int* value) const;

    void GetBounds(double* minValue, double* maxValue) const;

    EParamType Type() const { return mType; }
    const char* GetName() const { return mName; }
    const char* GetLabel() const { return mLabel; }
    const char* GetGroup() const { return mGroup; }
    double GetMin() const { return mMin; }
    double GetMax() const { return mMax; }
    double GetStep() const { return mStep; }
    double GetShape() const { return mShape; }
    double GetDefault() const { return mDefault; }
    int GetDisplayPrecision() const { return mDisplayPrecision; }
    bool GetCanAutomate() const { return mCanAutomate; }
    bool GetIsMeta() const { return mIsMeta; }
    void SetNegateDisplay(bool negate) { mNegateDisplay = negate; }

    // A double truncated toward zero, clamped into the int range (NaN gives 0).
    static int ToIntClamped(double value);

private:
    static void CopyText(char* dst, const char* src);

    EParamType mType = kTypeNone;
    double mValue = 0.0;
    double mMin = 0.0;
    double mMax = 1.0;
    double mStep = 1.0;
    double mShape = 1.0;
    double mDefault = 0.0;
    int mDisplayPrecision = 0;
    char mName[kTextSize] = {};
    char mLabel[kTextSize] = {};
    char mGroup[kTextSize] = {};
    bool mNegateDisplay = false;
    bool mCanAutomate = true;
    bool mIsMeta = false;
    KIT_TypedBuf<DisplayText> mDisplayTexts;
};
