#pragma once
// One preset slot of the plug-in: a name and the state chunk it restores.
// A slot that was never filled is uninitialised and restores nothing.
#include "framework/ByteChunk.h"

#include <cstring>

struct IPreset {
    static constexpr int kNameSize = 256; // bytes with the NUL

    IPreset() { std::strcpy(mName, "empty"); }
    IPreset(const IPreset&) = delete;
    IPreset& operator=(const IPreset&) = delete;

    // Copies name, cut to kNameSize - 1 bytes; null counts as "".
    void SetName(const char* name) {
        std::strncpy(mName, name ? name : "", kNameSize - 1);
        mName[kNameSize - 1] = '\0';
    }

    bool mInitialized = false;
    char mName[kNameSize];
    ByteChunk mChunk;
};
