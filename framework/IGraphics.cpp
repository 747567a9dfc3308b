#include "framework/IGraphics.h"

IGraphics::~IGraphics() = default;

void IGraphics::ResourcesFolderPath(KIT_String& out) {
    // "/dummy.txt" is 10 characters: the folder is what precedes it. The marker
    // is only located, never read.
    static constexpr int kMarkerSuffixLength = 10;
    KIT_String tmp;
    tmp.Set("");
    ResourcePath(tmp, "dummy.txt");
    const int length = tmp.GetLength();
    if (length > kMarkerSuffixLength)
        out.Set(tmp.Get(), length - kMarkerSuffixLength);
    else
        out.Set("");
}
